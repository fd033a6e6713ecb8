#include "app/signin/SignInState.h"

#include "net/MailPOP3.h"
#include "net/MailSMTP.h"
#include "platform/StringList.h"

namespace tarnwick {

namespace {

std::string Account(const std::string& user, const std::string& server) { return user + "@" + Trim(server); }

}  // namespace

std::string LoginFailure(const std::exception& e) {
    std::string text = e.what();
    if (const auto* refused = dynamic_cast<const EMailOAuthRefused*>(&e); refused && !refused->Status.empty())
        text = Trim(text) + " (status " + refused->Status + ")";
    return text;
}

TSignInState::TSignInState(std::string settingsPath) : path_(std::move(settingsPath)) {
    keyring_.OnLog = [this](const std::string& line) {
        if (OnLog) OnLog(line);
    };
}

bool TSignInState::UseKeyring() { return KeyringSecrets && keyring_.Available(); }

std::string TSignInState::SmtpUser(const TServerSettings& s) { return s.SmtpUser.empty() ? s.Pop3User : s.SmtpUser; }

bool TSignInState::SmtpSharesPop3(const TServerSettings& s) {
    const TOAuthSettings &p = s.Pop3Auth, &m = s.SmtpAuth;
    return m.Method != TAuthMethod::amPassword && m.Method == p.Method && m.ClientId == p.ClientId &&
           m.Tenant == p.Tenant && m.TokenUrl == p.TokenUrl && SmtpUser(s) == s.Pop3User;
}

TAccountTokens TSignInState::Tokens(const TServerSettings& s, bool smtp) {
    TSecretStore* keyring = UseKeyring() ? &keyring_ : nullptr;
    if (!smtp || SmtpSharesPop3(s)) return TAccountTokens(path_, "POP3", Account(s.Pop3User, s.Pop3Server), keyring);
    return TAccountTokens(path_, "SMTP", Account(SmtpUser(s), s.SmtpServer), keyring);
}

TLoginToken TSignInState::Token(const TServerSettings& s, bool smtp) {
    std::lock_guard lock(mutex_);
    TAccountTokens storage = Tokens(s, smtp);
    TLoginToken token = TokenForLogin(smtp ? s.SmtpAuth : s.Pop3Auth, storage, UnixNow());
    if (token.NeedsSignIn) {
        if (!signInTold_ && OnSignInNeeded) OnSignInNeeded();
        signInTold_ = true;
        throw ESignInNeeded();
    }
    signInTold_ = false;
    if (!token.Ok) throw std::runtime_error("トークンを更新できません(" + token.Failure + ")");
    return token;
}

void TSignInState::PrepareLogin(const TServerSettings& s, TMailPOP3& pop3) {
    pop3.OAuth = TOAuthLogin();
    if (s.Pop3Auth.Method == TAuthMethod::amPassword) return;
    UseToken(pop3, ProviderFor(s.Pop3Auth), Token(s, false).AccessToken);
}

void TSignInState::PrepareLogin(const TServerSettings& s, TMailSMTP& smtp) {
    smtp.OAuth = TOAuthLogin();
    if (s.SmtpAuth.Method == TAuthMethod::amPassword) return;
    smtp.Username = SmtpUser(s);
    UseToken(smtp, ProviderFor(s.SmtpAuth), Token(s, true).AccessToken);
}

void TSignInState::LoadPasswords(TSettings& settings) {
    if (!UseKeyring()) return;
    TServerSettings& s = settings.Servers;
    if (s.Pop3Pass.empty())
        s.Pop3Pass = keyring_.Read("POP3/" + Account(s.Pop3User, s.Pop3Server) + "/password").value_or("");
    if (s.SmtpPass.empty())
        s.SmtpPass = keyring_.Read("SMTP/" + Account(SmtpUser(s), s.SmtpServer) + "/password").value_or("");
}

TSettings TSignInState::MovePasswordsToKeyring(const TSettings& settings) {
    TSettings out = settings;
    if (!UseKeyring()) return out;
    TServerSettings& s = out.Servers;
    // A password only leaves the file once the keyring holds it.
    if (!s.Pop3Pass.empty() && keyring_.Write("POP3/" + Account(s.Pop3User, s.Pop3Server) + "/password", s.Pop3Pass))
        s.Pop3Pass.clear();
    if (!s.SmtpPass.empty() &&
        keyring_.Write("SMTP/" + Account(SmtpUser(s), s.SmtpServer) + "/password", s.SmtpPass))
        s.SmtpPass.clear();
    return out;
}

}  // namespace tarnwick
