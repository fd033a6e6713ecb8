// The connection test of the settings window: the cycle's own clients, set up as a cycle sets them
// up, so what passes here passes in the next cycle.
#include <exception>

#include "app/cycle/CycleSteps.h"
#include "app/cycle/ErrorHints.h"
#include "app/cycle/ForwardingCycle.h"
#include "app/signin/SignIn.h"
#include "net/MailIMAP.h"
#include "net/MailPOP3.h"
#include "net/MailSMTP.h"
#include "platform/Exception.h"
#include "platform/StringList.h"

namespace tarnwick {

using detail::ForceClose;
using detail::OneLine;

TConnectionReport TForwardingCycle::TestConnection(const TServerSettings& settings) {
    TConnectionReport report;
    std::string pop3Failure, smtpFailure;
    const std::string prefix = "接続テスト: ";

    TMailPOP3& pop3 = MailPOP3();
    const bool imap = settings.Protocol == TReceiveProtocol::Imap;
    if (Trim(settings.Pop3Server).empty()) {
        pop3Failure = "POP3サーバアドレスが入力されていません";
        AddLog(prefix + pop3Failure);
    } else if (imap) {
        pop3Failure = TestImap(settings, report);
    } else {
        try {
            OpenPop3(settings);
            TStringList listing;
            if (!pop3.ListUniqueIds(listing)) {
                pop3Failure = "UIDL: " + Trim(pop3.LastReply.Text.Text());
                AddLog(prefix + "POP3サーバにログイン(" + settings.Pop3Server + ") メール一覧を取得できません " +
                       pop3Failure);
            } else {
                report.Pop3Ok = true;
                report.Messages = listing.Count();
                AddLog(prefix + "POP3サーバにログイン成功(" + settings.Pop3Server + ") メール " +
                       IntToStr(report.Messages) + "件");
            }
            pop3.Disconnect();
        } catch (const std::exception& e) {
            ForceClose(pop3);
            report.Pop3Ok = false;
            if (pop3Failure.empty()) pop3Failure = WithHint(e, TFailedStep::Login, OneLine(LoginFailure(e)));
            AddLog(prefix + "POP3サーバにログイン失敗(" + settings.Pop3Server + ") " + pop3Failure);
        }
    }

    TMailSMTP& smtp = MailSMTP();
    if (Trim(settings.SmtpServer).empty()) {
        smtpFailure = "SMTPサーバアドレスが入力されていません";
        AddLog(prefix + smtpFailure);
    } else {
        try {
            // Greeting, EHLO (or HELO) and authentication, as a cycle logs in.
            OpenSmtp(settings);
            std::string done = smtp.Security == TMailSecurity::msNone ? "接続" : "TLS接続";
            if (smtp.Authenticated) done += "・認証";
            smtp.Disconnect();
            report.SmtpOk = true;
            AddLog(prefix + "SMTPサーバに" + done + "成功(" + settings.SmtpServer + ")");
        } catch (const std::exception& e) {
            ForceClose(smtp);
            smtpFailure = WithHint(e, TFailedStep::Login, OneLine(LoginFailure(e)));
            AddLog(prefix + "SMTPサーバに接続失敗(" + settings.SmtpServer + ") " + smtpFailure);
        }
    }

    if (pop3Failure.empty() && smtpFailure.empty()) {
        report.Summary = "成功 (メール " + IntToStr(report.Messages) + "件" +
                         (imap ? (report.Idle ? "、IDLE対応" : "、IDLE非対応") : "") + ")";
    } else {
        if (!pop3Failure.empty()) report.Summary = (imap ? "IMAP: " : "POP3: ") + pop3Failure;
        if (!smtpFailure.empty()) report.Summary += (report.Summary.empty() ? "" : " / ") + ("SMTP: " + smtpFailure);
    }
    return report;
}

// Logs in, examines the folder, and says what it holds and whether the server can say when new
// mail comes. The failure's text; empty when it passed.
std::string TForwardingCycle::TestImap(const TServerSettings& settings, TConnectionReport& report) {
    const std::string prefix = "接続テスト: ";
    CloseImap();
    TMailIMAP& imap = MailIMAP();
    try {
        OpenReceiving(settings);
        report.Pop3Ok = true;
        report.Messages = static_cast<int>(imap.Exists());
        report.Idle = imap.HasCapability("IDLE");
        AddLog(prefix + "IMAPサーバにログイン成功(" + settings.Pop3Server + ") " + settings.ImapFolder + " メール " +
               IntToStr(report.Messages) + "件 " + (report.Idle ? "IDLE対応" : "IDLE非対応(監視間隔ごとに確認)"));
        imap.Disconnect();
        return {};
    } catch (const std::exception& e) {
        CloseImap();
        report.Pop3Ok = false;
        const std::string failure = OneLine(LoginFailure(e));
        AddLog(prefix + "IMAPサーバにログイン失敗(" + settings.Pop3Server + ") " + failure);
        return failure;
    }
}

}  // namespace tarnwick
