#include "app/signin/SignInState.h"

#include "app/signin/OAuthProvider.h"
#include "platform/StringList.h"

namespace tarnwick {

namespace {

std::string Account(const TServerSettings& s, TServerKind kind) {
    return s.SignInUser(kind) + "@" + Trim(s.Account(kind).Server);
}

std::string PasswordKey(const TServerSettings& s, TServerKind kind) {
    return std::string(ServerName(kind)) + "/" + Account(s, kind) + "/password";
}

}  // namespace

std::string LoginFailure(const std::exception& e) {
    std::string text = e.what();
    if (const auto* refused = dynamic_cast<const EMailOAuthRefused*>(&e); refused && !refused->Status.empty())
        text = Trim(text) + " (status " + refused->Status + ")";
    return text;
}

bool TokenRefused(const std::exception& e) {
    const auto* refused = dynamic_cast<const EMailOAuthRefused*>(&e);
    return refused != nullptr && refused->Status == "401";
}

TSignInState::TSignInState(std::string settingsPath) : path_(std::move(settingsPath)) {
    keyring_.OnLog = tokensRun_.OnLog = [this](const std::string& line) {
        if (OnLog) OnLog(line);
    };
}

bool TSignInState::UseKeyring() { return KeyringSecrets && keyring_.Available(); }

bool TSignInState::SmtpSharesPop3(const TServerSettings& s) {
    const TOAuthSettings &p = s.Pop3Access.Auth, &m = s.SmtpAccess.Auth;
    return m.Method != TAuthMethod::amPassword && m.Method == p.Method && m.ClientId == p.ClientId &&
           m.Tenant == p.Tenant && m.TokenUrl == p.TokenUrl &&
           s.SignInUser(TServerKind::Smtp) == s.SignInUser(TServerKind::Pop3);
}

TTokenStore TSignInState::Tokens(const TServerSettings& s, TServerKind kind) {
    if (kind == TServerKind::Smtp && SmtpSharesPop3(s)) kind = TServerKind::Pop3;
    const std::string account = Account(s, kind);
    return TTokenStore(path_, ServerName(kind), account, UseKeyring() ? &keyring_ : nullptr, &tokensRun_);
}

TOAuthLogin TSignInState::LoginFor(const TServerSettings& s, TServerKind kind, bool renew) {
    TOAuthLogin login;
    const TOAuthSettings& auth = s.Access(kind).Auth;
    if (auth.Method == TAuthMethod::amPassword) return login;
    std::lock_guard lock(mutex_);
    TTokenStore store = Tokens(s, kind);
    const TOAuthProvider provider = ProviderFor(s.Account(kind));
    const TOAuthTokens tokens = store.ForLogin(provider, UnixNow(), renew);
    if (tokens.NeedsSignIn) {
        if (!signInTold_ && OnSignInNeeded) OnSignInNeeded();
        signInTold_ = true;
        throw ESignInNeeded();
    }
    signInTold_ = false;
    if (!tokens.Ok()) throw std::runtime_error("トークンを更新できません(" + tokens.Error + ")");
    // The token login as the provider wants it (Microsoft: XOAUTH2, two steps on POP3).
    login.Mechanism = TOAuthMechanism::omAuto;
    login.AccessToken = tokens.AccessToken;
    login.PreferXOAuth2 = provider.PreferXOAuth2;
    login.TwoStep = kind == TServerKind::Pop3 && provider.TwoStepPop3;
    return login;
}

bool TSignInState::SaveSignIn(const TServerSettings& s, TServerKind kind, const TOAuthTokens& tokens) {
    std::lock_guard lock(mutex_);
    return Tokens(s, kind).Save(tokens) != TTokenStore::TSaved::Nowhere;
}

void TSignInState::LoadPasswords(TSettings& settings) {
    if (!UseKeyring()) return;
    TServerSettings& s = settings.Servers;
    for (TServerKind kind : kServerKinds)
        if (s.Pass(kind).empty())
            s.Pass(kind) = keyring_.Read(PasswordKey(s, kind)).value_or("");
}

TSettings TSignInState::MovePasswordsToKeyring(const TSettings& settings) {
    TSettings out = settings;
    if (!UseKeyring()) return out;
    TServerSettings& s = out.Servers;
    // A password only leaves the file once the keyring holds it.
    for (TServerKind kind : kServerKinds)
        if (!s.Pass(kind).empty() && keyring_.Write(PasswordKey(s, kind), s.Pass(kind))) s.Pass(kind).clear();
    return out;
}

}  // namespace tarnwick
