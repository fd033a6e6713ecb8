#include "net/MailStack.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "net/MailExceptions.h"
#include "platform/Exception.h"

namespace tarnwick {

// ---------------------------------------------------------------------------------------------
// Socket set

void TMailSocketList::Add(TMailStackSocketHandle handle) {
    if (count_ >= MaxHandles) throw EMailStackSetSizeExceeded();
    handles_[count_++] = handle;
}

void TMailSocketList::Remove(TMailStackSocketHandle handle) {
    for (int i = 0; i < count_; ++i) {
        if (handles_[i] == handle) {
            handles_[i] = handles_[count_ - 1];
            --count_;
            return;
        }
    }
}

bool TMailSocketList::Contains(TMailStackSocketHandle handle) const {
    return std::find(handles_, handles_ + count_, handle) != handles_ + count_;
}

TMailStackSocketHandle TMailSocketList::Handle(int index) const {
    if (index < 0 || index >= count_) throw EMailStackSetSizeExceeded();
    return handles_[index];
}

// ---------------------------------------------------------------------------------------------
// Shared logic

bool TMailStack::CheckSocketResult(int result, std::initializer_list<int> ignored) {
    if (result != SocketError) return false;
    int error = SockGetLastError();
    SetLastError(error);
    if (std::find(ignored.begin(), ignored.end(), error) != ignored.end()) return true;
    RaiseSocketError(error);
}

void TMailStack::RaiseSocketError(int errorNumber) {
    SetLastError(errorNumber);
    throw EMailSocketError(errorNumber, TranslateError(errorNumber));
}

std::string TMailStack::TranslateError(int errorNumber) {
    const char* text = "";
    switch (errorNumber) {
        case 10004: text = "Interrupted system call."; break;
        case 10009: text = "Bad file number."; break;
        case 10013: text = "Access denied."; break;
        case 10014: text = "Bad address."; break;
        case 10022: text = "Invalid argument."; break;
        case 10024: text = "Too many open files."; break;
        case 10035: text = "Operation would block. "; break;
        case 10036: text = "Operation now in progress."; break;
        case 10037: text = "Operation already in progress."; break;
        case 10038: text = "Socket operation on non-socket."; break;
        case 10039: text = "Destination address required."; break;
        case 10040: text = "Message too long."; break;
        case 10041: text = "Protocol wrong type for socket."; break;
        case 10042: text = "Bad protocol option."; break;
        case 10043: text = "Protocol not supported."; break;
        case 10044: text = "Socket type not supported."; break;
        case 10045: text = "Operation not supported on socket."; break;
        case 10046: text = "Protocol family not supported."; break;
        case 10047: text = "Address family not supported by protocol family."; break;
        case 10048: text = "Address already in use."; break;
        case 10049: text = "Cannot assign requested address."; break;
        case 10050: text = "Network is down."; break;
        case 10051: text = "Network is unreachable."; break;
        case 10052: text = "Net dropped connection or reset."; break;
        case 10053: text = "Software caused connection abort."; break;
        case 10054: text = "Connection reset by peer."; break;
        case 10055: text = "No buffer space available."; break;
        case 10056: text = "Socket is already connected."; break;
        case 10057: text = "Socket is not connected."; break;
        case 10058: text = "Cannot send or receive after socket is closed."; break;
        case 10059: text = "Too many references, cannot splice."; break;
        case 10060: text = "Connection timed out."; break;
        case 10061: text = "Connection refused."; break;
        case 10062: text = "Too many levels of symbolic links."; break;
        case 10063: text = "File name too long."; break;
        case 10064: text = "Host is down."; break;
        case 10065: text = "No route to host."; break;
        case 10066: text = "Directory not empty"; break;
        case 11001: text = "Host not found."; break;
        default: break;
    }
    return Format("Socket Error # %d\r\n%s", errorNumber, text);
}

namespace {

std::mutex& ResolverMutex() {
    static std::mutex mutex;
    return mutex;
}

std::function<std::vector<std::string>(const std::string&)>& TestResolver() {
    static std::function<std::vector<std::string>(const std::string&)> resolver;
    return resolver;
}

}  // namespace

void TMailStack::SetResolverForTesting(std::function<std::vector<std::string>(const std::string& host)> resolver) {
    std::lock_guard<std::mutex> lock(ResolverMutex());
    TestResolver() = std::move(resolver);
}

std::string TMailStack::Resolve(const std::string& host) { return ResolveAll(host).front(); }

std::vector<std::string> TMailStack::ResolveAll(const std::string& host) {
    if (SameText(host, "LOCALHOST")) return {"127.0.0.1"};
    if (IsDottedQuad(host) || IsIPv6Literal(host)) return {host};
    std::function<std::vector<std::string>(const std::string&)> resolver;
    {
        std::lock_guard<std::mutex> lock(ResolverMutex());
        resolver = TestResolver();
    }
    if (resolver) {
        std::vector<std::string> addresses = resolver(host);
        if (addresses.empty()) RaiseSocketError(wsa::WSAHOST_NOT_FOUND);
        return addresses;
    }
    return SockGetHostAddresses(host);
}

bool TMailStack::IsIPv6Literal(const std::string& text) {
    in6_addr address;
    return ::inet_pton(AF_INET6, text.c_str(), &address) == 1;
}

int TMailStack::FamilyOf(const std::string& address) {
    return address.find(':') != std::string::npos ? AF_INET6 : AF_INET;
}

bool TMailStack::IsDottedQuad(std::string_view text) {
    std::string_view rest = text;
    std::string_view parts[4];
    int dots = 0;
    for (int i = 0; i < 3; ++i) {
        size_t dot = rest.find('.');
        if (dot == std::string_view::npos) {
            parts[i] = rest;
            rest = {};
        } else {
            parts[i] = rest.substr(0, dot);
            rest = rest.substr(dot + 1);
            ++dots;
        }
    }
    parts[3] = rest;
    if (dots < 3) return false;
    for (std::string_view part : parts) {
        int value = 0;
        if (part.empty() || !TryStrToInt(part, value) || value < 0 || value > 255) return false;
    }
    return true;
}

uint32_t TMailStack::TextToAddress(std::string_view dotted) {
    uint8_t bytes[4] = {0, 0, 0, 0};
    std::string_view rest = dotted;
    for (int i = 0; i < 4; ++i) {
        size_t dot = i < 3 ? rest.find('.') : std::string_view::npos;
        std::string_view part = rest.substr(0, dot);
        rest = dot == std::string_view::npos ? std::string_view{} : rest.substr(dot + 1);
        bytes[i] = static_cast<uint8_t>(StrToIntDef(part, 0));
    }
    uint32_t address;
    std::memcpy(&address, bytes, 4);
    return address;
}

std::string TMailStack::AddressToText(uint32_t address) {
    uint8_t bytes[4];
    std::memcpy(bytes, &address, 4);
    return Format("%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
}

// ---------------------------------------------------------------------------------------------
// POSIX sockets

namespace {

// The socket address of an address text of the family (empty: any address), and its length.
socklen_t MakeAddress(int family, const std::string& address, int port, sockaddr_storage& storage) {
    std::memset(&storage, 0, sizeof storage);
    if (family == AF_INET6) {
        auto& sa = reinterpret_cast<sockaddr_in6&>(storage);
        sa.sin6_family = AF_INET6;
        sa.sin6_port = htons(static_cast<uint16_t>(port));
        sa.sin6_addr = in6addr_any;
        if (!address.empty()) ::inet_pton(AF_INET6, address.c_str(), &sa.sin6_addr);
        return sizeof sa;
    }
    auto& sa = reinterpret_cast<sockaddr_in&>(storage);
    sa.sin_family = static_cast<sa_family_t>(family);
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = address.empty() ? htonl(INADDR_ANY) : TMailStack::TextToAddress(address);
    return sizeof sa;
}

// The text and port of a socket address (dotted for IPv4).
void AddressText(const sockaddr_storage& storage, int& family, std::string& ip, int& port) {
    family = storage.ss_family;
    if (storage.ss_family == AF_INET6) {
        const auto& sa = reinterpret_cast<const sockaddr_in6&>(storage);
        char text[INET6_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET6, &sa.sin6_addr, text, sizeof text);
        ip = text;
        port = ntohs(sa.sin6_port);
        return;
    }
    const auto& sa = reinterpret_cast<const sockaddr_in&>(storage);
    ip = TMailStack::AddressToText(sa.sin_addr.s_addr);
    port = ntohs(sa.sin_port);
}

}  // namespace

int TMailStackLinux::ErrnoToSocketError(int err) {
    switch (err) {
        case EINTR: return 10004;
        case EBADF: return 10009;
        case EACCES: case EPERM: return 10013;
        case EFAULT: return 10014;
        case EINVAL: return 10022;
        case EMFILE: case ENFILE: return 10024;
        case EAGAIN: return 10035;
        case EINPROGRESS: return 10036;
        case EALREADY: return 10037;
        case ENOTSOCK: return 10038;
        case EDESTADDRREQ: return 10039;
        case EMSGSIZE: return 10040;
        case EPROTOTYPE: return 10041;
        case ENOPROTOOPT: return 10042;
        case EPROTONOSUPPORT: return 10043;
        case ESOCKTNOSUPPORT: return 10044;
        case EOPNOTSUPP: return 10045;
        case EPFNOSUPPORT: return 10046;
        case EAFNOSUPPORT: return 10047;
        case EADDRINUSE: return 10048;
        case EADDRNOTAVAIL: return 10049;
        case ENETDOWN: return 10050;
        case ENETUNREACH: return 10051;
        case ENETRESET: return 10052;
        case ECONNABORTED: return 10053;
        // Sending into a connection the peer has torn down is a reset in the Windows numbering.
        case ECONNRESET: case EPIPE: return 10054;
        case ENOBUFS: case ENOMEM: return 10055;
        case EISCONN: return 10056;
        case ENOTCONN: return 10057;
        case ESHUTDOWN: return 10058;
        case ETOOMANYREFS: return 10059;
        case ETIMEDOUT: return 10060;
        case ECONNREFUSED: return 10061;
        case ELOOP: return 10062;
        case ENAMETOOLONG: return 10063;
        case EHOSTDOWN: return 10064;
        case EHOSTUNREACH: return 10065;
        case ENOTEMPTY: return 10066;
        default: return err;
    }
}

int TMailStackLinux::ResolverErrorToSocketError(int gaiError, int err) {
    switch (gaiError) {
        case EAI_NONAME: return wsa::WSAHOST_NOT_FOUND;
#ifdef EAI_NODATA
        case EAI_NODATA: return wsa::WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
        case EAI_ADDRFAMILY: return wsa::WSANO_DATA;
#endif
        case EAI_AGAIN: return wsa::WSATRY_AGAIN;
        case EAI_MEMORY: return 10055;
        case EAI_SYSTEM: return ErrnoToSocketError(err);
        default: return wsa::WSANO_RECOVERY;
    }
}

TMailStackSocketHandle TMailStackLinux::CreateSocket(int socketType, int protocol, int family) {
    int fd = ::socket(family, socketType | SOCK_CLOEXEC, protocol);
    if (fd < 0) throw EMailInvalidSocket("Cannot allocate socket.");
    return fd;
}

int TMailStackLinux::SockConnect(TMailStackSocketHandle handle, int family, int port, const std::string& address) {
    sockaddr_storage sa;
    const socklen_t length = MakeAddress(family, address, port, sa);
    int result = ::connect(handle, reinterpret_cast<const sockaddr*>(&sa), length);
    // A signal during a blocking connect leaves it running; wait for its outcome instead.
    if (result < 0 && errno == EINTR) {
        pollfd p{handle, POLLOUT, 0};
        while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
        }
        int soError = 0;
        socklen_t len = sizeof soError;
        if (::getsockopt(handle, SOL_SOCKET, SO_ERROR, &soError, &len) < 0) return SocketError;
        if (soError != 0) {
            errno = soError;
            return SocketError;
        }
        return 0;
    }
    return result < 0 ? SocketError : 0;
}

int TMailStackLinux::SockConnectCancellable(TMailStackSocketHandle handle, int family, int port,
                                            const std::string& address, int cancelFd) {
    int flags = ::fcntl(handle, F_GETFL);
    if (flags < 0) return SocketError;
    if (::fcntl(handle, F_SETFL, flags | O_NONBLOCK) < 0) return SocketError;
    sockaddr_storage sa;
    const socklen_t length = MakeAddress(family, address, port, sa);
    int result = ::connect(handle, reinterpret_cast<const sockaddr*>(&sa), length);
    int error = result < 0 ? errno : 0;
    if (result < 0 && (error == EINPROGRESS || error == EINTR)) {
        pollfd p[2] = {{handle, POLLOUT, 0}, {cancelFd, POLLIN, 0}};
        for (;;) {
            int n = ::poll(p, 2, -1);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                error = errno;
                break;
            }
            if (p[1].revents != 0) {
                // Cancelled: report what a socket closed under the call reports.
                error = EBADF;
                break;
            }
            if (p[0].revents != 0) {
                int soError = 0;
                socklen_t len = sizeof soError;
                if (::getsockopt(handle, SOL_SOCKET, SO_ERROR, &soError, &len) < 0) soError = errno;
                error = soError;
                break;
            }
        }
    }
    ::fcntl(handle, F_SETFL, flags);
    if (error != 0) {
        errno = error;
        return SocketError;
    }
    return 0;
}

