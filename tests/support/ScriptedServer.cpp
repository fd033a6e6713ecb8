#include "support/ScriptedServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>

namespace tarnwick::test {

namespace {

int64_t NowMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int LoopbackSocket(int& port, bool listening, int backlog, bool ipv6 = false) {
    int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    sockaddr_storage storage{};
    socklen_t len;
    if (ipv6) {
        auto& sa = reinterpret_cast<sockaddr_in6&>(storage);
        sa.sin6_family = AF_INET6;
        sa.sin6_addr = in6addr_loopback;
        len = sizeof sa;
    } else {
        auto& sa = reinterpret_cast<sockaddr_in&>(storage);
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        len = sizeof sa;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&storage), len) < 0 || (listening && ::listen(fd, backlog) < 0)) {
        ::close(fd);
        throw std::runtime_error("bind/listen failed");
    }
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &len);
    port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6&>(storage).sin6_port
                      : reinterpret_cast<sockaddr_in&>(storage).sin_port);
    return fd;
}

std::string Shown(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 32 || c >= 127) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
        if (out.size() > 200) {
            out += "...";
            break;
        }
    }
    return out;
}

std::string TLSReason() {
    unsigned long first = ERR_get_error();
    ERR_clear_error();
    if (first == 0) return "the connection ended";
    const char* reason = ERR_reason_error_string(first);
    return reason != nullptr ? reason : "error " + std::to_string(first);
}

}  // namespace

// ---------------------------------------------------------------------------------------------

bool ScriptedServer::HasIPv6Loopback() {
    try {
        int port = 0;
        ::close(LoopbackSocket(port, true, 1, true));
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

ScriptedServer::ScriptedServer(bool ipv6) {
    listenFd_ = LoopbackSocket(port_, true, 16, ipv6);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC);
    releaseFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_SEMAPHORE);
}

ScriptedServer::~ScriptedServer() {
    stop_ = true;
    uint64_t one = 1;
    ssize_t w = ::write(wakeFd_, &one, sizeof one);
    (void)w;
    if (thread_.joinable()) thread_.join();
    EndConnection();
    if (tlsContext_ != nullptr) SSL_CTX_free(tlsContext_);
    ::close(listenFd_);
    ::close(wakeFd_);
    ::close(releaseFd_);
}

