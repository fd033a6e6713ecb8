# What `cmake --install` puts where, and the Debian package made from it (scripts/package).
include(GNUInstallDirs)

install(TARGETS tarnwick RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES assets/tarnwick.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES assets/org.tarnwick.tarnwick.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES assets/icons/tarnwick.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES assets/icons/tarnwick-${size}.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME tarnwick.png)
endforeach()
install(FILES assets/tarnwick.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES assets/tarnwick.ja.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/ja/man1 RENAME tarnwick.1)
# The window points to them for what the settings need from outside (a sign-in's client ID).
install(FILES README.md README.ja.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarnwick)
# The user unit runs the installed program; systemd looks in <prefix>/lib/systemd/user for /usr and /usr/local.
set(TARNWICK_BIN ${CMAKE_INSTALL_FULL_BINDIR}/tarnwick)
configure_file(assets/tarnwick.service ${CMAKE_BINARY_DIR}/tarnwick.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/tarnwick.service DESTINATION lib/systemd/user)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnwick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tarnwick developers <tarnwick@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "forwards new POP3 mail to one address (a phone)")
set(CPACK_PACKAGE_DESCRIPTION "Tarnwick watches one POP3 mailbox and sends every new message on, unchanged,
through an SMTP server to one address. It lives in the notification area, or runs
without a desktop as a systemd user service (tarnwick --watch).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
# Library dependencies come from the executable; the display plugins and the font are loaded at run time.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# The keyring library is loaded at run time; without it secrets stay in the settings file.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk, libsecret-1-0")
set(CPACK_OUTPUT_FILE_PREFIX package)
include(CPack)
