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

class TForwardingCycle {
public:
    using TAddLog = std::function<void(const std::string& text)>;

    explicit TForwardingCycle(TAddLog addLog);
    ~TForwardingCycle();
    TForwardingCycle(const TForwardingCycle&) = delete;
    TForwardingCycle& operator=(const TForwardingCycle&) = delete;

    // Runs one whole cycle. Errors that leave the cycle are raised as exceptions derived from
    // tarnwick::Exception, carrying the text to show the user.
    // Logins and log-offs that fail are logged and handled here; a message that cannot be
    // retrieved or that the SMTP server refuses for good (5xx) is logged, skipped and offered
    // again next cycle. Whatever error still leaves the cycle closes both connections first.
    void ForwardNewMail(const TServerSettings& settings, const std::string& forwardAddress);

    // The two clients, kept for the whole run (tests adjust their time-outs).
    TMailPOP3& MailPOP3();
    TMailSMTP& MailSMTP();

private:
    bool LoginPop3(const TServerSettings& settings);
    bool LoginSmtp(const TServerSettings& settings);
    bool LogoffPop3();
    bool LogoffSmtp();
    void SkipMessage(const TMailMessage& message, const std::string& id, const std::string& reason);
    void AddLog(const std::string& text);

    struct Impl;
    TAddLog addLog_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tarnwick
