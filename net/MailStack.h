#pragma once
// The socket layer: the few socket calls the connection needs, host resolution and the socket
// error texts. Error numbers follow the Windows Sockets numbering (10061 = refused, 11001 = host
// not found) on every platform, so the texts users see are the same everywhere.
#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

using TMailStackSocketHandle = int;
constexpr TMailStackSocketHandle InvalidSocketHandle = -1;
constexpr int SocketError = -1;

// Socket error numbers the connection layer reacts to.
namespace wsa {
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;
}  // namespace wsa

// A set of at most 64 socket handles for SockSelect.
class TMailSocketList {
public:
    static constexpr int MaxHandles = 64;

    void Add(TMailStackSocketHandle handle);  // a 65th raises EMailStackSetSizeExceeded
    void Remove(TMailStackSocketHandle handle);  // the last handle takes the removed one's place
    bool Contains(TMailStackSocketHandle handle) const;
    TMailStackSocketHandle Handle(int index) const;  // outside the count raises
    int Count() const { return count_; }
    void Clear() { count_ = 0; }

private:
    TMailStackSocketHandle handles_[MaxHandles] = {};
    int count_ = 0;
};

// The socket calls, with the shared logic of checking and translating their failures.
class TMailStack {
public:
    virtual ~TMailStack() = default;

    // The error number of the last failed call whose result was checked.
    int LastError() const { return lastError_.load(std::memory_order_relaxed); }

    // Raises EMailInvalidSocket "Cannot allocate socket." on failure. family: AF_INET or AF_INET6.
    virtual TMailStackSocketHandle CreateSocket(int socketType, int protocol, int family) = 0;
    virtual int SockConnect(TMailStackSocketHandle handle, int family, int port, const std::string& address) = 0;
    // Connect that gives up when cancelFd becomes readable; then fails with WSAEBADF.
    virtual int SockConnectCancellable(TMailStackSocketHandle handle, int family, int port,
                                       const std::string& address, int cancelFd) = 0;
    virtual int SockBind(TMailStackSocketHandle handle, int family, const std::string& address, int port) = 0;
    virtual int SockRecv(TMailStackSocketHandle handle, void* buffer, int length, int flags) = 0;
    virtual int SockSend(TMailStackSocketHandle handle, const void* buffer, int length, int flags) = 0;
    // timeoutMs -2 waits without limit. Each given list keeps only the handles that are ready.
    virtual int SockSelect(TMailSocketList* readList, TMailSocketList* writeList, TMailSocketList* errorList,
                           int timeoutMs) = 0;
    virtual int SockShutdown(TMailStackSocketHandle handle, int how) = 0;
    virtual int SockClose(TMailStackSocketHandle handle) = 0;
    virtual std::string SockGetHostByName(const std::string& host) = 0;
    // Every address of the name (IPv4 and IPv6) in the resolver's order, each once; an unknown
    // name raises EMailSocketError (11001).
    virtual std::vector<std::string> SockGetHostAddresses(const std::string& host) = 0;
    virtual std::string SockGetHostName() = 0;
    virtual int SockGetLastError() = 0;
    virtual int SockSetOpt(TMailStackSocketHandle handle, int level, int option, const void* value, int length) = 0;
    virtual void SockGetName(TMailStackSocketHandle handle, int& family, std::string& ip, int& port) = 0;
    virtual void SockGetPeerName(TMailStackSocketHandle handle, int& family, std::string& ip, int& port) = 0;
    virtual int SockGetServByName(const std::string& serviceName) = 0;

    // False for success; true for a failure whose number is in ignored; raises otherwise.
    bool CheckSocketResult(int result, std::initializer_list<int> ignored = {});
    [[noreturn]] void RaiseSocketError(int errorNumber);
    static std::string TranslateError(int errorNumber);

    // "localhost" in any case, dotted quads and IPv6 literals are answered without a lookup.
    std::string Resolve(const std::string& host);
    // The same, with every address of a name in the resolver's order.
    std::vector<std::string> ResolveAll(const std::string& host);
    static bool IsDottedQuad(std::string_view text);
    static bool IsIPv6Literal(const std::string& text);
    // AF_INET6 for an IPv6 address text, else AF_INET.
    static int FamilyOf(const std::string& address);
    // Tests only: answers the lookups of names (not of literals or localhost) instead of the
    // system's resolver; an empty list is an unknown name. An empty function restores the system's.
    static void SetResolverForTesting(std::function<std::vector<std::string>(const std::string& host)> resolver);
    static uint32_t TextToAddress(std::string_view dotted);  // bytes in network order
    static std::string AddressToText(uint32_t address);      // bytes in network order

    // The process-wide stack while a network component lives, else null.
    static TMailStack* Instance();

protected:
    void SetLastError(int errorNumber) { lastError_.store(errorNumber, std::memory_order_relaxed); }

private:
    std::atomic<int> lastError_{0};
};

// The stack over the POSIX socket interface.
class TMailStackLinux : public TMailStack {
public:
    TMailStackSocketHandle CreateSocket(int socketType, int protocol, int family) override;
    int SockConnect(TMailStackSocketHandle handle, int family, int port, const std::string& address) override;
    int SockConnectCancellable(TMailStackSocketHandle handle, int family, int port, const std::string& address,
                               int cancelFd) override;
    int SockBind(TMailStackSocketHandle handle, int family, const std::string& address, int port) override;
    int SockRecv(TMailStackSocketHandle handle, void* buffer, int length, int flags) override;
    int SockSend(TMailStackSocketHandle handle, const void* buffer, int length, int flags) override;
    int SockSelect(TMailSocketList* readList, TMailSocketList* writeList, TMailSocketList* errorList,
                   int timeoutMs) override;
    int SockShutdown(TMailStackSocketHandle handle, int how) override;
    int SockClose(TMailStackSocketHandle handle) override;
    std::string SockGetHostByName(const std::string& host) override;
    std::vector<std::string> SockGetHostAddresses(const std::string& host) override;
    std::string SockGetHostName() override;
    int SockGetLastError() override;
    int SockSetOpt(TMailStackSocketHandle handle, int level, int option, const void* value, int length) override;
    void SockGetName(TMailStackSocketHandle handle, int& family, std::string& ip, int& port) override;
    void SockGetPeerName(TMailStackSocketHandle handle, int& family, std::string& ip, int& port) override;
    int SockGetServByName(const std::string& serviceName) override;

    // Maps a POSIX errno value to the Windows Sockets number used in the texts.
    static int ErrnoToSocketError(int err);
    // Maps a getaddrinfo result code to the Windows Sockets resolver number.
    static int ResolverErrorToSocketError(int gaiError, int err);
};

}  // namespace tarnwick
