#pragma once
// The IMAP connection's transport. Besides the abort of the whole cycle, a wake from any thread
// ends the wait for the server's news under way (it shuts the socket down, so a blocked IDLE read
// returns; the session is logged into afresh) or, when none is, the next one at once.
#include <condition_variable>
#include <mutex>

#include "net/MailAbort.h"

namespace tarnwick {

class TImapTransport : public TMailIOHandlerAbortable {
public:
    using TMailIOHandlerAbortable::TMailIOHandlerAbortable;

    void ConnectTo(const std::string& host, int port, const std::string& boundIP, int boundPort, int boundPortMin,
                   int boundPortMax, int timeout) override;
    void Close() override;

    // Any thread.
    void Wake();
    // Before a wait: false (and the wake taken) when one came since the last wait.
    bool Arm();
    // After it: whether a wake ended it (taken).
    bool Disarm();
    // Sleeps up to seconds; false when a wake ended it (or had come before).
    bool Sleep(int seconds);
    // Forgets a wake that came while no wait was on.
    void Forget();

private:
    std::mutex mutex_;
    std::condition_variable woken_;
    int socket_ = -1;
    bool armed_ = false;
    bool wake_ = false;
};

}  // namespace tarnwick
