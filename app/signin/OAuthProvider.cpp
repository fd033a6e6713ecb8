#include "app/signin/OAuthProvider.h"

#include <QHostAddress>
#include <QUrl>

#include "platform/qt/QtText.h"

#ifndef TARNWICK_MICROSOFT_CLIENT_ID
#define TARNWICK_MICROSOFT_CLIENT_ID ""
#endif
#ifndef TARNWICK_GOOGLE_CLIENT_ID
#define TARNWICK_GOOGLE_CLIENT_ID ""
#endif

namespace tarnwick {

std::string BuiltInClientId(TAuthMethod method) {
    switch (method) {
        case TAuthMethod::amMicrosoft: return TARNWICK_MICROSOFT_CLIENT_ID;
        case TAuthMethod::amGoogle: return TARNWICK_GOOGLE_CLIENT_ID;
        case TAuthMethod::amPassword:
        case TAuthMethod::amOther: break;
    }
    return {};
}

TOAuthProvider ProviderFor(const TServerAccess& access) {
    TOAuthProvider p = ProviderFor(access.Auth);
    p.CAFile = access.CAFile;
    return p;
}

TOAuthProvider ProviderFor(const TServerAccount& account) {
    TOAuthProvider p = ProviderFor(account.Access);
    const std::string pop = "/POP.AccessAsUser.All";
    if (account.Access.Auth.Method == TAuthMethod::amMicrosoft && account.Protocol == TReceiveProtocol::Imap)
        if (const size_t at = p.Scopes.find(pop); at != std::string::npos) p.Scopes.replace(at, pop.size(), "/IMAP.AccessAsUser.All");
    return p;
}

TOAuthProvider ProviderFor(const TOAuthSettings& settings) {
    TOAuthProvider p;
    switch (settings.Method) {
        case TAuthMethod::amPassword: return p;
        case TAuthMethod::amMicrosoft: {
            // A tenant is a name or a GUID; anything else would change the URL's path.
            std::string tenant = settings.Tenant.empty() ? "common" : settings.Tenant;
            for (char c : tenant)
                if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.') tenant = "common";
            const std::string base = "https://login.microsoftonline.com/" + tenant + "/oauth2/v2.0/";
            p.AuthorizationUrl = base + "authorize";
            p.TokenUrl = base + "token";
            p.DeviceUrl = base + "devicecode";
            p.Scopes = "https://outlook.office.com/POP.AccessAsUser.All https://outlook.office.com/SMTP.Send offline_access";
            p.PreferXOAuth2 = p.TwoStepPop3 = p.ScopeOnRefresh = true;
            break;
        }
        case TAuthMethod::amGoogle:
            // Google's device flow does not cover the mail scope: the loopback redirect only.
            p.AuthorizationUrl = "https://accounts.google.com/o/oauth2/v2/auth";
            p.TokenUrl = "https://oauth2.googleapis.com/token";
            p.Scopes = "https://mail.google.com/";
            break;
        case TAuthMethod::amOther:
            p.AuthorizationUrl = settings.AuthorizationUrl;
            p.TokenUrl = settings.TokenUrl;
            p.DeviceUrl = settings.DeviceUrl;
            p.Scopes = settings.Scopes;
            p.ScopeOnRefresh = true;
            break;
    }
    p.ClientId = settings.ClientId.empty() ? BuiltInClientId(settings.Method) : settings.ClientId;
    return p;
}

bool EndpointAllowed(const std::string& url) {
    const QUrl u(ToQString(url), QUrl::StrictMode);
    if (!u.isValid() || u.host().isEmpty() || !u.userInfo().isEmpty()) return false;
    if (u.scheme() == "https") return true;
    if (u.scheme() != "http") return false;
    const QHostAddress address(u.host());
    return !address.isNull() && address.isLoopback();
}

}  // namespace tarnwick
