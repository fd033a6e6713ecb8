// GUI tests run with a QApplication on the offscreen platform, in a private runtime folder.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::string runtime = "/tmp/tarnwick-gui-tests-XXXXXX";
    if (mkdtemp(runtime.data())) setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    if (std::system(("rm -rf '" + runtime + "'").c_str()) != 0) {
    }
    return status;
}
