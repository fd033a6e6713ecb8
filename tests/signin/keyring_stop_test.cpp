// A keyring that takes calls and never answers (a stand-in owning the Secret Service name on the
// private bus of keyring.sh, TARNWICK_KEYRING=stalled): the stop of the run ends the wait, on the
// application's thread and on a cycle's thread alike, and is not taken for a missing keyring.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusVirtualObject>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/signin/SecretStore.h"
#include "net/MailAbort.h"

namespace tarnwick::test {
namespace {

class TSilentSecrets : public QDBusVirtualObject {
public:
    std::atomic<int> Calls{0};
    bool handleMessage(const QDBusMessage&, const QDBusConnection&) override {
        ++Calls;
        return true;  // taken, and never answered
    }
    QString introspect(const QString&) const override { return {}; }
};

// The keyring library keeps its first, unanswered call for every later one: keyring.sh runs each
// test in a process (and on a bus) of its own.
void StopEndsTheCall(bool cycleThread) {
    const char* mode = std::getenv("TARNWICK_KEYRING");
    if (mode == nullptr || std::string(mode) != "stalled") GTEST_SKIP() << "run through keyring.sh";
    static int argc = 1;
    static char name[] = "signin_tests";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
    TSilentSecrets stub;
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "silent-secrets");
    ASSERT_TRUE(bus.registerVirtualObject("/", &stub, QDBusConnection::SubPath) &&
                bus.registerService("org.freedesktop.secrets"));

    TSecretStore store("Tarnwick test");
    store.TimeoutMs = 10 * 60 * 1000;  // only the stop may end it
    std::vector<std::string> log;
    store.OnLog = [&](const std::string& line) { log.push_back(line); };
    TMailAbort abort;
    std::atomic<bool> finished{false};
    std::thread stopper([&] {
        while (!finished && stub.Calls == 0) std::this_thread::yield();
        abort.Abort();
    });
    bool available = true;
    auto call = [&] {
        TAbortScope scope(abort);
        available = store.Available();
        finished = true;
    };
    if (cycleThread) {
        std::thread cycle(call);
        // The window's thread goes on with its events meanwhile.
        while (!finished) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        cycle.join();
    } else {
        call();
    }
    stopper.join();
    EXPECT_FALSE(available);
    EXPECT_TRUE(log.empty()) << "a stop is not a missing keyring";
}

TEST(KeyringStop, OnTheApplicationsThread) { StopEndsTheCall(false); }
TEST(KeyringStop, FromACyclesThread) { StopEndsTheCall(true); }

}  // namespace
}  // namespace tarnwick::test
