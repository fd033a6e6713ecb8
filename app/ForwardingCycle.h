#pragma once
// One forwarding cycle: log into POP3, work out the new unique ids, forward each new message through
// SMTP and keep the ledger of forwarded ids. Owned by the main window, which calls ForwardNewMail.
#include <functional>
#include <memory>
#include <string>

#include "app/ServerSettings.h"

namespace tarnwick {

class TMailMessage;
class TMailPOP3;
class TMailSMTP;

// How a cycle ended, for the icon's tip: the errors that leave a cycle are exceptions instead.
struct TCycleResult {
    enum class TLogin { Ok, Pop3Failed, SmtpFailed };
    TLogin Login = TLogin::Ok;
    int Forwarded = 0;
    // New mail was left on the server because the ledger cannot be written.
    bool LedgerUnwritable = false;
};

// What a connection test found; Summary is the short line shown beside its button.
struct TConnectionReport {
    bool Pop3Ok = false;
    int Messages = 0;
    bool SmtpOk = false;
    std::string Summary;
};

// What the last cycle did, for callers that report it (the command-line modes' exit code).
struct TCycleOutcome {
    int NewCount = 0;
    int Forwarded = 0;
    int Skipped = 0;
    bool LoginFailed = false;
    bool Stopped = false;  // ended early on StopRequested
};

class TForwardingCycle {
public:
    using TAddLog = std::function<void(const std::string& text)>;

    // Asked before each message; true ends the cycle there, after the message in flight, with a
    // normal log-off.
    std::function<bool()> StopRequested;

    explicit TForwardingCycle(TAddLog addLog);
    ~TForwardingCycle();
    TForwardingCycle(const TForwardingCycle&) = delete;
    TForwardingCycle& operator=(const TForwardingCycle&) = delete;

    // Runs one whole cycle. Errors that leave the cycle are raised as exceptions derived from
    // tarnwick::Exception, carrying the text to show the user.
    // Logins and log-offs that fail are logged and handled here; a message that cannot be
    // retrieved or that the SMTP server refuses for good (5xx) is logged, skipped and offered
    // again next cycle. Whatever error still leaves the cycle closes both connections first.
    // With SkipExisting and no ledger file for the address yet, every id on the server is recorded
    // as forwarded and nothing is sent.
    TCycleResult ForwardNewMail(const TServerSettings& settings, const std::string& forwardAddress);

    // Tries the settings without forwarding anything: POP3 login and the number of messages, then
    // the SMTP greeting, EHLO, authentication when configured, and QUIT. Each step is logged.
    TConnectionReport TestConnection(const TServerSettings& settings);

    // From any thread: closes the connections of a running cycle, which then ends with an error;
    // no later login of this object succeeds. A message in flight is not recorded in the ledger.
    void Abort();

    // The two clients, kept for the whole run (tests adjust their time-outs).
    TMailPOP3& MailPOP3();
    TMailSMTP& MailSMTP();

    const TCycleOutcome& Outcome() const { return outcome_; }

private:
    // Host, port, user name and password of a client from the settings.
    void PreparePop3(const TServerSettings& settings);
    void PrepareSmtp(const TServerSettings& settings);
    bool LoginPop3(const TServerSettings& settings);
    bool LoginSmtp(const TServerSettings& settings);
    bool LogoffPop3();
    bool LogoffSmtp();
    void SkipMessage(const std::string& subject, const std::string& id, const std::string& reason);
    void AddLog(const std::string& text);

    struct Impl;
    TAddLog addLog_;
    TCycleOutcome outcome_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tarnwick
