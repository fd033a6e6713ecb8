#pragma once
// The sign-in step before a login, shared by the cycle, the connection test and the command-line
// modes: the access token of a server that signs in with OAuth, refreshed when it expires within
// 5 minutes, and the client set up to log in with it.
#include <string>

#include "app/signin/AccountTokens.h"
#include "app/signin/OAuthProvider.h"

namespace tarnwick {

class TMailPOP3;
class TMailSMTP;

struct TLoginToken {
    bool Ok = false;
    std::string AccessToken;
    // The refresh token was refused (or there never was one): the log says 再サインインが必要です.
    bool NeedsSignIn = false;
    std::string Failure;  // why a refresh failed otherwise (never a token)
};

TLoginToken TokenForLogin(const TOAuthSettings& settings, TAccountTokens& storage, int64_t now);

// The token login as the provider wants it (Microsoft: XOAUTH2, two steps on POP3).
void UseToken(TMailPOP3& pop3, const TOAuthProvider& provider, const std::string& accessToken);
void UseToken(TMailSMTP& smtp, const TOAuthProvider& provider, const std::string& accessToken);

}  // namespace tarnwick
