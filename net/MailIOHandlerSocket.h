#pragma once
// The socket transport of a connection, and the connect under a time-out: the connect runs on a
// second thread while the caller waits in 125 ms slices.
#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "net/MailIOHandler.h"
#include "net/MailSocketHandle.h"

namespace tarnwick {

enum class TSocksVersion { svNoSocks, svSocks4, svSocks4A, svSocks5 };

// Proxy settings; no proxy step ever runs while Version is svNoSocks.
struct TMailSocksInfo {
    TSocksVersion Version = TSocksVersion::svNoSocks;
    std::string Host;
    int Port = 1080;
    std::string Username;
    std::string Password;
};

// Performs one connect of a binding. The connect gives up when Terminate is called.
class TMailConnectThread {
public:
    explicit TMailConnectThread(TMailSocketHandle& binding);  // created suspended
    ~TMailConnectThread();  // terminates and waits for the thread
    TMailConnectThread(const TMailConnectThread&) = delete;
    TMailConnectThread& operator=(const TMailConnectThread&) = delete;

    void Start();
    void Terminate();
    void WaitFor();
    bool Finished() const { return finished_.load(std::memory_order_acquire); }
    // Empty when the connect succeeded or was cut off; read only once Finished.
    const std::string& ExceptionMessage() const { return exceptionMessage_; }

private:
    void Execute();

    TMailSocketHandle& binding_;
    std::thread thread_;
    std::atomic<bool> finished_{false};
    std::string exceptionMessage_;
    int cancelFd_ = -1;
};

class TMailIOHandlerSocket : public TMailIOHandler {
public:
    static constexpr int ConnectSliceMs = 125;

    ~TMailIOHandlerSocket() override;

    void Close() override;
    // Resolves host (a name to all its addresses, IPv4 and IPv6) and tries each address in the
    // resolver's order, each on its own socket and under the whole time-out (none when -1 or 0),
    // until one connects. When none does, the last address's failure is raised.
    void ConnectTo(const std::string& host, int port, const std::string& boundIP, int boundPort, int boundPortMin,
                   int boundPortMax, int timeout) override;
    bool IsConnected() override;
    void Open() override;
    bool WaitReadable(int milliseconds) override;
    // Without a socket these raise EMailClosedSocket.
    int Receive(void* buffer, int length) override;
    int TryReceive(void* buffer, int length) override;
    // Waits at most WriteTimeout for room to send; then raises EMailWriteTimeout.
    int Send(const void* buffer, int length) override;
    // With UseNagle, switches TCP_NODELAY on for the duration (it is on anyway without).
    void SetPushMode(bool on) override;

    // Runs the connect on a TMailConnectThread; -2 waits without limit.
    virtual void ConnectWithTimeout(int timeout);
    // Raises when the connect under way is to be given up (checked between the waits of a
    // connect and before each address); nothing here.
    virtual void CheckConnectAborted() {}

    TMailSocketHandle* Binding() const { return binding_.get(); }

    bool UseNagle = true;
    TMailSocksInfo SocksInfo;

private:
    void ConnectToAddress(const std::string& address, int port, const std::string& boundIP, int boundPort,
                          int boundPortMin, int boundPortMax, int timeout);

    std::unique_ptr<TMailSocketHandle> binding_;
};

}  // namespace tarnwick
