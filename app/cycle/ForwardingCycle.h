#pragma once
// One forwarding cycle: log into POP3, work out the new unique ids, forward each new message through
// SMTP and keep the ledger of forwarded ids. The same log-in steps serve the connection test.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/cycle/CycleReport.h"
#include "app/settings/Settings.h"

namespace tarnwick {

class TImapTransport;
class TMailAbort;
class TMailIMAP;
class TMailPOP3;
class TMailSMTP;
class TMailTCPClient;

inline constexpr const char* TestMessageSubject = "Tarnwick テスト送信";

// What a connection test (or a test message) found; Summary is the short line shown beside its button.
struct TConnectionReport {
    bool Pop3Ok = false;  // the receiving server, POP3 or IMAP
    int Messages = 0;
    bool Idle = false;    // IMAP: the server offers IDLE
    bool SmtpOk = false;
    std::string Summary;
};

class TForwardingCycle {
public:
    // Receives each log line in UTF-8: the line's own texts converted from code page 932, a
    // subject as the message had it (characters the code page lacks included).
    using TAddLog = std::function<void(const std::string& utf8)>;

    // The sign-in state of the mode (tokens, keyring); without it a server set to sign in with
    // OAuth cannot log in.
    std::shared_ptr<class TSignInState> SignIn;

    // Asked before each message; true ends the cycle there, after the message in flight, with a
    // normal log-off.
    std::function<bool()> StopRequested;
    // Seconds since the epoch for the waits after a refusal; the system clock when empty (tests
    // set their own).
    std::function<int64_t()> Clock;
    // IMAP: a cycle leaves its session open (the folder examined) and the next one goes on in it
    // while the settings are the same. The watch sets it; --once and the tests log off.
    bool KeepImapOpen = false;

    explicit TForwardingCycle(TAddLog addLog);
    ~TForwardingCycle();
    TForwardingCycle(const TForwardingCycle&) = delete;
    TForwardingCycle& operator=(const TForwardingCycle&) = delete;

    // Runs one whole cycle. Errors that leave the cycle are raised as exceptions derived from
    // tarnwick::Exception, carrying the text to show the user; Report() still tells what was done
    // before. Logins and log-offs that fail are logged and handled here; a message that cannot be
    // retrieved or that the SMTP server refuses for good (5xx) is logged, skipped and offered
    // again next cycle. An SMTP server that ends the connection after taking some messages is
    // logged into again for the rest. Whatever error still leaves the cycle closes both
    // connections first. With SkipExisting and no ledger file for the address yet, every id on
    // the server is recorded as forwarded and nothing is sent.
    TCycleReport ForwardNewMail(const TSettings& settings);
    // The same with the servers and an address "user@domain" (tests).
    TCycleReport ForwardNewMail(const TServerSettings& servers, const std::string& forwardAddress);

    // Tries the settings without forwarding anything: POP3 login and the number of messages (IMAP:
    // the folder examined, its messages and whether IDLE is offered), then
    // the SMTP greeting, EHLO, authentication when configured, and QUIT. Each step is logged.
    TConnectionReport TestConnection(const TServerSettings& settings);
    // テスト送信: one short message to the forwarding address, logged in at the SMTP server as a
    // cycle logs in: the subject TestMessageSubject, the time and what the settings name (servers,
    // encryption, 認証方式, interval; never a password). From the envelope sender, else the SMTP or
    // POP3 user when that is an address, else the forwarding address. SmtpOk tells whether the
    // server took it; each step is logged.
    TConnectionReport SendTestMessage(const TSettings& settings);

    // From any thread: closes the connections of a running cycle, which then ends with an error;
    // no later login of this object succeeds. A message in flight is not recorded in the ledger.
    void Abort();
    bool Aborted() const;
    // The abort that Abort sets off: the connections and every other outside wait of the cycle (a
    // token request, a keyring call) listen to it. A front door opens a scope of it around work
    // of its own that waits on the outside (reading passwords from the keyring, say).
    TMailAbort& AbortGroup();

    // The clients, kept for the whole run (tests adjust their time-outs).
    TMailPOP3& MailPOP3();
    TMailIMAP& MailIMAP();
    TMailSMTP& MailSMTP();

    // The IMAP session the watch waits in, and its transport's wake.
    bool ImapSessionOpen(const TServerSettings& settings) const;
    TImapTransport& ImapTransport();
    // Any thread: ends the watch's wait for the server's news under way, or the next one.
    void Wake();
    // Closes the IMAP session whatever its state.
    void CloseImap();
    // Logs in to the IMAP server and examines the folder without a log line: the watch's quiet
    // tries after a lost connection. Raises what failed (the session closed).
    void ReopenImap(const TServerSettings& settings);

    // How the last cycle ended, also when an error left it.
    const TCycleReport& Report() const { return report_; }

private:
    friend class TImapWatch;  // its log lines and log-off
    // Aims a client at its server and logs in: TLS, greeting, EHLO and authentication as the
    // settings ask. Raises what the server or the connection said; the caller closes.
    void OpenPop3(const TServerSettings& settings);
    void OpenImap(const TServerSettings& settings);
    // The receiving server: POP3 or IMAP as the settings say.
    void OpenReceiving(const TServerSettings& settings);
    void CloseAll();
    std::string TestImap(const TServerSettings& settings, TConnectionReport& report);
    // The UIDVALIDITY of the folder the last IMAP login examined.
    uint32_t ImapUidValidity() const;
    void OpenSmtp(const TServerSettings& settings);
    bool LoginPop3(const TServerSettings& settings);
    bool LoginSmtp(const TServerSettings& settings, const char* line = "SMTPサーバにログイン(");
    bool LogoffPop3();
    bool LogoffSmtp();
    // The bodies of both: announce, when given, is logged before the login (SMTP), else the login
    // once it stands (POP3).
    bool Login(TServerKind kind, const TServerSettings& settings, const char* announce);
    bool Logoff(TServerKind kind);
    void AddLog(const std::string& cp932);
    // Where the key of the refusal waits' fingerprint is kept: beside the settings file.
    std::string RefusalKeyFile() const;
    // A line with a decoded subject in it: before and after are code page 932, the subject UTF-8.
    void AddLogWithSubject(const std::string& before, const std::string& subjectUtf8, const std::string& after);

    struct Impl;
    TAddLog addLog_;
    // What the last incomplete-settings line named, so it is not repeated every interval.
    std::string missingShown_;
    TCycleReport report_;
    std::unique_ptr<Impl> impl_;
};

// Runs one cycle and reports how it ended, the error that left it included.
TCycleReport RunCycle(TForwardingCycle& cycle, const TSettings& settings);

}  // namespace tarnwick
