#pragma once
// The transport a connection reaches its peer through. Every operation is empty here; the socket
// transport (MailIOHandlerSocket.h) gives them their meaning.
#include <string>

#include "net/MailComponent.h"

namespace tarnwick {

class TMailIOHandler : public TMailComponent {
public:
    // Releases the socket.
    virtual void Close() {}
    virtual void ConnectTo(const std::string& host, int port, const std::string& boundIP, int boundPort,
                           int boundPortMin, int boundPortMax, int timeout) {
        (void)host, (void)port, (void)boundIP, (void)boundPort, (void)boundPortMin, (void)boundPortMax, (void)timeout;
    }
    // A socket is open.
    virtual bool IsConnected() { return false; }
    virtual void Open() {}
    // Readable within milliseconds (-2 = no limit).
    virtual bool WaitReadable(int milliseconds) {
        (void)milliseconds;
        return false;
    }
    // Count transferred, or -1 (the socket error value) with the error left for the stack to read.
    virtual int Receive(void* buffer, int length) {
        (void)buffer, (void)length;
        return 0;
    }
    // Receive if bytes are there already, else WouldBlock without waiting (this default always).
    static constexpr int WouldBlock = -2;
    virtual int TryReceive(void* buffer, int length) {
        (void)buffer, (void)length;
        return WouldBlock;
    }
    // Sends at least one byte, or -1; waits for room at most WriteTimeout ms (-2 = no limit).
    virtual int Send(const void* buffer, int length) {
        (void)buffer, (void)length;
        return 0;
    }
    int WriteTimeout = -2;
    // While on, each send leaves at once, without waiting for earlier data to be acknowledged.
    virtual void SetPushMode(bool on) { (void)on; }
};

}  // namespace tarnwick
