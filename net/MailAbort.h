#pragma once
// Ending a session from another thread. The transports of one TMailAbort are socket transports that
// let any thread shut their open socket down, so a read or write blocked on a silent or trickling
// server returns at once (as a closed connection), and that refuse to connect once aborted.
// Every other wait on the outside (a token request, a keyring call) listens to the same abort.
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "net/MailExceptions.h"
#include "net/MailIOHandlerSSL.h"

namespace tarnwick {

class TMailAbort {
public:
    // Any thread: shuts every open socket of the group down, tells every listener; later connects fail.
    void Abort();
    bool Aborted() const;

    // A wait that must end on Abort: onAbort runs once, on the aborting thread (at once, on this
    // one, when the group is aborted already), until the listener is destroyed. It must only
    // hand the news on (wake a loop, notify a condition), never call back into the group.
    class TListener {
    public:
        TListener() = default;
        TListener(TListener&& other) noexcept;
        TListener& operator=(TListener&& other) noexcept;
        ~TListener();

    private:
        friend class TMailAbort;
        TListener(TMailAbort* group, int id) : group_(group), id_(id) {}
        TMailAbort* group_ = nullptr;
        int id_ = 0;
    };
    [[nodiscard]] TListener Listen(std::function<void()> onAbort);

private:
    friend class TMailIOHandlerAbortable;
    // False (and nothing registered) once aborted.
    bool Register(int socket);
    void Unregister(int socket);

    mutable std::mutex mutex_;
    bool aborted_ = false;
    std::set<int> sockets_;
    std::map<int, std::function<void()>> listeners_;
    int nextListener_ = 0;
};

// The abort the outside waits of this thread listen to while the scope lives (a cycle's login
// steps, say): a token request or a keyring call asks for it with Current().
class TAbortScope {
public:
    explicit TAbortScope(TMailAbort& abort);
    ~TAbortScope();
    TAbortScope(const TAbortScope&) = delete;
    TAbortScope& operator=(const TAbortScope&) = delete;
    // nullptr when no scope is open on this thread.
    static TMailAbort* Current();

private:
    TMailAbort* previous_;
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
