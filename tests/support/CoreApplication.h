#pragma once
// The one QCoreApplication of a test program that uses Qt's networking, timers or the keyring
// without a window. Made on first use and kept for the life of the process.
#include <QCoreApplication>

namespace tarnwick::test {

inline void EnsureCoreApplication() {
    if (QCoreApplication::instance() != nullptr) return;
    static int argc = 1;
    static char name[] = "tarnwick_tests";
    static char* argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
}

}  // namespace tarnwick::test