ScriptedServer& ScriptedServer::Send(std::string bytes) {
    steps_.push_back({Step::kSend, std::move(bytes)});
    return *this;
}
ScriptedServer& ScriptedServer::SendLine(std::string line) { return Send(line + "\r\n"); }
ScriptedServer& ScriptedServer::Expect(std::string line) {
    steps_.push_back({Step::kExpect, line + "\r\n"});
    return *this;
}
ScriptedServer& ScriptedServer::ExpectUntil(std::string line) {
    steps_.push_back({Step::kExpectUntil, line + "\r\n"});
    return *this;
}
ScriptedServer& ScriptedServer::Pause(int milliseconds) {
    steps_.push_back({Step::kPause, {}, milliseconds});
    return *this;
}
ScriptedServer& ScriptedServer::Offer(std::string bytes) {
    steps_.push_back({Step::kOffer, std::move(bytes)});
    return *this;
}
ScriptedServer& ScriptedServer::Hold() {
    steps_.push_back({Step::kHold, {}});
    return *this;
}
void ScriptedServer::Release() {
    uint64_t one = 1;
    ssize_t w = ::write(releaseFd_, &one, sizeof one);
    (void)w;
}
ScriptedServer& ScriptedServer::StopReading() {
    steps_.push_back({Step::kStopReading, {}});
    return *this;
}
ScriptedServer& ScriptedServer::ReceiveBuffer(int bytes) {
    ::setsockopt(listenFd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    return *this;
}
ScriptedServer& ScriptedServer::Trickle(std::string bytes, int intervalMs) {
    steps_.push_back({Step::kTrickle, std::move(bytes), intervalMs});
    return *this;
}

ScriptedServer& ScriptedServer::Close() {
    steps_.push_back({Step::kClose, {}});
    return *this;
}
ScriptedServer& ScriptedServer::Reset() {
    steps_.push_back({Step::kReset, {}});
    return *this;
}
ScriptedServer& ScriptedServer::Accept() {
    steps_.push_back({Step::kAccept, {}});
    return *this;
}
ScriptedServer& ScriptedServer::StartTLS() {
    steps_.push_back({Step::kStartTLS, {}});
    return *this;
}
ScriptedServer& ScriptedServer::OfferTLS() {
    steps_.push_back({Step::kOfferTLS, {}});
    return *this;
}
ScriptedServer& ScriptedServer::ImplicitTLS(bool clientMayRefuse) {
    implicitTLS_ = true;
    implicitMayFail_ = clientMayRefuse;
    return *this;
}

ScriptedServer& ScriptedServer::UseCertificate(const std::string& certPemFile, const std::string& keyPemFile) {
    // OpenSSL writes to the socket with write(): a client that hung up must not kill the test.
    std::signal(SIGPIPE, SIG_IGN);
    if (tlsContext_ == nullptr) tlsContext_ = SSL_CTX_new(TLS_server_method());
    if (tlsContext_ == nullptr) throw std::runtime_error("SSL_CTX_new failed");
    SSL_CTX_set_min_proto_version(tlsContext_, TLS1_2_VERSION);
    if (SSL_CTX_use_certificate_chain_file(tlsContext_, certPemFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(tlsContext_, keyPemFile.c_str(), SSL_FILETYPE_PEM) != 1)
        throw std::runtime_error("cannot load " + certPemFile + " / " + keyPemFile + ": " + TLSReason());
    return *this;
}

std::string ScriptedServer::TLSFailure() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return tlsFailure_;
}

std::string ScriptedServer::ServerName() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return serverName_;
}

ScriptedServer& ScriptedServer::ByteAtATime(bool on) {
    byteAtATime_ = on;
    return *this;
}

void ScriptedServer::Start() {
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
}

bool ScriptedServer::Finish(int timeoutMs) {
    int64_t deadline = NowMs() + timeoutMs;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!finished_) {
        if (NowMs() >= deadline) return false;
        lock.unlock();
        timespec pause{0, 5 * 1000000L};
        ::nanosleep(&pause, nullptr);
        lock.lock();
    }
    return true;
}

std::string ScriptedServer::Received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

std::vector<std::string> ScriptedServer::Mismatches() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return mismatches_;
}

void ScriptedServer::Mismatch(std::string text) {
    std::lock_guard<std::mutex> lock(mutex_);
    mismatches_.push_back(std::move(text));
}