int TMailStackLinux::SockBind(TMailStackSocketHandle handle, int family, const std::string& address, int port) {
    sockaddr_storage sa;
    const socklen_t length = MakeAddress(family, address, port, sa);
    return ::bind(handle, reinterpret_cast<const sockaddr*>(&sa), length) < 0 ? SocketError : 0;
}

int TMailStackLinux::SockRecv(TMailStackSocketHandle handle, void* buffer, int length, int flags) {
    for (;;) {
        ssize_t n = ::recv(handle, buffer, static_cast<size_t>(length), flags);
        if (n < 0 && errno == EINTR) continue;
        return n < 0 ? SocketError : static_cast<int>(n);
    }
}

int TMailStackLinux::SockSend(TMailStackSocketHandle handle, const void* buffer, int length, int flags) {
    for (;;) {
        // MSG_NOSIGNAL: a peer that went away must become a socket error, not end the process.
        ssize_t n = ::send(handle, buffer, static_cast<size_t>(length), flags | MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        return n < 0 ? SocketError : static_cast<int>(n);
    }
}

int TMailStackLinux::SockSelect(TMailSocketList* readList, TMailSocketList* writeList, TMailSocketList* errorList,
                                int timeoutMs) {
    // poll instead of select: descriptors above FD_SETSIZE must not overflow a set.
    pollfd fds[3 * TMailSocketList::MaxHandles];
    int kinds[3 * TMailSocketList::MaxHandles];
    int count = 0;
    TMailSocketList* lists[3] = {readList, writeList, errorList};
    const short events[3] = {POLLIN, POLLOUT, POLLPRI};
    for (int k = 0; k < 3; ++k) {
        if (lists[k] == nullptr) continue;
        for (int i = 0; i < lists[k]->Count(); ++i) {
            fds[count] = {lists[k]->Handle(i), events[k], 0};
            kinds[count] = k;
            ++count;
        }
    }
    int wait = timeoutMs < 0 ? -1 : timeoutMs;
    int n;
    do {
        n = ::poll(fds, static_cast<nfds_t>(count), wait);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return SocketError;
    for (auto* list : lists)
        if (list != nullptr) list->Clear();
    int ready = 0;
    for (int i = 0; i < count; ++i) {
        short r = fds[i].revents;
        bool hit = false;
        switch (kinds[i]) {
            case 0: hit = (r & (POLLIN | POLLHUP | POLLERR)) != 0; break;  // a close or error reads too
            case 1: hit = (r & (POLLOUT | POLLERR | POLLHUP)) != 0; break;  // a send then says why
            default: hit = (r & (POLLPRI | POLLERR)) != 0; break;
        }
        if (hit) {
            lists[kinds[i]]->Add(fds[i].fd);
            ++ready;
        }
    }
    return ready;
}

int TMailStackLinux::SockShutdown(TMailStackSocketHandle handle, int how) {
    return ::shutdown(handle, how) < 0 ? SocketError : 0;
}

int TMailStackLinux::SockClose(TMailStackSocketHandle handle) { return ::close(handle) < 0 ? SocketError : 0; }

std::string TMailStackLinux::SockGetHostByName(const std::string& host) { return SockGetHostAddresses(host).front(); }

std::vector<std::string> TMailStackLinux::SockGetHostAddresses(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* answer = nullptr;
    int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &answer);
    std::vector<std::string> addresses;
    if (rc == 0) {
        for (const addrinfo* a = answer; a != nullptr; a = a->ai_next) {
            if (a->ai_family != AF_INET && a->ai_family != AF_INET6) continue;
            sockaddr_storage storage{};
            std::memcpy(&storage, a->ai_addr, std::min<size_t>(a->ai_addrlen, sizeof storage));
            int family = 0, port = 0;
            std::string ip;
            AddressText(storage, family, ip, port);
            if (std::find(addresses.begin(), addresses.end(), ip) == addresses.end()) addresses.push_back(ip);
        }
    }
    if (answer != nullptr) ::freeaddrinfo(answer);
    if (addresses.empty()) {
        int error = rc != 0 ? ResolverErrorToSocketError(rc, errno) : wsa::WSANO_DATA;
        SetLastError(error);
        RaiseSocketError(error);
    }
    return addresses;
}

std::string TMailStackLinux::SockGetHostName() {
    char buffer[251] = {};
    if (::gethostname(buffer, 250) < 0) return {};
    return std::string(buffer, ::strnlen(buffer, 250));
}

int TMailStackLinux::SockGetLastError() { return ErrnoToSocketError(errno); }

int TMailStackLinux::SockSetOpt(TMailStackSocketHandle handle, int level, int option, const void* value, int length) {
    return ::setsockopt(handle, level, option, value, static_cast<socklen_t>(length)) < 0 ? SocketError : 0;
}

void TMailStackLinux::SockGetName(TMailStackSocketHandle handle, int& family, std::string& ip, int& port) {
    sockaddr_storage sa{};
    socklen_t len = sizeof sa;
    CheckSocketResult(::getsockname(handle, reinterpret_cast<sockaddr*>(&sa), &len) < 0 ? SocketError : 0);
    AddressText(sa, family, ip, port);
}

void TMailStackLinux::SockGetPeerName(TMailStackSocketHandle handle, int& family, std::string& ip, int& port) {
    sockaddr_storage sa{};
    socklen_t len = sizeof sa;
    CheckSocketResult(::getpeername(handle, reinterpret_cast<sockaddr*>(&sa), &len) < 0 ? SocketError : 0);
    AddressText(sa, family, ip, port);
}

int TMailStackLinux::SockGetServByName(const std::string& serviceName) {
    servent entry{};
    servent* found = nullptr;
    char scratch[1024];
    if (::getservbyname_r(serviceName.c_str(), nullptr, &entry, scratch, sizeof scratch, &found) == 0 &&
        found != nullptr)
        return ntohs(static_cast<uint16_t>(found->s_port));
    int port = 0;
    if (TryStrToInt(serviceName, port)) return port;
    throw EMailInvalidServiceName(Format("%s is not a valid service.", serviceName.c_str()));
}

}  // namespace tarnwick
