#include "net/MailIOHandlerSSL.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "net/MailStack.h"

namespace tarnwick {

namespace {

using Clock = std::chrono::steady_clock;

// The first queued OpenSSL error, as a text; the queue is emptied. A failed system call (a CA file
// that cannot be opened) carries an errno, which OpenSSL itself has no text for.
std::string OpenSSLReason() {
    unsigned long first = ERR_get_error();
    ERR_clear_error();
    if (first == 0) return "unknown error";
    if (ERR_SYSTEM_ERROR(first)) return std::strerror(static_cast<int>(ERR_GET_REASON(first)));
    const char* reason = ERR_reason_error_string(first);
    return reason != nullptr ? reason : "error " + std::to_string(first);
}

bool IsIPLiteral(const std::string& host) {
    unsigned char address[16];
    return ::inet_pton(AF_INET, host.c_str(), address) == 1 || ::inet_pton(AF_INET6, host.c_str(), address) == 1;
}

}  // namespace

// The session talks to OpenSSL through two memory buffers, and this transport moves their bytes
// over the socket itself: every wait then goes through the socket's own time-outs, and a record
// that arrives half never blocks a read.
struct TMailIOHandlerSSL::Session {
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;
    BIO* in = nullptr;   // from the peer, owned by ssl
    BIO* out = nullptr;  // to the peer, owned by ssl
    std::string plain;   // decrypted, not yet handed out
    size_t plainAt = 0;
    bool ended = false;      // the peer closed (with or without a close notify)
    int socketErrno = 0;     // a socket error met while reading, handed out by Receive
    std::string broken;      // a TLS failure met while reading

    ~Session() {
        if (ssl != nullptr) SSL_free(ssl);
        if (ctx != nullptr) SSL_CTX_free(ctx);
    }
    size_t Buffered() const { return plain.size() - plainAt; }
};

TMailIOHandlerSSL::TMailIOHandlerSSL() = default;

TMailIOHandlerSSL::~TMailIOHandlerSSL() { Close(); }

bool TMailIOHandlerSSL::TLSActive() const { return session_ != nullptr; }

void TMailIOHandlerSSL::Close() {
    if (session_) {
        if (session_->broken.empty() && !session_->ended && session_->socketErrno == 0 && IsConnected()) {
            // A close notify tells the server the session ended on purpose; a failure is of no
            // interest, and a peer that takes nothing more is not waited for.
            WriteTimeout = 0;
            try {
                if (SSL_shutdown(session_->ssl) >= 0) FlushTLS();
            } catch (const EMailException&) {
            }
            ERR_clear_error();
        }
        session_.reset();
    }
    TMailIOHandlerSocket::Close();
}

bool TMailIOHandlerSSL::FlushTLS() {
    char chunk[16384];
    for (;;) {
        int count = BIO_read(session_->out, chunk, sizeof chunk);
        if (count <= 0) return true;
        int at = 0;
        while (at < count) {
            int sent = TMailIOHandlerSocket::Send(chunk + at, count - at);
            if (sent <= 0) {
                if (sent == 0) errno = EPIPE;
                return false;
            }
            at += sent;
        }
    }
}

void TMailIOHandlerSSL::StartTLS(const std::string& host, const std::string& caFile, int timeout) {
    if (!IsConnected()) throw EMailClosedSocket();
    if (session_) throw EMailTLSError("TLS is already active.");
    WriteTimeout = timeout > 0 ? timeout : -2;
    auto session = std::make_unique<Session>();
    session->ctx = SSL_CTX_new(TLS_client_method());
    if (session->ctx == nullptr) throw EMailTLSError("TLS setup failed: " + OpenSSLReason());
    SSL_CTX_set_min_proto_version(session->ctx, TLS1_2_VERSION);
    SSL_CTX_set_verify(session->ctx, SSL_VERIFY_PEER, nullptr);
    // The system's store; OpenSSL's defaults also honour SSL_CERT_FILE and SSL_CERT_DIR.
    SSL_CTX_set_default_verify_paths(session->ctx);
    if (!caFile.empty() && SSL_CTX_load_verify_locations(session->ctx, caFile.c_str(), nullptr) != 1)
        throw EMailTLSError("Cannot read the CA file " + caFile + ": " + OpenSSLReason());
    session->ssl = SSL_new(session->ctx);
    if (session->ssl == nullptr) throw EMailTLSError("TLS setup failed: " + OpenSSLReason());
    session->in = BIO_new(BIO_s_mem());
    session->out = BIO_new(BIO_s_mem());
    if (session->in == nullptr || session->out == nullptr) {
        BIO_free(session->in);
        BIO_free(session->out);
        throw EMailTLSError("TLS setup failed: out of memory");
    }
    SSL_set_bio(session->ssl, session->in, session->out);
    SSL_set_connect_state(session->ssl);
    if (IsIPLiteral(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(session->ssl), host.c_str());
    } else {
        SSL_set_tlsext_host_name(session->ssl, host.c_str());
        // A wildcard stands for a whole label only: "f*.example.test" matches no name.
        SSL_set_hostflags(session->ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        SSL_set1_host(session->ssl, host.c_str());
    }
    session_ = std::move(session);

    try {
        const bool limited = timeout > 0;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limited ? timeout : 0);
        char chunk[16384];
        for (;;) {
            ERR_clear_error();
            int result = SSL_do_handshake(session_->ssl);
            if (!FlushTLS()) Stack().RaiseSocketError(Stack().SockGetLastError());
            if (result == 1) break;
            int error = SSL_get_error(session_->ssl, result);
            if (error != SSL_ERROR_WANT_READ) {
                long verify = SSL_get_verify_result(session_->ssl);
                if (verify != X509_V_OK)
                    throw EMailCertificateError(std::string("Certificate verification failed: ") +
                                                X509_verify_cert_error_string(verify));
                throw EMailTLSError("TLS handshake failed: " + OpenSSLReason());
            }
            int wait = -2;
            if (limited) {
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
                wait = static_cast<int>(std::max<long long>(left, 0));
            }
            if (!TMailIOHandlerSocket::WaitReadable(wait)) throw EMailReadTimeout();
            int received = TMailIOHandlerSocket::Receive(chunk, sizeof chunk);
            if (received < 0) Stack().RaiseSocketError(Stack().SockGetLastError());
            if (received == 0) throw EMailTLSError("TLS handshake failed: the server closed the connection");
            BIO_write(session_->in, chunk, received);
        }
    } catch (...) {
        session_->broken = "failed";  // no close notify on a session that never stood
        throw;
    }
}

bool TMailIOHandlerSSL::WaitReadable(int milliseconds) {
    if (!session_) return TMailIOHandlerSocket::WaitReadable(milliseconds);
    Session& s = *session_;
    if (s.Buffered() > 0 || s.ended || s.socketErrno != 0 || !s.broken.empty()) return true;
    const bool limited = milliseconds != -2;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limited ? std::max(milliseconds, 0) : 0);
    char chunk[16384];
    for (;;) {
        ERR_clear_error();
        s.plain.resize(16384);
        s.plainAt = 0;
        int result = SSL_read(s.ssl, s.plain.data(), static_cast<int>(s.plain.size()));
        if (result > 0) {
            s.plain.resize(static_cast<size_t>(result));
            return true;
        }
        s.plain.clear();
        int error = SSL_get_error(s.ssl, result);
        if (error == SSL_ERROR_ZERO_RETURN) {
            s.ended = true;
            return true;
        }
        if (error != SSL_ERROR_WANT_READ) {
            s.broken = OpenSSLReason();
            return true;
        }
        // Records that carry no data (a session ticket, say) are answered and waited past.
        if (!FlushTLS()) {
            s.socketErrno = errno;
            return true;
        }
        int wait = -2;
        if (limited) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            wait = static_cast<int>(std::max<long long>(left, 0));
        }
        if (!TMailIOHandlerSocket::WaitReadable(wait)) return false;
        int received = TMailIOHandlerSocket::Receive(chunk, sizeof chunk);
        if (received < 0) {
            s.socketErrno = errno != 0 ? errno : EIO;
            return true;
        }
        if (received == 0) {
            s.ended = true;
            return true;
        }
        BIO_write(s.in, chunk, received);
    }
}