bool ScriptedServer::AcceptOne() {
    pollfd p[2] = {{listenFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    int64_t deadline = NowMs() + StepTimeoutMs;
    for (;;) {
        int left = static_cast<int>(deadline - NowMs());
        if (left <= 0) {
            Mismatch("no client connected");
            return false;
        }
        int n = ::poll(p, 2, left);
        if (n < 0 && errno == EINTR) continue;
        if (stop_ || p[1].revents != 0) return false;
        if (n > 0 && p[0].revents != 0) break;
    }
    conn_ = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (conn_ < 0) return false;
    int on = 1;
    ::setsockopt(conn_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    pending_.clear();
    pendingStart_ = 0;
    ++connections_;
    return true;
}

void ScriptedServer::EndConnection() {
    if (tls_ != nullptr) SSL_free(tls_);
    tls_ = nullptr;
    if (conn_ >= 0) ::close(conn_);
    conn_ = -1;
}

bool ScriptedServer::Write(const char* data, size_t size) {
    if (tls_ == nullptr) {
        for (size_t at = 0; at < size;) {
            ssize_t sent = ::send(conn_, data + at, size - at, MSG_NOSIGNAL);
            if (sent < 0 && errno == EINTR) continue;
            if (sent <= 0) return false;
            at += static_cast<size_t>(sent);
        }
        return true;
    }
    // The socket does not block under TLS: wait for room, but never past a stop.
    for (;;) {
        ERR_clear_error();
        int sent = SSL_write(tls_, data, static_cast<int>(size));
        if (sent > 0) return true;  // no partial writes: SSL_MODE_ENABLE_PARTIAL_WRITE is off
        if (SSL_get_error(tls_, sent) != SSL_ERROR_WANT_WRITE) return false;
        pollfd p[2] = {{conn_, POLLOUT, 0}, {wakeFd_, POLLIN, 0}};
        int n = ::poll(p, 2, StepTimeoutMs);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || stop_ || p[1].revents != 0) return false;
    }
}

bool ScriptedServer::SendBytes(const std::string& bytes) {
    size_t step = byteAtATime_ ? 1 : bytes.size();
    for (size_t at = 0; at < bytes.size(); at += step) {
        if (!Write(bytes.data() + at, std::min(step, bytes.size() - at))) return false;
        if (byteAtATime_) sched_yield();
    }
    return true;
}

int ScriptedServer::Handshake() {
    if (tlsContext_ == nullptr) {
        Mismatch("TLS asked for without UseCertificate");
        return -1;
    }
    SSL* ssl = SSL_new(tlsContext_);
    if (ssl == nullptr || SSL_set_fd(ssl, conn_) != 1) {
        SSL_free(ssl);
        Mismatch("TLS setup failed");
        return -1;
    }
    ::fcntl(conn_, F_SETFL, ::fcntl(conn_, F_GETFL) | O_NONBLOCK);
    int64_t deadline = NowMs() + StepTimeoutMs;
    for (;;) {
        ERR_clear_error();
        int result = SSL_accept(ssl);
        if (result == 1) {
            tls_ = ssl;
            const char* name = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
            std::lock_guard<std::mutex> lock(mutex_);
            serverName_ = name != nullptr ? name : "";
            return 1;
        }
        int error = SSL_get_error(ssl, result);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
            std::string reason = TLSReason();
            SSL_free(ssl);
            std::lock_guard<std::mutex> lock(mutex_);
            tlsFailure_ = reason;
            return 0;
        }
        pollfd p[2] = {{conn_, static_cast<short>(error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT), 0},
                       {wakeFd_, POLLIN, 0}};
        int left = static_cast<int>(deadline - NowMs());
        int n = left > 0 ? ::poll(p, 2, left) : 0;
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || stop_ || p[1].revents != 0) {
            SSL_free(ssl);
            if (n == 0) Mismatch("TLS handshake timed out");
            return -1;
        }
    }
}

