#include "support/TokenEndpoint.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <stdexcept>

namespace tarnwick::test {

namespace {

std::string Base64Url(const std::string& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(static_cast<size_t>(n));
    while (!out.empty() && out.back() == '=') out.pop_back();
    for (char& c : out) c = c == '+' ? '-' : c == '/' ? '_' : c;
    return out;
}

std::string Base64Decode(const std::string& text) {
    std::string out(3 * (text.size() / 4) + 3, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (n < 0) return {};
    out.resize(static_cast<size_t>(n));
    size_t pad = 0;
    for (size_t i = text.size(); i > 0 && text[i - 1] == '='; --i) ++pad;
    out.resize(out.size() - std::min(pad, out.size()));
    return out;
}

std::string Hex(int value) { return std::to_string(value); }

std::string UrlDecode(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '+') out += ' ';
        else if (s[i] == '%' && i + 2 < s.size()) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else out += s[i];
    }
    return out;
}

std::string UrlEncode(const std::string& s) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') out += static_cast<char>(c);
        else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::map<std::string, std::string> Form(const std::string& text) {
    std::map<std::string, std::string> form;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('&', pos);
        if (end == std::string::npos) end = text.size();
        const std::string pair = text.substr(pos, end - pos);
        const size_t eq = pair.find('=');
        if (!pair.empty()) form[UrlDecode(pair.substr(0, eq))] = eq == std::string::npos ? "" : UrlDecode(pair.substr(eq + 1));
        pos = end + 1;
    }
    return form;
}

std::string Response(int status, const std::string& reason, const std::string& body,
                     const std::string& extraHeaders = "") {
    return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\nContent-Type: application/json\r\n" + extraHeaders +
           "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

std::string Error(const std::string& code) { return Response(400, "Bad Request", "{\"error\":\"" + code + "\"}"); }

}  // namespace

std::optional<TokenSigner> TokenSigner::FromEnvironment() {
    const char* key = std::getenv("TARNWICK_OAUTH_KEY");
    if (key == nullptr || *key == '\0') return std::nullopt;
    auto env = [](const char* name, const char* fallback) {
        const char* v = std::getenv(name);
        return std::string(v != nullptr ? v : fallback);
    };
    return TokenSigner{Base64Decode(key), env("TARNWICK_OAUTH_ISSUER", "https://idp.test"),
                       env("TARNWICK_OAUTH_CLIENT", "tarnwick-test"), env("TARNWICK_OAUTH_KID", "k1")};
}

std::string TokenSigner::Issue(const std::string& sub, long lifetime) const {
    const long now = static_cast<long>(std::time(nullptr));
    const std::string header = Base64Url(R"({"alg":"HS256","typ":"JWT","kid":")" + kid + "\"}");
    const std::string claims =
        Base64Url("{\"iss\":\"" + issuer + "\",\"sub\":\"" + sub + "\",\"azp\":\"" + client + "\",\"iat\":" +
                  std::to_string(now - 60) + ",\"nbf\":" + std::to_string(now - 60) + ",\"exp\":" +
                  std::to_string(now + lifetime) + "}");
    const std::string input = header + "." + claims;
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(input.data()),
         input.size(), mac, &length);
    return input + "." + Base64Url(std::string(reinterpret_cast<char*>(mac), length));
}

TokenEndpoint::TokenEndpoint(TokenSigner signer) : signer_(std::move(signer)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) < 0 ||
        ::listen(listenFd_, 16) < 0)
        throw std::runtime_error("token endpoint: bind/listen failed");
    socklen_t len = sizeof sa;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
}

TokenEndpoint::~TokenEndpoint() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    ::close(listenFd_);
}

void TokenEndpoint::Start() { thread_ = std::thread([this] { Run(); }); }

std::string TokenEndpoint::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void TokenEndpoint::Revoke() {
    std::lock_guard lock(mutex_);
    liveRefresh_.clear();
}

int TokenEndpoint::Requests(const std::string& grant) const {
    std::lock_guard lock(mutex_);
    auto it = requests_.find(grant);
    return it == requests_.end() ? 0 : it->second;
}

std::map<std::string, std::string> TokenEndpoint::LastForm() const {
    std::lock_guard lock(mutex_);
    return lastForm_;
}

std::string TokenEndpoint::LastRefreshTokenIssued() const {
    std::lock_guard lock(mutex_);
    return lastRefresh_;
}

std::vector<std::string> TokenEndpoint::Gets() const {
    std::lock_guard lock(mutex_);
    return gets_;
}

void TokenEndpoint::Run() {
    while (!stop_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        Serve(fd);
        ::close(fd);
    }
}

