#pragma once
// TLS (RFC 8446 / 5246, at least 1.2) over the socket transport, through OpenSSL. Until StartTLS the
// transport is the plain socket one; after it every byte goes through the TLS session, while the
// connection above still reads lines, waits under its time-outs and counts bytes as before.
#include <memory>
#include <string>

#include "net/MailExceptions.h"
#include "net/MailIOHandlerSocket.h"

namespace tarnwick {

// Plain text, a switch to TLS on the open connection (POP3 STLS, SMTP STARTTLS), or TLS from the
// first byte (POP3 on 995, SMTP on 465).
enum class TMailSecurity { msNone, msStartTLS, msTLS };

// The TLS session could not be set up or broke; nothing more is sent on the connection.
class EMailTLSError : public EMailException {
public:
    using EMailException::EMailException;
};

// The server's certificate was not accepted: its text names the reason (expired, unknown issuer,
// name mismatch).
class EMailCertificateError : public EMailTLSError {
public:
    using EMailTLSError::EMailTLSError;
};

class TMailIOHandlerSSL : public TMailIOHandlerSocket {
public:
    TMailIOHandlerSSL();
    ~TMailIOHandlerSSL() override;

    // Also ends the TLS session (with a close notify when it is still sound).
    void Close() override;
    // With TLS: true once decrypted bytes are ready, or the session ended (Receive then says how).
    bool WaitReadable(int milliseconds) override;
    int Receive(void* buffer, int length) override;
    int TryReceive(void* buffer, int length) override;
    int Send(const void* buffer, int length) override;

    // Handshakes on the open connection and verifies the server's certificate against the
    // system's trust store (and caFile, a PEM file, when not empty) and against host, which is
    // also sent as SNI when it is a name. timeout in ms bounds the whole handshake (-2 or 0: none).
    void StartTLS(const std::string& host, const std::string& caFile, int timeout);
    bool TLSActive() const;

private:
    struct Session;
    // Sends what the TLS layer has queued for the peer; false on a socket error, left in errno.
    bool FlushTLS();
    std::unique_ptr<Session> session_;
};

}  // namespace tarnwick
