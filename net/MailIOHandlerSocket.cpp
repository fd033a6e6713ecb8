#include "net/MailIOHandlerSocket.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <time.h>

#include <cerrno>
#include <exception>
#include <vector>

#include "net/MailExceptions.h"
#include "net/MailStack.h"

namespace tarnwick {

namespace {

void SleepMs(int milliseconds) {
    timespec left{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&left, &left) < 0 && errno == EINTR) {
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Connect thread

TMailConnectThread::TMailConnectThread(TMailSocketHandle& binding) : binding_(binding) {
    cancelFd_ = ::eventfd(0, EFD_CLOEXEC);
    if (cancelFd_ < 0) {
        int error = TMailStackLinux::ErrnoToSocketError(errno);
        throw EMailSocketError(error, TMailStack::TranslateError(error));
    }
}

TMailConnectThread::~TMailConnectThread() {
    Terminate();
    WaitFor();
    ::close(cancelFd_);
}

void TMailConnectThread::Start() {
    if (!thread_.joinable()) thread_ = std::thread([this] { Execute(); });
}

void TMailConnectThread::Terminate() {
    uint64_t one = 1;
    // Wakes the connect's wait; a full counter already wakes it.
    ssize_t written = ::write(cancelFd_, &one, sizeof one);
    (void)written;
}

void TMailConnectThread::WaitFor() {
    if (thread_.joinable()) thread_.join();
}

void TMailConnectThread::Execute() {
    try {
        TMailStack* stack = TMailStack::Instance();
        int result = binding_.ConnectToPeer(cancelFd_);
        // 10009 / 10038: the connect was cut off by the caller; its time-out reports it.
        if (stack != nullptr) stack->CheckSocketResult(result, {wsa::WSAEBADF, wsa::WSAENOTSOCK});
    } catch (const std::exception& e) {
        exceptionMessage_ = e.what();
        if (exceptionMessage_.empty()) exceptionMessage_ = "Connect failed.";
    } catch (...) {
        exceptionMessage_ = "Connect failed.";
    }
    finished_.store(true, std::memory_order_release);
}

// ---------------------------------------------------------------------------------------------
// Socket transport

TMailIOHandlerSocket::~TMailIOHandlerSocket() { Close(); }

void TMailIOHandlerSocket::Close() {
    if (binding_) binding_->Release();
}

void TMailIOHandlerSocket::Open() {
    if (!binding_) {
        binding_ = std::make_unique<TMailSocketHandle>();
    } else {
        binding_->Reset(true);
    }
}

bool TMailIOHandlerSocket::IsConnected() { return binding_ && binding_->HandleAllocated(); }

void TMailIOHandlerSocket::ConnectTo(const std::string& host, int port, const std::string& boundIP, int boundPort,
                                     int boundPortMin, int boundPortMax, int timeout) {
    if (!binding_) Open();
    if (!TMailStack::IsDottedQuad(host) && !TMailStack::IsIPv6Literal(host)) ReportStatus(TMailStatus::hsResolving, host);
    const std::vector<std::string> addresses = Stack().ResolveAll(host);
    std::exception_ptr failure;
    for (const std::string& address : addresses) {
        CheckConnectAborted();
        if (!boundIP.empty() && TMailStack::FamilyOf(boundIP) != TMailStack::FamilyOf(address)) {
            // The local address cannot reach this one.
            failure = std::make_exception_ptr(EMailSocketError(10047, TMailStack::TranslateError(10047)));
            continue;
        }
        try {
            ConnectToAddress(address, port, boundIP, boundPort, boundPortMin, boundPortMax, timeout);
            return;
        } catch (const EMailConnectTimeout&) {
            failure = std::current_exception();
        } catch (const EMailConnectException&) {
            failure = std::current_exception();
        } catch (const EMailSocketError&) {
            failure = std::current_exception();
        } catch (const EMailInvalidSocket&) {
            failure = std::current_exception();  // no socket of this family here
        }
        Close();
    }
    std::rethrow_exception(failure);
}

void TMailIOHandlerSocket::ConnectToAddress(const std::string& address, int port, const std::string& boundIP,
                                            int boundPort, int boundPortMin, int boundPortMax, int timeout) {
    binding_->Allocate(SOCK_STREAM, 0, TMailStack::FamilyOf(address));
    binding_->IP = boundIP;
    binding_->Port = boundPort;
    binding_->ClientPortMin = boundPortMin;
    binding_->ClientPortMax = boundPortMax;
    binding_->Bind();
    binding_->SetPeer(address, port);
    if (!UseNagle) {
        int on = 1;
        binding_->SetOption(IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    ReportStatus(TMailStatus::hsConnecting, address);

    if (timeout != -1 && timeout != 0) {
        ConnectWithTimeout(timeout);
    } else {
        Stack().CheckSocketResult(binding_->ConnectToPeer());
    }
}

void TMailIOHandlerSocket::ConnectWithTimeout(int timeout) {
    TMailConnectThread thread(*binding_);
    thread.Start();
    const int slice = ConnectSliceMs;
    // A connect that ends early is noticed at the end of the slice in which it ended.
    int remaining = timeout == -2 ? slice + 1 : timeout;
    while (remaining > slice) {
        SleepMs(slice);
        remaining -= slice;
        if (timeout == -2) remaining = slice + 1;
        if (thread.Finished()) {
            remaining = 0;
            break;
        }
        try {
            CheckConnectAborted();
        } catch (...) {
            thread.Terminate();
            thread.WaitFor();
            Close();
            throw;
        }
    }
    if (remaining > 0) SleepMs(remaining);
    if (!thread.Finished()) {
        // Cut the connect off and let the thread end before the socket goes, so that no
        // descriptor is closed under a call still using it.
        thread.Terminate();
        thread.WaitFor();
        Close();
        throw EMailConnectTimeout();
    }
    thread.WaitFor();
    if (!thread.ExceptionMessage().empty()) throw EMailConnectException(thread.ExceptionMessage());
}

bool TMailIOHandlerSocket::WaitReadable(int milliseconds) {
    if (!binding_) throw EMailConnClosedGracefully();
    if (binding_->HandleAllocated()) {
        // The answer awaited may come as a second small segment that a peer with Nagle's
        // algorithm holds back until our acknowledgement of its first (a pipelining server
        // answering in two writes): acknowledge at once instead of up to 40 ms later.
        int on = 1;
        ::setsockopt(binding_->Handle(), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
    }
    return binding_->WaitReadable(milliseconds);
}

int TMailIOHandlerSocket::TryReceive(void* buffer, int length) {
    if (!IsConnected()) throw EMailClosedSocket();
    int received = Stack().SockRecv(binding_->Handle(), buffer, length, MSG_DONTWAIT);
    if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return WouldBlock;
    return received;
}

int TMailIOHandlerSocket::Receive(void* buffer, int length) {
    if (!IsConnected()) throw EMailClosedSocket();
    return binding_->Receive(buffer, length);
}

int TMailIOHandlerSocket::Send(const void* buffer, int length) {
    if (!IsConnected()) throw EMailClosedSocket();
    // Never blocked inside send: a peer that stopped reading would hold it for ever.
    for (;;) {
        int sent = Stack().SockSend(binding_->Handle(), buffer, length, MSG_DONTWAIT);
        if (sent >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return sent;
        if (!binding_->WaitWritable(WriteTimeout)) throw EMailWriteTimeout();
    }
}

void TMailIOHandlerSocket::SetPushMode(bool on) {
    if (!UseNagle || !IsConnected()) return;
    int value = on ? 1 : 0;
    // Switching the option on also sends what the stack still holds back; a failure only costs time.
    ::setsockopt(binding_->Handle(), IPPROTO_TCP, TCP_NODELAY, &value, sizeof value);
}

}  // namespace tarnwick