int TMailIOHandlerSSL::Receive(void* buffer, int length) {
    if (!session_) return TMailIOHandlerSocket::Receive(buffer, length);
    if (!IsConnected()) throw EMailClosedSocket();
    WaitReadable(-2);
    Session& s = *session_;
    if (s.Buffered() > 0) {
        const size_t count = std::min(s.Buffered(), static_cast<size_t>(std::max(length, 0)));
        std::memcpy(buffer, s.plain.data() + s.plainAt, count);
        s.plainAt += count;
        return static_cast<int>(count);
    }
    if (!s.broken.empty()) throw EMailTLSError("TLS error: " + s.broken);
    if (s.socketErrno != 0) {
        errno = s.socketErrno;  // read by the connection as the socket error
        return -1;
    }
    return 0;
}

int TMailIOHandlerSSL::TryReceive(void* buffer, int length) {
    if (!session_) return TMailIOHandlerSocket::TryReceive(buffer, length);
    const Session& s = *session_;
    if (s.Buffered() > 0 || s.ended || s.socketErrno != 0 || !s.broken.empty()) return Receive(buffer, length);
    return WouldBlock;
}

int TMailIOHandlerSSL::Send(const void* buffer, int length) {
    if (!session_) return TMailIOHandlerSocket::Send(buffer, length);
    if (!IsConnected()) throw EMailClosedSocket();
    if (!session_->broken.empty()) throw EMailTLSError("TLS error: " + session_->broken);
    if (length <= 0) return 0;
    ERR_clear_error();
    // Into the memory buffer, which takes it whole; then onto the socket.
    int result = SSL_write(session_->ssl, buffer, length);
    if (result <= 0) {
        session_->broken = OpenSSLReason();
        throw EMailTLSError("TLS error: " + session_->broken);
    }
    try {
        if (!FlushTLS()) return -1;  // the socket error stays in errno for the connection
    } catch (const EMailWriteTimeout&) {
        session_->broken = "write timed out";  // part of a record may have gone
        throw;
    }
    return result;
}

}  // namespace tarnwick
