# The Qt program: the toolkit stand-ins (platform/qt), the tray icon (tray), the window and controller
# (app) and the executable, plus the GUI tests and the end-to-end test under Xvfb.
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets Network Test)
# The desktop keyring (Secret Service / KWallet) for passwords and refresh tokens.
find_package(Qt6Keychain REQUIRED)

# OAuth 2.0 sign-in: no client ID is built in unless a distributor registers one.
set(TARNWICK_MICROSOFT_CLIENT_ID "" CACHE STRING "OAuth client ID registered at Microsoft for this build (empty: none)")
set(TARNWICK_GOOGLE_CLIENT_ID "" CACHE STRING "OAuth client ID registered at Google for this build (empty: none)")

# Every .cpp and .h under dir, except main.cpp and the one folder given after EXCLUDE.
function(tarnwick_qt_library name dir)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "EXCLUDE" "")
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.h)
  list(FILTER srcs EXCLUDE REGEX "/main\\.cpp$")
  if(arg_EXCLUDE)
    list(FILTER srcs EXCLUDE REGEX "/${dir}/${arg_EXCLUDE}/")
  endif()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${arg_UNPARSED_ARGUMENTS})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
endfunction()

tarnwick_qt_library(tarnwick_platform_qt platform/qt tarnwick_platform Qt6::Widgets)
tarnwick_qt_library(tarnwick_tray tray tarnwick_platform_qt)
# The application's rooms: the window's on top of one library of the others (the front doors'
# parts, cycle, sign-in, settings), which need no window, so that their tests build without it.
tarnwick_qt_library(tarnwick_app_core app EXCLUDE window tarnwick_net tarnwick_platform_qt Qt6::Network
                    Qt6Keychain::Qt6Keychain)
tarnwick_qt_library(tarnwick_app app/window tarnwick_app_core tarnwick_tray tarnwick_platform_qt Qt6::Widgets)
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/app/signin/OAuthProvider.cpp PROPERTIES COMPILE_DEFINITIONS
  "TARNWICK_MICROSOFT_CLIENT_ID=\"${TARNWICK_MICROSOFT_CLIENT_ID}\";TARNWICK_GOOGLE_CLIENT_ID=\"${TARNWICK_GOOGLE_CLIENT_ID}\"")

add_executable(tarnwick ${CMAKE_CURRENT_SOURCE_DIR}/app/main.cpp)
target_link_libraries(tarnwick PRIVATE tarnwick_app)
target_compile_definitions(tarnwick PRIVATE TARNWICK_VERSION="${PROJECT_VERSION}")
set_target_properties(tarnwick PROPERTIES AUTOMOC ON RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/app)
# The mail providers' table beside the built program, where it looks first (installed: share/tarnwick).
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/data/mail-providers.tsv ${CMAKE_BINARY_DIR}/app/mail-providers.tsv COPYONLY)
if(TARNWICK_UNIT_TESTS_ONLY)
  # Nothing there runs the window or the program.
  set_target_properties(tarnwick tarnwick_app tarnwick_tray PROPERTIES EXCLUDE_FROM_ALL ON)
endif()

# The window on the offscreen platform, the real program and the package's files (not in a tree
# built for the unit tests only).
if(TARNWICK_TESTS AND NOT TARNWICK_UNIT_TESTS_ONLY)
  enable_testing()
  find_package(GTest REQUIRED)
  include(GoogleTest)

  # The window's room: its tests run with a QApplication on the offscreen platform.
  file(GLOB window_test_srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/window/*.cpp
       ${CMAKE_CURRENT_SOURCE_DIR}/tests/window/*.h)
  add_executable(window_tests ${window_test_srcs})
  target_include_directories(window_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tests)
  target_link_libraries(window_tests PRIVATE tarnwick_app tarnwick_testsupport Qt6::Test GTest::gtest GTest::gmock)
  set_target_properties(window_tests PROPERTIES AUTOMOC ON)
  gtest_discover_tests(window_tests DISCOVERY_TIMEOUT 60
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS window ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

  # The real program and a single-instance lock that is not its own (needs no display).
  add_test(NAME instance_lock COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/e2e/instance_lock.sh $<TARGET_FILE:tarnwick>)
  set_tests_properties(instance_lock PROPERTIES LABELS e2e)

  # The command-line modes of the real program, without any display; the mail part against the
  # local servers.
  add_executable(tarnwick_stallserver ${CMAKE_CURRENT_SOURCE_DIR}/tests/e2e/stallserver.cpp)
  # The stand-in OAuth provider as a program, for --authorize.
  add_executable(tarnwick_tokenendpoint ${CMAKE_CURRENT_SOURCE_DIR}/tests/headless/tokenendpoint.cpp)
  target_link_libraries(tarnwick_tokenendpoint PRIVATE tarnwick_testsupport)
  add_test(NAME headless COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/headless/headless.sh $<TARGET_FILE:tarnwick>
                                 $<TARGET_FILE:tarnwick_stallserver> $<TARGET_FILE:tarnwick_tokenendpoint>)
  set_tests_properties(headless PROPERTIES LABELS headless TIMEOUT 300)

  # What `cmake --install` puts in place, checked by the desktop's own validators.
  add_test(NAME install_tree COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/install/install_tree.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(install_tree PROPERTIES LABELS install SKIP_RETURN_CODE 77)

  # End to end under Xvfb with a real tray host; skipped (77) when the X tools are missing.
  find_package(X11)
  if(X11_FOUND)
    add_executable(tarnwick_xhelper ${CMAKE_CURRENT_SOURCE_DIR}/tests/e2e/xhelper.cpp)
    target_link_libraries(tarnwick_xhelper PRIVATE X11::X11)
    add_test(NAME e2e
      COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/e2e/e2e.sh
              $<TARGET_FILE:tarnwick> $<TARGET_FILE:tarnwick_xhelper> ${CMAKE_BINARY_DIR}/e2e)
    set_tests_properties(e2e PROPERTIES LABELS e2e SKIP_RETURN_CODE 77 TIMEOUT 240 RUN_SERIAL ON)
    # The window and the menu answer while a server stalls; 終了 twice ends a stalled cycle.
    add_test(NAME e2e_responsive
      COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/e2e/responsive.sh
              $<TARGET_FILE:tarnwick> $<TARGET_FILE:tarnwick_xhelper> $<TARGET_FILE:tarnwick_stallserver>)
    set_tests_properties(e2e_responsive PROPERTIES LABELS e2e SKIP_RETURN_CODE 77 TIMEOUT 240 RUN_SERIAL ON)
  endif()
endif()

include(cmake/install.cmake)
