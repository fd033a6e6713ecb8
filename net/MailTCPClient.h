#pragma once
// A connection that knows its host and port and opens itself, in plain text or TLS.
#include <cstdint>
#include <string>

#include "net/MailIOHandlerSSL.h"
#include "net/MailTCPConnection.h"

namespace tarnwick {

class TMailTCPClient : public TMailTCPConnection {
public:
    std::string BoundIP;       // local address to bind, empty = any
    int32_t BoundPort = 0;     // 0 = any
    int32_t BoundPortMin = 0;  // local port range handed to the bind
    int32_t BoundPortMax = 0;
    TNotifyEvent OnConnected;
    std::string Username;
    std::string Password;
    // msTLS: the handshake follows the connect; msStartTLS: the protocol client asks for TLS
    // after the greeting and fails rather than go on in plain text.
    TMailSecurity Security = TMailSecurity::msNone;
    // A PEM file of authorities trusted besides the system's store (empty: the store alone).
    std::string CAFile;

    const std::string& Host() const { return host_; }
    virtual void SetHost(const std::string& host) { host_ = host; }
    int32_t Port() const { return port_; }
    virtual void SetPort(int32_t port) { port_ = port; }

    virtual void FireConnected();
    // Opens the connection; reads nothing. timeout in ms: -1 or 0 = a plain blocking connect,
    // -2 = under the connect thread without limit. Raises "Already connected." when connected.
    // A failure drops the socket and keeps the transport for the next attempt.
    virtual void Connect(int timeout = -1);
    // Connect, read until the peer closes, disconnect.
    virtual std::string ConnectAndReadAll();
    // Turns the open connection into TLS, verifying the certificate against Host (the handshake
    // is bounded by ReadTimeout). The transport must be a TMailIOHandlerSSL. Bytes the server sent
    // ahead of the handshake raise EMailTLSError: they were never protected, and taking them as
    // replies would let a man in the middle answer for the server.
    void StartTLS();

private:
    std::string host_;
    int32_t port_ = 0;
};

}  // namespace tarnwick
