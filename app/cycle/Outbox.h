#pragma once
// Where the cycle sends mail to: one message at a time, or several without waiting for each
// acceptance where the receiver allows it.
#include <string>

namespace tarnwick {

class EMailException;
class TMailMessage;

class TOutbox {
public:
    virtual ~TOutbox() = default;

    // "SMTPサーバ(host as typed)": put in front of what failed there.
    virtual std::string Where() const = 0;

    // Hands the message over without waiting for its acceptance; false, with nothing sent, where
    // that cannot be done (then Send it, once everything queued is finished).
    virtual bool Queue(TMailMessage& message) = 0;
    // Settles the oldest queued message: raises its refusal or the failure met on the way.
    virtual void Finish() = 0;
    // Sends the message and waits for its acceptance; raises its refusal.
    virtual void Send(TMailMessage& message) = 0;
    // Closes and logs in again. False when the login failed (logged).
    virtual bool Reopen() = 0;

    // What a failure of Queue, Finish or Send was: the receiver ended the connection (a refusal
    // of its own or a close), or answered with a refusal at all.
    virtual bool Ended(const EMailException& e) const = 0;
    virtual bool Answered(const EMailException& e) const = 0;
    // A refusal as the log gives it.
    virtual std::string Reason(const EMailException& e) const = 0;
};

}  // namespace tarnwick
