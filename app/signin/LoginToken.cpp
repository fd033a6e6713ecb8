#include "app/signin/LoginToken.h"

#include "net/MailPOP3.h"
#include "net/MailSMTP.h"

namespace tarnwick {

TLoginToken TokenForLogin(const TOAuthSettings& settings, TAccountTokens& storage, int64_t now) {
    TLoginToken out;
    TOAuthTokens tokens = storage.Load();
    TOAuthTokenClient client(ProviderFor(settings));
    std::string failure;
    switch (RefreshIfExpiring(tokens, client, now, [&](const TOAuthTokens& t) { storage.Save(t); }, &failure)) {
        case TRefreshResult::rrFresh:
        case TRefreshResult::rrRefreshed:
        case TRefreshResult::rrKept:
            out.Ok = true;
            out.AccessToken = tokens.AccessToken;
            break;
        case TRefreshResult::rrNeedsSignIn:
            out.NeedsSignIn = true;
            break;
        case TRefreshResult::rrFailed:
            out.Failure = failure;
            break;
    }
    return out;
}

void UseToken(TMailPOP3& pop3, const TOAuthProvider& provider, const std::string& accessToken) {
    pop3.OAuth.Mechanism = TOAuthMechanism::omAuto;
    pop3.OAuth.AccessToken = accessToken;
    pop3.OAuth.PreferXOAuth2 = provider.PreferXOAuth2;
    pop3.OAuth.TwoStep = provider.TwoStepPop3;
}

void UseToken(TMailSMTP& smtp, const TOAuthProvider& provider, const std::string& accessToken) {
    smtp.SetAuthenticationType(TAuthenticationType::atOAuth2);
    smtp.OAuth.Mechanism = TOAuthMechanism::omAuto;
    smtp.OAuth.AccessToken = accessToken;
    smtp.OAuth.PreferXOAuth2 = provider.PreferXOAuth2;
}

}  // namespace tarnwick