int ScriptedServer::ReadSome(int timeoutMs) {
    char chunk[65536];
    int64_t deadline = NowMs() + timeoutMs;
    int got = 0;
    for (;;) {
        if (tls_ != nullptr) {
            ERR_clear_error();
            got = SSL_read(tls_, chunk, sizeof chunk);
            if (got > 0) break;
            int error = SSL_get_error(tls_, got);
            if (error != SSL_ERROR_WANT_READ) return 0;  // close notify, end or a broken session
        }
        pollfd p[2] = {{conn_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        int left = std::max(static_cast<int>(deadline - NowMs()), 0);
        int n = ::poll(p, 2, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || stop_ || p[1].revents != 0) return -1;
        if (tls_ != nullptr) continue;
        ssize_t plain;
        do {
            plain = ::recv(conn_, chunk, sizeof chunk, 0);
        } while (plain < 0 && errno == EINTR);
        if (plain <= 0) return 0;
        got = static_cast<int>(plain);
        break;
    }
    pending_.append(chunk, static_cast<size_t>(got));
    std::lock_guard<std::mutex> lock(mutex_);
    received_.append(chunk, static_cast<size_t>(got));
    return 1;
}

bool ScriptedServer::ReadMore(int timeoutMs) { return ReadSome(timeoutMs) == 1; }

bool ScriptedServer::ReadLine(std::string& line, int timeoutMs) {
    int64_t deadline = NowMs() + timeoutMs;
    size_t searched = pendingStart_;
    for (;;) {
        size_t lf = pending_.find('\n', searched);
        if (lf != std::string::npos) {
            line.assign(pending_, pendingStart_, lf + 1 - pendingStart_);
            pendingStart_ = lf + 1;
            // Consumed bytes are dropped in bulk, not line by line.
            if (pendingStart_ == pending_.size()) {
                pending_.clear();
                pendingStart_ = 0;
            } else if (pendingStart_ > 65536) {
                pending_.erase(0, pendingStart_);
                pendingStart_ = 0;
            }
            return true;
        }
        searched = pending_.size();
        int left = static_cast<int>(deadline - NowMs());
        if (left <= 0 || !ReadMore(left)) {
            line = pending_.substr(pendingStart_);
            return false;
        }
    }
}

void ScriptedServer::Drain() {
    // Read until the client closes, so its last words are recorded and no reset is provoked.
    int64_t deadline = NowMs() + StepTimeoutMs;
    while (!stop_) {
        int left = static_cast<int>(deadline - NowMs());
        if (left <= 0 || !ReadMore(left)) break;
    }
}

int ScriptedServer::Held(bool reading) {
    int64_t deadline = NowMs() + StepTimeoutMs;
    for (;;) {
        // Not reading, only a hang-up (or a reset) of the client ends the wait early.
        pollfd p[3] = {{conn_, static_cast<short>(reading ? POLLIN : POLLRDHUP), 0}, {wakeFd_, POLLIN, 0},
                       {releaseFd_, POLLIN, 0}};
        int left = static_cast<int>(deadline - NowMs());
        if (left <= 0) {
            Mismatch("held without a release or a hang-up");
            return -1;
        }
        int n = ::poll(p, 3, left);
        if (n < 0 && errno == EINTR) continue;
        if (stop_ || p[1].revents != 0) return -1;
        if (p[2].revents != 0) {
            uint64_t count = 0;
            ssize_t r = ::read(releaseFd_, &count, sizeof count);
            (void)r;
            return 1;
        }
        if (!reading && p[0].revents != 0) {
            ++hungUp_;
            return 0;
        }
        // Whatever the client sends meanwhile is kept for the later steps; an end is a hang-up.
        if (p[0].revents != 0 && ReadSome(0) == 0) {
            ++hungUp_;
            return 0;
        }
    }
}

void ScriptedServer::Run() {
    if (implicitTLS_) {
        // The handshake opens every connection.
        const Step::Kind handshake = implicitMayFail_ ? Step::kOfferTLS : Step::kStartTLS;
        std::vector<Step> steps{{handshake, {}}};
        for (Step& step : steps_) {
            steps.push_back(std::move(step));
            if (steps.back().kind == Step::kAccept) steps.push_back({handshake, {}});
        }
        steps_ = std::move(steps);
    }
    bool ok = AcceptOne();
    for (size_t i = 0; ok && i < steps_.size() && !stop_; ++i) {
        const Step& step = steps_[i];
        bool hungUp = false;
        switch (step.kind) {
            case Step::kSend:
                if (conn_ < 0 || !SendBytes(step.bytes)) Mismatch("could not send '" + Shown(step.bytes) + "'");
                break;
            case Step::kOffer:
                if (conn_ < 0) {
                    Mismatch("could not offer '" + Shown(step.bytes) + "'");
                } else if (!SendBytes(step.bytes)) {
                    ++hungUp_;
                    hungUp = true;
                }
                break;
            case Step::kHold:
                if (conn_ < 0) {
                    Mismatch("no connection to hold");
                } else if (int held = Held(); held == 0) {
                    hungUp = true;
                } else if (held < 0) {
                    ok = false;
                }
                break;
            case Step::kStopReading:
                if (conn_ < 0) {
                    Mismatch("no connection to stop reading");
                } else if (int held = Held(false); held == 0) {
                    hungUp = true;
                } else if (held < 0) {
                    ok = false;
                }
                break;
            case Step::kExpect: {
                std::string line;
                if (conn_ < 0 || !ReadLine(line, StepTimeoutMs)) {
                    Mismatch("expected '" + Shown(step.bytes) + "', connection ended or timed out after '" +
                             Shown(line) + "'");
                    ok = false;
                } else if (line != step.bytes) {
                    Mismatch("expected '" + Shown(step.bytes) + "', got '" + Shown(line) + "'");
                }
                break;
            }
            case Step::kExpectUntil: {
                std::string line;
                for (;;) {
                    if (conn_ < 0 || !ReadLine(line, StepTimeoutMs)) {
                        Mismatch("never got '" + Shown(step.bytes) + "'");
                        ok = false;
                        break;
                    }
                    if (line == step.bytes) break;
                }
                break;
            }
            case Step::kPause: {
                timespec pause{step.ms / 1000, static_cast<long>(step.ms % 1000) * 1000000L};
                while (::nanosleep(&pause, &pause) < 0 && errno == EINTR) {
                }
                break;
            }
            case Step::kStartTLS:
            case Step::kOfferTLS:
                if (conn_ < 0) {
                    Mismatch("no connection for TLS");
                } else if (int shaken = Handshake(); shaken == 0) {
                    if (step.kind == Step::kStartTLS) {
                        Mismatch("TLS handshake failed: " + TLSFailure());
                    } else {
                        ++hungUp_;
                    }
                    hungUp = true;
                } else if (shaken < 0) {
                    ok = false;
                }
                break;
            case Step::kTrickle:
                for (char c : step.bytes) {
                    if (stop_ || conn_ < 0 || !Write(&c, 1)) break;
                    timespec pause{step.ms / 1000, static_cast<long>(step.ms % 1000) * 1000000L};
                    while (::nanosleep(&pause, &pause) < 0 && errno == EINTR) {
                    }
                }
                break;
            case Step::kClose:
                if (conn_ >= 0) {
                    if (tls_ != nullptr) SSL_shutdown(tls_);  // close notify
                    ::shutdown(conn_, SHUT_WR);
                    Drain();
                    EndConnection();
                }
                break;
            case Step::kReset:
                if (conn_ >= 0) {
                    linger hard{1, 0};
                    ::setsockopt(conn_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
                    EndConnection();
                }
                break;
            case Step::kAccept:
                if (conn_ >= 0) {
                    Drain();
                    EndConnection();
                }
                ok = AcceptOne();
                break;
        }
        if (hungUp) {
            // The client gave this connection up where the script allows it: skip to the next.
            EndConnection();
            while (i + 1 < steps_.size() && steps_[i + 1].kind != Step::kAccept) ++i;
        }
    }
    if (conn_ >= 0) {
        Drain();
        EndConnection();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
}

// ---------------------------------------------------------------------------------------------

FullBacklogListener::FullBacklogListener() {
    listenFd_ = LoopbackSocket(port_, true, 0);
    // Fill the accept queue: once it is full, further SYNs are dropped and connects hang.
    for (int i = 0; i < 8; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sa.sin_port = htons(static_cast<uint16_t>(port_));
        int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        fillers_.push_back(fd);
        if (rc == 0) continue;
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 200) == 0) break;  // this one hangs: the queue is full
    }
}

FullBacklogListener::~FullBacklogListener() {
    for (int fd : fillers_) ::close(fd);
    ::close(listenFd_);
}

RefusingPort::RefusingPort() { fd_ = LoopbackSocket(port_, false, 0); }

RefusingPort::~RefusingPort() { ::close(fd_); }

}  // namespace tarnwick::test
