// One forwarding cycle from login to log-off: the POP3 or IMAP mailbox and the SMTP outbox, the
// plan of what to send, then the transfer.
#include <memory>

#include "app/cycle/CycleContext.h"
#include "app/cycle/CyclePlanner.h"
#include "app/cycle/CycleSteps.h"
#include "app/cycle/CycleTransfer.h"
#include "app/cycle/ForwardingCycle.h"
#include "app/cycle/ImapMailbox.h"
#include "app/cycle/Pop3Mailbox.h"
#include "app/cycle/SmtpOutbox.h"
#include "net/MailIMAP.h"
#include "net/MailPOP3.h"
#include "net/MailSMTP.h"
#include "platform/Exception.h"

namespace tarnwick {

using detail::ForceClose;

TCycleReport TForwardingCycle::ForwardNewMail(const TSettings& settings) {
    report_ = TCycleReport{};
    const TServerSettings& servers = settings.Servers;
    // Incomplete settings are said once, not as a failed login every interval.
    if (std::string missing = MissingSettings(settings); !missing.empty()) {
        if (missing != missingShown_) AddLog(IncompleteSettingsLine(missing));
        missingShown_ = missing;
        report_.End = TCycleReport::TEnd::Incomplete;
        return report_;
    }
    // A forwarding address that does not parse would go to the server as typed and name a ledger.
    if (TFieldCheck check = CheckForwardAddress(settings); !check.Ok()) {
        if (check.Problem != missingShown_) AddLog("設定が正しくありません: " + check.Problem);
        missingShown_ = check.Problem;
        report_.End = TCycleReport::TEnd::Incomplete;
        return report_;
    }
    missingShown_.clear();

    // A watch goes on in the IMAP session its last cycle left open.
    if (!ImapSessionOpen(servers) && !LoginPop3(servers)) {
        report_.End = TCycleReport::TEnd::Pop3LoginFailed;
        return report_;
    }
    TCycleContext cycle(settings, report_);
    cycle.Log = [this](const std::string& line) { AddLog(line); };
    cycle.LogSubject = [this](const std::string& before, const std::string& subject, const std::string& after) {
        AddLogWithSubject(before, subject, after);
    };
    cycle.StopRequested = StopRequested;
    cycle.Aborted = [this] { return Aborted(); };
    cycle.Clock = Clock;
    cycle.RefusalKeyFile = RefusalKeyFile();
    const auto login = [this, &servers] { return LoginPop3(servers); };
    std::unique_ptr<TMailbox> source;
    if (servers.Protocol == TReceiveProtocol::Imap)
        source = std::make_unique<TImapMailbox>(MailIMAP(), servers.Pop3Server, ImapUidValidity(), login);
    else
        source = std::make_unique<TPop3Mailbox>(MailPOP3(), servers.Pop3Server, login);
    TMailbox& mailbox = *source;
    TSmtpOutbox outbox(MailSMTP(), servers.SmtpServer, [this, &servers] { return LoginSmtp(servers); });
    try {
        if (!TCyclePlanner(cycle, mailbox).Plan()) {
            // A login again after an unreadable header block failed, and said so.
            if (report_.End == TCycleReport::TEnd::Pop3LoginFailed) return report_;
            LogoffPop3();
            report_.End = TCycleReport::TEnd::LedgerUnwritable;
            return report_;
        }
        if (!cycle.New.empty()) {
            if (!LoginSmtp(servers)) {
                LogoffPop3();
                report_.End = TCycleReport::TEnd::SmtpLoginFailed;
                return report_;
            }
            if (!TCycleTransfer(cycle, mailbox, outbox).Forward()) {
                // A login on the way failed and said so; the other server is let go normally.
                if (report_.End == TCycleReport::TEnd::Pop3LoginFailed) LogoffSmtp();
                else LogoffPop3();
                return report_;
            }
        }
    } catch (Exception& e) {
        // Leave no half-open session behind: the next cycle logs in afresh.
        CloseAll();
        e.SetContext(cycle.DoingNow);
        throw;
    } catch (...) {
        CloseAll();
        throw;
    }
    if (report_.Notices + report_.HeldBack + report_.Waiting > 0)
        AddLog("転送 " + IntToStr(report_.Forwarded) + "件" + FilterCounts(report_));
    LogoffPop3();
    LogoffSmtp();
    return report_;
}

}  // namespace tarnwick
