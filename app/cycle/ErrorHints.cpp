#include "app/cycle/ErrorHints.h"

#include "net/MailExceptions.h"
#include "net/MailIOHandlerSSL.h"
#include "net/MailSASL.h"
#include "platform/Exception.h"

namespace tarnwick {

namespace {

// What went wrong, as far as the exception tells.
enum class THint {
    None,
    Refused,
    HostNotFound,
    Unreachable,
    ConnectTimedOut,
    LoginTimedOut,
    WrongSecurity,
    CertificateName,
    Certificate,
    AuthRefused,
    SignInRefused,
    AppPassword,
    AuthNotOffered,
    MailboxInUse,
    Busy,
    LoginRejected,
    Silent,
};

struct THintText {
    THint Hint;
    const char* Text;
};

// The table: one text per kind of failure.
constexpr THintText kHintTexts[] = {
    {THint::Refused, "接続が拒否されました。サーバ名とポート番号を確認してください"},
    {THint::HostNotFound, "サーバが見つかりません。サーバ名を確認してください"},
    {THint::Unreachable, "サーバに届きません。ネットワークの接続とサーバ名を確認してください"},
    {THint::ConnectTimedOut, "サーバから応答がありません。サーバ名・ポート番号とネットワークを確認してください"},
    {THint::LoginTimedOut, "ログイン中にサーバが応答しなくなりました。ポート番号と暗号化の方式を確認してください"},
    {THint::WrongSecurity, "暗号化の方式を確認してください: SSL/TLS か STARTTLS"},
    {THint::CertificateName, "サーバ名が証明書の名前と違います。証明書にあるサーバ名を入力してください"},
    {THint::Certificate, "サーバの証明書を信頼できません(期限切れ・自己署名など)。サーバの案内を確認してください"},
    {THint::AuthRefused, "ユーザ名またはパスワードが違います"},
    {THint::SignInRefused, "サインインが拒否されました。もう一度サインインしてください"},
    {THint::AppPassword, "アプリパスワードかサインイン(OAuth2)が必要です。認証方式を確認してください"},
    {THint::AuthNotOffered, "サーバがこの認証方式に対応していません。認証方式と暗号化の方式を確認してください"},
    {THint::MailboxInUse, "メールボックスが使用中です。ほかのメールソフトが受信中でないか確認してください"},
    {THint::Busy, "サーバが一時的に受け付けていません。しばらくしてからもう一度試してください"},
    {THint::LoginRejected, "サーバに拒否されました。サーバ名・ユーザ名・暗号化の方式を確認してください"},
    {THint::Silent, "サーバの応答が止まりました。しばらくしてからもう一度試してください"},
};

THint SocketHint(int code) {
    switch (code) {
        case 10061: return THint::Refused;
        case 11001: case 11002: case 11003: case 11004: return THint::HostNotFound;
        case 10050: case 10051: case 10064: case 10065: return THint::Unreachable;
        case 10060: return THint::ConnectTimedOut;
        default: return THint::None;
    }
}

// The Windows Sockets number of a socket failure; 0 for any other. A connect under a time-out
// carries only the failure's text, which begins "Socket Error # n".
int SocketErrorNumber(const EMailException& e) {
    if (const auto* socket = dynamic_cast<const EMailSocketError*>(&e)) return socket->ErrorCode;
    if (!dynamic_cast<const EMailConnectException*>(&e)) return 0;
    const std::string prefix = "Socket Error # ";
    if (e.Message().rfind(prefix, 0) != 0) return 0;
    int code = 0;
    for (size_t i = prefix.size(); i < e.Message().size() && i < prefix.size() + 6; ++i) {
        const char c = e.Message()[i];
        if (c < '0' || c > '9') break;
        code = code * 10 + (c - '0');
    }
    return code;
}

// A POP3 "-ERR" may carry a response code (RFC 2449, 3206) that says it is not the password.
THint Pop3LoginHint(const std::string& text) {
    if (text.find("[IN-USE]") != std::string::npos) return THint::MailboxInUse;
    if (text.find("[SYS/TEMP]") != std::string::npos) return THint::Busy;
    return THint::AuthRefused;
}

THint ReplyHint(const EMailProtocolReplyError& e, TFailedStep step) {
    const int code = e.ReplyCode;
    if (step == TFailedStep::Transfer) {
        // A message refused for good is skipped with its own line; which of the sender, the
        // address or the content was refused the code alone does not tell.
        return code >= 400 && code <= 499 ? THint::Busy : THint::None;
    }
    // POP3 numbers "-ERR" as 2: at the login it is the user name or the password.
    if (code == 2) return Pop3LoginHint(e.Message());
    if (code == 535) return THint::AuthRefused;
    if (code == 534) return THint::AppPassword;
    if (code >= 400 && code <= 499) return THint::Busy;
    if (code >= 500 && code <= 599) return THint::LoginRejected;
    return THint::None;
}

// Failures the clients raise with a text of their own only.
THint TextHint(const std::string& text) {
    if (text.find("offers neither XOAUTH2 nor OAUTHBEARER") != std::string::npos ||
        text.find("do not support APOP") != std::string::npos)
        return THint::AuthNotOffered;
    return THint::None;
}

THint HintOf(const std::exception& e, TFailedStep step) {
    const auto* mail = dynamic_cast<const EMailException*>(&e);
    if (mail == nullptr) return THint::None;
    if (mail->Kind() == TMailErrorKind::Stopped || mail->Kind() == TMailErrorKind::LocalLimit) return THint::None;
    if (const int code = SocketErrorNumber(*mail); code != 0) return SocketHint(code);
    if (dynamic_cast<const EMailCertificateError*>(mail))
        return mail->Message().find("mismatch") != std::string::npos ? THint::CertificateName : THint::Certificate;
    if (dynamic_cast<const EMailTLSError*>(mail)) return THint::WrongSecurity;
    if (dynamic_cast<const EMailOAuthRefused*>(mail)) return THint::SignInRefused;
    if (const auto* reply = dynamic_cast<const EMailProtocolReplyError*>(mail)) return ReplyHint(*reply, step);
    if (dynamic_cast<const EMailConnectTimeout*>(mail)) return THint::ConnectTimedOut;
    if (mail->Kind() == TMailErrorKind::TimedOut)
        // Connected, then silence through the login: most often each side waits for the other to
        // begin, plain text against a port that speaks TLS from the first byte.
        return step == TFailedStep::Login ? THint::LoginTimedOut : THint::Silent;
    return TextHint(mail->Message());
}

}  // namespace

std::string ErrorHint(const std::exception& e, TFailedStep step) {
    const THint hint = HintOf(e, step);
    for (const THintText& row : kHintTexts)
        if (row.Hint == hint) return row.Text;
    return {};
}

std::string WithHint(const std::string& hint, const std::string& text) {
    return hint.empty() ? text : "【" + hint + "】 " + text;
}

std::string WithHint(const std::exception& e, TFailedStep step, const std::string& text) {
    return WithHint(ErrorHint(e, step), text);
}

}  // namespace tarnwick
