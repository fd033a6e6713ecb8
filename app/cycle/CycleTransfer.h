#pragma once
// The second part of a forwarding cycle: for each message planned, retrieve it (or make its
// notice), send it on and record it once accepted. Where the mailbox reads ahead and the outbox
// queues, the next message is asked for while one is sent on and the replies of one are read
// once the next one is on its way; the steps are the same either way.
#include <deque>
#include <string>

#include "app/cycle/CycleContext.h"
#include "message/MailMessage.h"

namespace tarnwick {

class EMailException;
class TMailbox;
class TOutbox;

class TCycleTransfer {
public:
    TCycleTransfer(TCycleContext& cycle, TMailbox& mailbox, TOutbox& outbox)
        : cycle_(cycle), mailbox_(mailbox), outbox_(outbox) {}

    // Forwards every planned message; false when a login on the way failed (Report.End says
    // which, and it was logged).
    bool Forward();

private:
    struct TSentOn {
        size_t Index;
        std::string Subject;      // code page 932, for error texts
        std::string SubjectUtf8;  // for the log
    };
    enum class TRetrieved { Ok, Skipped, LoginFailed };

    // Until every message is settled; a connection the receiver ended puts what it had not
    // answered back in line.
    bool Drive();
    bool IsNotice(size_t i) const;
    TRetrieved Retrieve(size_t i);
    bool ReadWhole(size_t i);
    void Send(size_t i);
    // A refusal for good: the message waits, and is said.
    void Refused(const TSentOn& sent, const EMailException& e);
    // The oldest message sent on: recorded when accepted, skipped when refused for good. It stays
    // queued when the connection ended under it, to be sent again.
    void Settle();
    void Record(const TSentOn& sent);
    // Whether the receiver ended this connection after it took messages on it. A cut from
    // outside is not such an end.
    bool ConnectionEnded(const EMailException& e) const;
    bool Reconnect(const EMailException& e);
    std::string Sending(size_t i, const std::string& subject) const;

    TCycleContext& cycle_;
    TMailbox& mailbox_;
    TOutbox& outbox_;
    std::deque<size_t> pending_;  // indexes into New still to retrieve, in order
    std::deque<TSentOn> sentOn_;  // queued to the outbox, acceptance not read yet
    int current_ = -1;            // the message being sent, before it is queued or settled
    int acceptedOnConnection_ = 0;
    TMailMessage message_;
};

}  // namespace tarnwick
