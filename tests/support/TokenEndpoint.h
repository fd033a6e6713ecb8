#pragma once
// A stand-in identity provider for the sign-in tests: signs access tokens the local Dovecot takes
// (HS256 JWTs with the key scripts/servers made), and serves the authorization, token and device
// endpoints over HTTP on 127.0.0.1.
//
//     TokenEndpoint idp(*TokenSigner::FromEnvironment());
//     idp.Start();
//     ... the client under test uses idp.Url("/authorize"), idp.Url("/token"), idp.Url("/devicecode") ...
//
// /authorize answers 302 to redirect_uri with a code and the state (the test fetches it in place
// of the browser). /token takes authorization_code (with the PKCE verifier checked against the
// S256 challenge), refresh_token (rotated on every use when RotateRefreshTokens) and device_code
// grants. Revoke() (or a POST to /revoke) turns every refresh token into invalid_grant.
// It also serves Documents (a provider's settings document, say) to GET, 404 for any other path.
#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tarnwick::test {

struct TokenSigner {
    std::string key;  // the HMAC secret (raw bytes)
    std::string issuer, client, kid;
    // From TARNWICK_OAUTH_KEY (base64) and its companions; nullopt when the servers were not started.
    static std::optional<TokenSigner> FromEnvironment();
    // A JWT for user sub, valid from a minute ago for lifetime seconds (negative: already expired).
    std::string Issue(const std::string& sub, long lifetime) const;
};

class TokenEndpoint {
public:
    explicit TokenEndpoint(TokenSigner signer);
    ~TokenEndpoint();
    TokenEndpoint(const TokenEndpoint&) = delete;
    TokenEndpoint& operator=(const TokenEndpoint&) = delete;

    std::string User = "tarnwick";       // sub of the tokens issued
    long AccessLifetime = 3600;          // expires_in of the tokens issued
    bool RotateRefreshTokens = true;
    // The access token issued, when a test must know it beforehand (empty: a signed one).
    std::string AccessTokenIssued;
    // Device flow: polls answered authorization_pending before the grant.
    int PendingPolls = 1;
    // /token answers every request with this status (a provider in trouble); 0: as it should.
    std::atomic<int> TokenFailure{0};
    // How requests are answered: as a provider does, not at all (the connection stays open until
    // the client ends it), or with a 200 whose body never ends.
    enum class Replies { Normal, Stall, Endless };
    std::atomic<Replies> Reply{Replies::Normal};

    // Path (without the query) -> body of a 200 to GET; set before Start.
    std::map<std::string, std::string> Documents;

    void Start();
    int Port() const { return port_; }
    std::string Url(const std::string& path) const;
    void Revoke();

    // Counts of what was asked, per grant_type ("authorization_code", "refresh_token", "device_code"),
    // and the form of the last token request.
    int Requests(const std::string& grant) const;
    std::map<std::string, std::string> LastForm() const;
    std::string LastRefreshTokenIssued() const;
    // The targets of every GET other than /authorize, in order.
    std::vector<std::string> Gets() const;

private:
    void Run();
    void Serve(int fd);
    std::string Answer(const std::string& method, const std::string& target, const std::string& body);
    std::string Tokens();

    TokenSigner signer_;
    int listenFd_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::map<std::string, int> requests_;
    std::map<std::string, std::string> lastForm_;
    std::map<std::string, std::string> codes_;  // code -> "challenge redirect_uri"
    std::vector<std::string> liveRefresh_;
    std::vector<std::string> gets_;
    std::string lastRefresh_;
    int serial_ = 0;
    int polls_ = 0;
};

}  // namespace tarnwick::test
