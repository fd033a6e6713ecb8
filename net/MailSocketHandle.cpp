#include "net/MailSocketHandle.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include "net/MailExceptions.h"
#include "platform/Exception.h"

namespace tarnwick {

TMailStack& TMailSocketHandle::Stack() {
    if (TMailStack* stack = TMailStack::Instance()) return *stack;
    // A handle used outside any network component still needs the calls.
    static TMailStackLinux fallback;
    return fallback;
}

void TMailSocketHandle::Allocate(int socketType, int protocol, int family) {
    Release();
    handle_ = Stack().CreateSocket(socketType, protocol, family);
    family_ = family;
    allocated_ = true;
}

void TMailSocketHandle::Release() {
    if (!allocated_) return;
    allocated_ = false;
    Stack().SockShutdown(handle_, SHUT_WR);
    Stack().SockClose(handle_);
    handle_ = InvalidSocketHandle;
}

void TMailSocketHandle::Reset(bool resetLocal) {
    // Never leak a socket that is still open.
    Release();
    allocated_ = false;
    handle_ = InvalidSocketHandle;
    if (resetLocal) {
        IP.clear();
        Port = 0;
    }
    peerIP_.clear();
    peerPort_ = 0;
}

void TMailSocketHandle::Bind() {
    if (Port != 0 || ClientPortMin == 0 || ClientPortMax == 0) {
        if (!TryBind()) throw EMailCouldNotBindSocket();
        return;
    }
    if (ClientPortMax < ClientPortMin)
        throw EMailInvalidPortRange(Format("Invalid Port Range (%d - %d)", ClientPortMin, ClientPortMax));
    if (!BindInRange())
        throw EMailCanNotBindPortInRange(
            Format("Can not bind in port range (%d - %d)", ClientPortMin, ClientPortMax));
}

bool TMailSocketHandle::TryBind() {
    if (Stack().CheckSocketResult(Stack().SockBind(handle_, family_, IP, Port), {wsa::WSAEADDRINUSE}))
        return false;
    UpdateLocal();
    return true;
}

bool TMailSocketHandle::BindInRange() {
    for (int port = ClientPortMax; port >= ClientPortMin; --port) {
        Port = port;
        if (TryBind()) return true;
    }
    Port = 0;
    return false;
}

void TMailSocketHandle::SetPeer(const std::string& address, int port) {
    peerIP_ = address;
    peerPort_ = port;
}

int TMailSocketHandle::ConnectToPeer(int cancelFd) {
    int result = cancelFd >= 0 ? Stack().SockConnectCancellable(handle_, family_, peerPort_, peerIP_, cancelFd)
                               : Stack().SockConnect(handle_, family_, peerPort_, peerIP_);
    if (result != SocketError) {
        UpdateLocal();
        UpdatePeer();
    }
    return result;
}

void TMailSocketHandle::UpdateLocal() {
    int family = 0;
    Stack().SockGetName(handle_, family, IP, Port);
}

void TMailSocketHandle::UpdatePeer() {
    int family = 0;
    Stack().SockGetPeerName(handle_, family, peerIP_, peerPort_);
}

int TMailSocketHandle::Receive(void* buffer, int length) { return Stack().SockRecv(handle_, buffer, length, 0); }

int TMailSocketHandle::Send(const void* buffer, int length) { return Stack().SockSend(handle_, buffer, length, 0); }

void TMailSocketHandle::SetOption(int level, int option, const void* value, int length) {
    Stack().CheckSocketResult(Stack().SockSetOpt(handle_, level, option, value, length));
}

bool TMailSocketHandle::WaitReadable(int milliseconds) {
    if (!allocated_) throw EMailConnClosedGracefully();
    TMailSocketList readList;
    readList.Add(handle_);
    return Stack().SockSelect(&readList, nullptr, nullptr, milliseconds) == 1;
}

bool TMailSocketHandle::WaitWritable(int milliseconds) {
    if (!allocated_) throw EMailClosedSocket();
    TMailSocketList writeList;
    writeList.Add(handle_);
    return Stack().SockSelect(nullptr, &writeList, nullptr, milliseconds) == 1;
}

}  // namespace tarnwick