void TokenEndpoint::Serve(int fd) {
    std::string in;
    char buffer[4096];
    size_t headerEnd = std::string::npos, need = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!stop_ && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        in.append(buffer, static_cast<size_t>(n));
        if (headerEnd == std::string::npos && (headerEnd = in.find("\r\n\r\n")) != std::string::npos) {
            std::string lower = in.substr(0, headerEnd);
            std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
            const size_t cl = lower.find("content-length:");
            need = headerEnd + 4 + (cl == std::string::npos ? 0 : std::stoul(lower.substr(cl + 15)));
        }
        if (headerEnd != std::string::npos && in.size() >= need) break;
    }
    if (headerEnd == std::string::npos) return;
    const std::string requestLine = in.substr(0, in.find("\r\n"));
    const size_t sp1 = requestLine.find(' '), sp2 = requestLine.rfind(' ');
    const std::string answer = Answer(requestLine.substr(0, sp1), requestLine.substr(sp1 + 1, sp2 - sp1 - 1),
                                      in.substr(headerEnd + 4));
    if (Reply != Replies::Normal) {
        const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n{\"a\":\"";
        if (Reply == Replies::Endless) ::send(fd, head.data(), head.size(), MSG_NOSIGNAL);
        const std::string more(16 * 1024, 'a');
        // Until the client gives up (the connection ends) or the endpoint is destroyed.
        while (!stop_) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0 && ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) <= 0) return;
            if (Reply == Replies::Endless && ::send(fd, more.data(), more.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0 &&
                errno != EAGAIN)
                return;
        }
        return;
    }
    size_t sent = 0;
    while (sent < answer.size()) {
        const ssize_t n = ::send(fd, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += static_cast<size_t>(n);
    }
    ::shutdown(fd, SHUT_WR);
}

std::string TokenEndpoint::Tokens() {
    const std::string refresh = "refresh-" + Hex(++serial_);
    liveRefresh_.push_back(refresh);
    lastRefresh_ = refresh;
    return Response(200, "OK",
                    "{\"token_type\":\"Bearer\",\"access_token\":\"" +
                        (AccessTokenIssued.empty() ? signer_.Issue(User, AccessLifetime) : AccessTokenIssued) +
                        "\",\"expires_in\":" + std::to_string(AccessLifetime) + ",\"refresh_token\":\"" + refresh +
                        "\",\"scope\":\"mail\"}");
}

std::string TokenEndpoint::Answer(const std::string& method, const std::string& target, const std::string& body) {
    std::lock_guard lock(mutex_);
    const size_t q = target.find('?');
    const std::string path = target.substr(0, q);
    if (method == "GET" && path == "/authorize") {
        auto form = Form(q == std::string::npos ? "" : target.substr(q + 1));
        if (form["response_type"] != "code" || form["code_challenge_method"] != "S256" || form["code_challenge"].empty())
            return Error("invalid_request");
        const std::string code = "code-" + Hex(++serial_);
        codes_[code] = form["code_challenge"] + " " + form["redirect_uri"];
        const std::string location = form["redirect_uri"] + (form["redirect_uri"].find('?') == std::string::npos ? "?" : "&") +
                                     "code=" + code + "&state=" + UrlEncode(form["state"]);
        return Response(302, "Found", "", "Location: " + location + "\r\n");
    }
    if (method == "GET") {
        gets_.push_back(target);
        const auto document = Documents.find(path);
        return document == Documents.end() ? Response(404, "Not Found", "") : Response(200, "OK", document->second);
    }
    if (method != "POST") return Response(404, "Not Found", "{}");
    auto form = Form(body);
    lastForm_ = form;
    if (path == "/revoke") {  // the tests' own switch, for a provider in another process
        liveRefresh_.clear();
        return Response(200, "OK", "{}");
    }
    if (path == "/devicecode") {
        polls_ = 0;
        return Response(200, "OK",
                        R"({"device_code":"dev-1","user_code":"ABCD-EFGH","verification_uri":"https://idp.test/device",)"
                        R"("expires_in":900,"interval":1,"message":"Open the page and enter the code."})");
    }
    if (path != "/token") return Response(404, "Not Found", "{}");
    const std::string grant = form["grant_type"];
    const std::string kind = grant == "urn:ietf:params:oauth:grant-type:device_code" ? "device_code" : grant;
    ++requests_[kind];
    if (const int status = TokenFailure.load(); status != 0)
        return Response(status, "Failed", R"({"error":"server_error"})");
    if (kind == "authorization_code") {
        auto it = codes_.find(form["code"]);
        if (it == codes_.end()) return Error("invalid_grant");
        const std::string expected = it->second;
        codes_.erase(it);
        unsigned char digest[SHA256_DIGEST_LENGTH];
        const std::string& verifier = form["code_verifier"];
        SHA256(reinterpret_cast<const unsigned char*>(verifier.data()), verifier.size(), digest);
        const std::string challenge = Base64Url(std::string(reinterpret_cast<char*>(digest), sizeof digest));
        if (expected != challenge + " " + form["redirect_uri"]) return Error("invalid_grant");
        return Tokens();
    }
    if (kind == "refresh_token") {
        auto it = std::find(liveRefresh_.begin(), liveRefresh_.end(), form["refresh_token"]);
        if (it == liveRefresh_.end()) return Error("invalid_grant");
        if (RotateRefreshTokens) liveRefresh_.erase(it);
        else {
            return Response(200, "OK",
                            "{\"token_type\":\"Bearer\",\"access_token\":\"" +
                        (AccessTokenIssued.empty() ? signer_.Issue(User, AccessLifetime) : AccessTokenIssued) +
                                "\",\"expires_in\":" + std::to_string(AccessLifetime) + "}");
        }
        return Tokens();
    }
    if (kind == "device_code") {
        if (form["device_code"] != "dev-1") return Error("invalid_grant");
        if (polls_++ < PendingPolls) return Error("authorization_pending");
        return Tokens();
    }
    return Error("unsupported_grant_type");
}

}  // namespace tarnwick::test
