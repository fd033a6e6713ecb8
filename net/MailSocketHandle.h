#pragma once
// One socket with its local and peer endpoints.
#include <string>

#include "net/MailStack.h"

namespace tarnwick {

class TMailSocketHandle {
public:
    TMailSocketHandle() = default;
    ~TMailSocketHandle() { Release(); }
    TMailSocketHandle(const TMailSocketHandle&) = delete;
    TMailSocketHandle& operator=(const TMailSocketHandle&) = delete;

    // Releases any open socket, then creates a new one (SOCK_STREAM = 1 for TCP) of the family
    // (AF_INET or AF_INET6), which its bind and connect then use.
    void Allocate(int socketType, int protocol, int family = 2 /* AF_INET */);
    // Stops sending and closes; does nothing when no socket is open.
    void Release();
    void Reset(bool resetLocal = true);
    // Binds to IP/Port, or to the first free port from ClientPortMax down to ClientPortMin.
    void Bind();
    bool TryBind();
    bool BindInRange();
    void SetPeer(const std::string& address, int port);
    // Result unchecked (-1 on failure, the error in the stack's terms); cancelFd >= 0 makes the
    // wait give up when that descriptor becomes readable. The socket's own family is used.
    int ConnectToPeer(int cancelFd = -1);
    void UpdateLocal();
    void UpdatePeer();
    int Receive(void* buffer, int length);
    int Send(const void* buffer, int length);
    void SetOption(int level, int option, const void* value, int length);
    // Readable within milliseconds (-2 = no limit); a released socket raises EMailConnClosedGracefully.
    bool WaitReadable(int milliseconds);
    // Writable (or failed, so that a send reports why) within milliseconds (-2 = no limit).
    bool WaitWritable(int milliseconds);

    TMailStackSocketHandle Handle() const { return handle_; }
    bool HandleAllocated() const { return allocated_; }
    int Family() const { return family_; }
    const std::string& PeerIP() const { return peerIP_; }
    int PeerPort() const { return peerPort_; }

    std::string IP;  // local address, empty = any
    int Port = 0;    // local port, 0 = any
    int ClientPortMin = 0;
    int ClientPortMax = 0;

private:
    static TMailStack& Stack();

    TMailStackSocketHandle handle_ = InvalidSocketHandle;
    bool allocated_ = false;
    int family_ = 2;  // AF_INET
    std::string peerIP_;
    int peerPort_ = 0;
};

}  // namespace tarnwick
