#include "app/cycle/ForwardingCycle.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <vector>

#include "app/cycle/CycleSteps.h"
#include "app/cycle/ErrorHints.h"
#include "app/cycle/ImapTransport.h"
#include "app/cycle/Ledger.h"
#include "app/cycle/RefusalBackoff.h"
#include "app/settings/Settings.h"
#include "app/signin/SignIn.h"
#include "message/MailMessage.h"
#include "message/ShownText.h"
#include "net/MailAbort.h"
#include "net/MailExceptions.h"
#include "net/MailIMAP.h"
#include "net/MailPOP3.h"
#include "net/MailSMTP.h"
#include "platform/Exception.h"
#include "platform/Locale.h"
#include "platform/Streams.h"
#include "platform/StringList.h"

namespace tarnwick {

namespace {

constexpr int kConnectTimeoutMs = 2000;
// A server that stops answering ends the cycle with "Read Timeout" instead of freezing the window.
constexpr int32_t kReadTimeoutMs = 120000;
// Long HTML lines are common enough in real mail; they pass whole, but stay bounded. The reader
// counts the CR before the LF as part of the line: one byte more lets 16 MiB of text through.
constexpr int32_t kContentLineLimit = 16 * 1024 * 1024 + 1;

TMailSecurity ClientSecurity(TSecurity security) {
    switch (security) {
        case TSecurity::StartTLS: return TMailSecurity::msStartTLS;
        case TSecurity::TLS: return TMailSecurity::msTLS;
        case TSecurity::None: break;
    }
    return TMailSecurity::msNone;
}

// The one login body of both servers: the client aimed at the server as typed (the standard port
// of its encryption when none is typed), with its extra authority, and the credentials of its
// sign-in; then connect (for SMTP, with authentication). A token the server refuses is renewed
// once and the login tried again: it may have been revoked or cut short before its time.
template <class Client>
void SignInAndLogin(Client& client, TSignInState* signIn, TMailAbort& abort, const TServerSettings& settings,
                    TServerKind kind, const std::function<void()>& connect) {
    const TServerAccount server = settings.Account(kind);
    client.Security = ClientSecurity(server.Access.Security);
    client.CAFile = server.Access.CAFile;
    const TServerEndpoint endpoint = server.Endpoint();
    client.SetHost(endpoint.Host);
    client.SetPort(endpoint.Port);
    client.Username = server.User;
    client.Password = server.Pass;
    if (signIn == nullptr && server.Access.Auth.Method != TAuthMethod::amPassword) throw ESignInNeeded();
    {
        // A token request or a keyring call on the way ends with the connections.
        TAbortScope scope(abort);
        client.OAuth = signIn != nullptr ? signIn->LoginFor(settings, kind) : TOAuthLogin();
    }
    if (!client.OAuth.Active()) return connect();
    client.Username = settings.SignInUser(kind);
    try {
        connect();
    } catch (const std::exception& e) {
        if (!TokenRefused(e)) throw;
        detail::ForceClose(client);
        {
            TAbortScope scope(abort);
            client.OAuth = signIn->LoginFor(settings, kind, true);
        }
        connect();
    }
}

}  // namespace

namespace detail {

std::string OneLine(const std::string& text) {
    // A POP3 reason keeps the blank after "-ERR": trimmed here.
    return Trim(OneLogLine(text));
}

void ForceClose(TMailTCPClient& client) {
    try {
        client.Disconnect();
    } catch (...) {
    }
}

}  // namespace detail

using detail::ForceClose;
using detail::OneLine;

struct TForwardingCycle::Impl {
    // The transports outlive the clients that use them.
    TMailAbort Abort;
    TMailIOHandlerAbortable Pop3Transport{Abort};
    TMailIOHandlerAbortable SmtpTransport{Abort};
    TImapTransport ImapTransport{Abort};
    TMailPOP3 MailPOP3;
    TMailIMAP MailIMAP;
    TMailSMTP MailSMTP;
    // The receiving server of the last login is IMAP; the folder it examined; the settings of the
    // session a watch keeps open (empty when none is).
    bool Imap = false;
    TMailIMAP::TFolderStatus Folder;
    std::unique_ptr<TServerSettings> ImapSession;
    // The server fields as typed at the last login, for the log-off lines (by TServerKind).
    std::string Shown[2];
    // The AUTH offer last said to be of no use, so it is said once, not every interval.
    std::string AuthOfferShown;

    Impl() {
        for (TMailMessageClient* client : {static_cast<TMailMessageClient*>(&MailPOP3),
                                           static_cast<TMailMessageClient*>(&MailIMAP),
                                           static_cast<TMailMessageClient*>(&MailSMTP)}) {
            client->MaxLineAction = TMailMaxLineAction::maException;
            client->ReadTimeout = kReadTimeoutMs;
            client->MaxContentLineLength = kContentLineLimit;
        }
        // Commands always leave whole, so Nagle's algorithm would only hold the last piece back.
        Pop3Transport.UseNagle = false;
        SmtpTransport.UseNagle = false;
        ImapTransport.UseNagle = false;
        MailPOP3.SetIOHandler(&Pop3Transport);
        MailIMAP.SetIOHandler(&ImapTransport);
        MailIMAP.SetPort(143);
        MailSMTP.SetIOHandler(&SmtpTransport);
        MailPOP3.SetPort(110);
        MailSMTP.SetPort(25);
    }

