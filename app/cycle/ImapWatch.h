#pragma once
// The watch when mail is read through IMAP, one loop for the window and --watch: a cycle, then the
// session stays open and waits in IDLE for the server's news (NOOP on the interval where IDLE is not
// offered), and the next cycle follows at once. The interval only bounds how long a silent session
// is trusted. A session the server ends or that is lost is logged into again after a wait that
// doubles from 1 s to 5 min, said once.
#include <functional>
#include <string>

#include "app/cycle/CycleReport.h"
#include "app/settings/Settings.h"

namespace tarnwick {

class TForwardingCycle;

class TImapWatch {
public:
    using TEach = std::function<void(const TCycleReport& report)>;

    explicit TImapWatch(TForwardingCycle& cycle) : cycle_(cycle) {}

    // Until keepGoing says no (asked after each cycle and each wait) or the cycle is aborted; each
    // receives the report of every cycle, an error that left it included. A stop reaches the wait
    // through the cycle's Wake or its abort. Logs off at the end.
    void Run(const TSettings& settings, const std::function<bool()>& keepGoing, const TEach& each);

    // How long one IDLE lasts before it is renewed: the interval, at most 29 minutes (RFC 2177).
    static int IdleSeconds(int intervalMinutes);
    static constexpr int kFirstRetrySeconds = 1;
    static constexpr int kLastRetrySeconds = 300;

private:
    enum class TNews { Changed, Quiet, Woken, Lost };
    TNews Wait(const TSettings& settings);
    // Quiet logins after the waits, until one stands, keepGoing says no, or the server refuses
    // the login (the next cycle then logs in aloud and says why).
    void Reconnect(const TSettings& settings, const std::function<bool()>& keepGoing);
    void SayLost(const TSettings& settings, const std::string& why);

    TForwardingCycle& cycle_;
    int retrySeconds_ = kFirstRetrySeconds;
    bool lostSaid_ = false;
};

}  // namespace tarnwick
