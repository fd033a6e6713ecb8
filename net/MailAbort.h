#pragma once
// Ending a session from another thread. The transports of one TMailAbort are socket transports that
// let any thread shut their open socket down, so a read or write blocked on a silent or trickling
// server returns at once (as a closed connection), and that refuse to connect once aborted.
#include <mutex>
#include <set>
#include <string>

#include "net/MailExceptions.h"
#include "net/MailIOHandlerSSL.h"

namespace tarnwick {

class TMailAbort {
public:
    // Any thread: shuts every open socket of the group down; later connects fail.
    void Abort();
    bool Aborted() const;

private:
    friend class TMailIOHandlerAbortable;
    // False (and nothing registered) once aborted.
    bool Register(int socket);
    void Unregister(int socket);

    mutable std::mutex mutex_;
    bool aborted_ = false;
    std::set<int> sockets_;
};

// A connect asked for after the group was aborted, or under way when it was.
class EMailAborted : public EMailException {
public:
    EMailAborted() : EMailException("Aborted.", TMailErrorKind::Stopped) {}
};

class TMailIOHandlerAbortable : public TMailIOHandlerSSL {
public:
    explicit TMailIOHandlerAbortable(TMailAbort& abort) : abort_(abort) {}
    ~TMailIOHandlerAbortable() override;

    void Close() override;
    // A connect without a time-out still runs on the connect thread, so that Abort can end it.
    void ConnectTo(const std::string& host, int port, const std::string& boundIP, int boundPort, int boundPortMin,
                   int boundPortMax, int timeout) override;
    // Raises EMailAborted once the group was aborted: a connect in progress ends within a slice.
    void CheckConnectAborted() override;

private:
    TMailAbort& abort_;
    int registered_ = -1;  // the socket the group may shut down, -1 when none
};

}  // namespace tarnwick
