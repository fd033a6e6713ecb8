#pragma once
// The token endpoint of an OAuth 2.0 provider (RFC 6749): code exchange with the PKCE verifier
// (RFC 7636), refresh, and the device authorization grant (RFC 8628). Each request blocks its
// caller in a local event loop, so the cycle's thread and the command line use it alike.
#include <cstdint>
#include <functional>
#include <string>

#include "app/signin/OAuthProvider.h"

namespace tarnwick {

// One sign-in's tokens: what the token endpoint answers, what is stored, what a login uses.
// ExpiresAt is seconds since the epoch.
struct TOAuthTokens {
    std::string AccessToken, RefreshToken;
    int64_t ExpiresAt = 0;
    // The provider refused the refresh token (invalid_grant): nothing is asked again until the
    // user signs in anew.
    bool NeedsSignIn = false;
    // Why there is no usable token: the provider's error code ("invalid_grant",
    // "authorization_pending", ...) or a description of the failure (never a token). Not stored.
    std::string Error;

    bool Ok() const { return Error.empty() && !AccessToken.empty(); }
    // Takes a newer answer in; one without a refresh token keeps the one held.
    void Renew(const TOAuthTokens& answer);
};

struct TDeviceAuthorization {
    bool Ok = false;
    std::string Error;
    std::string DeviceCode, UserCode, VerificationUri;
    int64_t ExpiresIn = 0;
    int Interval = 5;
};

class TOAuthTokenClient {
public:
    explicit TOAuthTokenClient(TOAuthProvider provider);

    int TimeoutMs = 30000;

    TOAuthTokens ExchangeCode(const std::string& code, const std::string& verifier, const std::string& redirectUri);
    TOAuthTokens Refresh(const std::string& refreshToken);
    TDeviceAuthorization StartDevice();
    TOAuthTokens PollDevice(const std::string& deviceCode);

    const TOAuthProvider& Provider() const { return provider_; }

private:
    TOAuthTokens PostToken(const std::string& form);

    TOAuthProvider provider_;
};

// rrKept: the refresh failed (the provider could not be reached, say) but the token held still
// works for a minute or more, so the login goes ahead with it.
enum class TRefreshResult { rrFresh, rrRefreshed, rrKept, rrNeedsSignIn, rrFailed };

// Before a login: a new access token when the one held expires within 5 minutes. A new refresh
// token goes to save before anything else happens (the old one may be dead already). After
// invalid_grant, and while NeedsSignIn stays set, nothing is asked. tokens.Error gets the reason of
// rrFailed, never a token.
TRefreshResult RefreshIfExpiring(TOAuthTokens& tokens, TOAuthTokenClient& client, int64_t now,
                                 const std::function<void(const TOAuthTokens&)>& save);

// The device flow to its end: show gets the page and the code to enter, then the token endpoint
// is polled at the interval the provider asks for until it grants, refuses, the code expires or
// cancelled() says so.
TOAuthTokens RunDeviceFlow(TOAuthTokenClient& client,
                           const std::function<void(const std::string& uri, const std::string& userCode)>& show,
                           const std::function<bool()>& cancelled);

// Seconds since the epoch.
int64_t UnixNow();

}  // namespace tarnwick
