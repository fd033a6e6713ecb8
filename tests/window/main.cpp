// GUI tests run with a QApplication on the offscreen platform, in a private runtime folder.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "support/TempDir.h"

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const tarnwick::test::ScratchFolder runtime("window-tests");
    setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