    TMailTCPClient& Client(TServerKind kind) {
        if (kind == TServerKind::Pop3 && Imap) return MailIMAP;
        if (kind == TServerKind::Pop3) return MailPOP3;
        return MailSMTP;
    }
};

TForwardingCycle::TForwardingCycle(TAddLog addLog) : addLog_(std::move(addLog)), impl_(std::make_unique<Impl>()) {
    // The message still goes out (From unchanged); a bounce then has nowhere to go.
    impl_->MailSMTP.OnNullSender = [this](const std::string& address, const std::string& problem) {
        AddLogWithSubject("送信者アドレス不正のため<>で送信(", ShownText(address), ") " + problem);
    };
}
TForwardingCycle::~TForwardingCycle() = default;

TMailPOP3& TForwardingCycle::MailPOP3() { return impl_->MailPOP3; }
TMailIMAP& TForwardingCycle::MailIMAP() { return impl_->MailIMAP; }
TImapTransport& TForwardingCycle::ImapTransport() { return impl_->ImapTransport; }
void TForwardingCycle::Wake() { impl_->ImapTransport.Wake(); }
uint32_t TForwardingCycle::ImapUidValidity() const { return impl_->Folder.UidValidity; }

bool TForwardingCycle::ImapSessionOpen(const TServerSettings& settings) const {
    return impl_->Imap && impl_->ImapSession != nullptr && *impl_->ImapSession == settings;
}

void TForwardingCycle::CloseAll() {
    ForceClose(MailPOP3());
    CloseImap();
    ForceClose(MailSMTP());
}

void TForwardingCycle::CloseImap() {
    impl_->ImapSession.reset();
    ForceClose(impl_->MailIMAP);
}

void TForwardingCycle::ReopenImap(const TServerSettings& settings) {
    CloseImap();
    impl_->Imap = true;
    try {
        OpenImap(settings);
    } catch (...) {
        CloseImap();
        throw;
    }
    impl_->ImapSession = std::make_unique<TServerSettings>(settings);
}
TMailSMTP& TForwardingCycle::MailSMTP() { return impl_->MailSMTP; }

void TForwardingCycle::Abort() { impl_->Abort.Abort(); }
bool TForwardingCycle::Aborted() const { return impl_->Abort.Aborted(); }
TMailAbort& TForwardingCycle::AbortGroup() { return impl_->Abort; }

std::string TForwardingCycle::RefusalKeyFile() const {
    return SignIn ? TRefusalBackoff::KeyFileFor(SignIn->SettingsPath()) : std::string();
}

void TForwardingCycle::AddLog(const std::string& cp932) {
    if (addLog_) addLog_(Cp932ToUtf8(cp932));
}

void TForwardingCycle::AddLogWithSubject(const std::string& before, const std::string& subjectUtf8,
                                         const std::string& after) {
    if (addLog_) addLog_(Cp932ToUtf8(before) + subjectUtf8 + Cp932ToUtf8(after));
}

void TForwardingCycle::OpenPop3(const TServerSettings& settings) {
    TMailPOP3& pop3 = impl_->MailPOP3;
    // Messages go on as they are: a server offering UTF8 may otherwise wrap 8-bit headers.
    pop3.AskUtf8 = true;
    // Without TLS, CRAM-MD5 or APOP where the server offers one, rather than the password itself.
    pop3.PreferChallenge = true;
    SignInAndLogin(pop3, SignIn.get(), impl_->Abort, settings, TServerKind::Pop3, [&] { pop3.Connect(kConnectTimeoutMs); });
}

// The folder is examined, never selected: nothing read there changes on the server.
void TForwardingCycle::OpenImap(const TServerSettings& settings) {
    TMailIMAP& imap = impl_->MailIMAP;
    SignInAndLogin(imap, SignIn.get(), impl_->Abort, settings, TServerKind::Pop3, [&] {
        imap.Connect(kConnectTimeoutMs);
        impl_->Folder = imap.Examine(settings.ImapFolder);
    });
}

void TForwardingCycle::OpenReceiving(const TServerSettings& settings) {
    impl_->Imap = settings.Protocol == TReceiveProtocol::Imap;
    if (impl_->Imap) OpenImap(settings);
    else OpenPop3(settings);
}

void TForwardingCycle::OpenSmtp(const TServerSettings& settings) {
    TMailSMTP& smtp = impl_->MailSMTP;
    smtp.EnvelopeFrom = settings.EnvelopeFrom;
    bool authenticated = false;
    SignInAndLogin(smtp, SignIn.get(), impl_->Abort, settings, TServerKind::Smtp, [&] {
        // With a user name the client logs in whenever the server offers AUTH: PLAIN, else LOGIN.
        using enum TAuthenticationType;
        smtp.SetAuthenticationType(smtp.OAuth.Active() ? atOAuth2 : settings.SmtpUser.empty() ? atNone : atAuto);
        smtp.Connect(kConnectTimeoutMs);
        // Before the first MAIL: a refused password is a failed login, and nothing is sent.
        authenticated = smtp.AuthenticationType() != TAuthenticationType::atNone &&
                        smtp.AuthSchemeOffered(smtp.AuthenticationType());
        if (authenticated) smtp.Authenticate();
    });
    if (smtp.AuthenticationType() == TAuthenticationType::atNone || authenticated || smtp.AuthSchemes.Count() == 0)
        return;
    // Credentials that cannot be used are said aloud: a server that later refuses every message
    // would otherwise leave no hint why.
    std::string offered;
    for (const std::string& scheme : smtp.AuthSchemes) offered += (offered.empty() ? "" : " ") + scheme;
    if (offered == impl_->AuthOfferShown) return;
    impl_->AuthOfferShown = offered;
    AddLog("SMTPサーバの認証方式(" + offered + ")に対応していないため、認証せずに送信します(" +
           settings.SmtpServer + ")");
}

bool TForwardingCycle::LoginPop3(const TServerSettings& settings) {
    return Login(TServerKind::Pop3, settings, nullptr);
}

bool TForwardingCycle::LoginSmtp(const TServerSettings& settings, const char* line) {
    return Login(TServerKind::Smtp, settings, line);
}

bool TForwardingCycle::LogoffPop3() { return Logoff(TServerKind::Pop3); }
bool TForwardingCycle::LogoffSmtp() { return Logoff(TServerKind::Smtp); }

// POP3 says its login once it stands; SMTP says first what it is about to do (connect again, say).
bool TForwardingCycle::Login(TServerKind kind, const TServerSettings& settings, const char* announce) {
    const TServerAccount account = settings.Account(kind);
    const std::string name = account.Name(), server = account.Server;
    impl_->Shown[static_cast<int>(kind)] = server;
    if (kind == TServerKind::Pop3) impl_->ImapSession.reset();
    try {
        if (announce != nullptr) AddLog(announce + server + ")");
        if (kind == TServerKind::Pop3) OpenReceiving(settings);
        else OpenSmtp(settings);
        if (announce == nullptr) AddLog(name + "サーバにログイン(" + server + ")");
        if (kind == TServerKind::Pop3 && impl_->Imap) impl_->ImapSession = std::make_unique<TServerSettings>(settings);
        return true;
    } catch (const std::exception& e) {
        ForceClose(impl_->Client(kind));
        const std::string hint = ErrorHint(e, TFailedStep::Login);
        const std::string reason = WithHint(hint, OneLine(LoginFailure(e)));
        report_.Hint = hint;
        AddLog(name + "サーバにログイン失敗(" + server + ")" + (reason.empty() ? "" : " " + reason));
        return false;
    }
}

bool TForwardingCycle::Logoff(TServerKind kind) {
    const bool imap = kind == TServerKind::Pop3 && impl_->Imap;
    // The watch's session stays for its wait.
    if (imap && KeepImapOpen && impl_->ImapSession != nullptr) return true;
    if (imap) impl_->ImapSession.reset();
    const std::string name = imap ? "IMAP" : ServerName(kind), &server = impl_->Shown[static_cast<int>(kind)];
    try {
        impl_->Client(kind).Disconnect();
        AddLog(name + "サーバからログオフ(" + server + ")");
        return true;
    } catch (const std::exception&) {
        ForceClose(impl_->Client(kind));
        AddLog(name + "サーバからログオフ失敗(" + server + ")");
        return false;
    }
}

TCycleReport TForwardingCycle::ForwardNewMail(const TServerSettings& servers, const std::string& forwardAddress) {
    TSettings settings;
    settings.Servers = servers;
    const size_t at = forwardAddress.rfind('@');
    settings.MailUser = at == std::string::npos ? forwardAddress : forwardAddress.substr(0, at);
    settings.MailDomain = at == std::string::npos ? std::string() : forwardAddress.substr(at + 1);
    return ForwardNewMail(settings);
}

TCycleReport RunCycle(TForwardingCycle& cycle, const TSettings& settings) {
    try {
        TCycleReport report = cycle.ForwardNewMail(settings);
        report.Aborted = cycle.Aborted();
        return report;
    } catch (const std::exception& e) {
        TCycleReport report = cycle.Report();
        report.End = TCycleReport::TEnd::Error;
        report.Error = WithHint(e, TFailedStep::Transfer, e.what());
        report.Aborted = cycle.Aborted();
        return report;
    }
}

}  // namespace tarnwick
