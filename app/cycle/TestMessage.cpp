// テスト送信 of the settings window: one short message to the forwarding address, through the
// cycle's own SMTP login, so that what arrives on the phone is what forwarding would deliver.
#include <ctime>
#include <exception>
#include <random>
#include <vector>

#include "app/cycle/CycleSteps.h"
#include "app/cycle/ForwardingCycle.h"
#include "app/cycle/SizeNotice.h"
#include "app/cycle/SmtpOutbox.h"
#include "app/signin/SignIn.h"
#include "message/MailMessage.h"
#include "net/MailExceptions.h"
#include "net/MailSMTP.h"
#include "net/ReversePath.h"
#include "platform/DateTime.h"
#include "platform/Exception.h"
#include "platform/Locale.h"

namespace tarnwick {

using detail::ForceClose;
using detail::OneLine;

namespace {

// As the window's boxes name them, in the order of TSecurity and TAuthMethod.
constexpr const char* kSecurityNames[] = {"なし", "STARTTLS", "SSL/TLS"};
constexpr const char* kAuthNames[] = {"パスワード", "OAuth2 Microsoft", "OAuth2 Google", "OAuth2 その他"};

std::string DateTimeText(TDateTime value) {
    int year, month, day;
    DecodeDate(value, year, month, day);
    return Format("%04d/%02d/%02d ", year, month, day) + FormatTimeHMS(value);
}

std::string ServerLine(const TServerAccount& server) {
    return std::string(server.Name()) + "サーバ: " + (server.Server.empty() ? std::string("(なし)") : server.Server) +
           " (" + kSecurityNames[static_cast<int>(server.Access.Security)] + "、" +
           kAuthNames[static_cast<int>(server.Access.Auth.Method)] + ")";
}

// Whose message it is, as forwarding would send it: the envelope sender set, else the account's
// own address when a user name is one, else the forwarding address itself.
std::string OwnAddress(const TSettings& settings) {
    const TServerSettings& s = settings.Servers;
    for (const std::string* address : {&s.EnvelopeFrom, &s.SmtpUser, &s.Pop3User})
        if (address->find('@') != std::string::npos && ReversePathFor(*address).Problem.empty()) return *address;
    return settings.ForwardAddress();
}

void ComposeTestMessage(const TSettings& settings, TMailMessage& message) {
    message.Clear();
    message.NoEncode = false;
    message.From.Address = OwnAddress(settings);
    message.Recipients.Add().SetText(settings.ForwardAddress());
    // Some receivers refuse a message without one; nothing on the way adds it for certain.
    const std::string& from = message.From.Address;
    message.ExtraHeaders.Add(Format("Message-ID: <%llx.%x.tarnwick@", static_cast<unsigned long long>(std::time(nullptr)),
                                    std::random_device()()) +
                             from.substr(from.rfind('@') + 1) + ">");
    message.ExtraHeaders.Add("MIME-Version: 1.0");
    std::vector<std::string> lines;
    for (const std::string& line :
         {std::string("Tarnwick からのテスト送信です。転送されるメールもこの宛先に届きます。"), std::string(),
          "日時: " + DateTimeText(Now()), ServerLine(settings.Servers.Account(TServerKind::Pop3)),
          ServerLine(settings.Servers.Account(TServerKind::Smtp)), "差出人: " + message.From.Address,
          "転送先: " + settings.ForwardAddress(), "監視間隔: " + IntToStr(settings.IntervalMinutes) + "分"})
        lines.push_back(Cp932ToUtf8(line));
    SetShortText(message, Cp932ToUtf8(TestMessageSubject), lines);
}

}  // namespace

TConnectionReport TForwardingCycle::SendTestMessage(const TSettings& settings) {
    TConnectionReport report;
    const std::string prefix = "テスト送信: ";
    const TServerSettings& servers = settings.Servers;
    if (Trim(servers.SmtpServer).empty()) report.Summary = "SMTPサーバアドレスが入力されていません";
    else if (Trim(settings.MailUser).empty() || Trim(settings.MailDomain).empty())
        report.Summary = "転送先アドレスが入力されていません";
    if (!report.Summary.empty()) {
        AddLog(prefix + report.Summary);
        return report;
    }

    TMailSMTP& smtp = MailSMTP();
    try {
        OpenSmtp(servers);
    } catch (const std::exception& e) {
        ForceClose(smtp);
        const std::string failure = OneLine(LoginFailure(e));
        AddLog(prefix + "SMTPサーバに接続失敗(" + servers.SmtpServer + ") " + failure);
        report.Summary = "SMTP: " + failure;
        return report;
    }
    const std::string to = settings.ForwardAddress();
    TMailMessage message;
    TSmtpOutbox outbox(smtp, servers.SmtpServer, [] { return false; });
    try {
        ComposeTestMessage(settings, message);
        outbox.Send(message);
        report.SmtpOk = true;
        report.Summary = "送信しました (" + to + ")";
        AddLog(prefix + to + " に送信しました(" + servers.SmtpServer + ")");
    } catch (const EMailException& e) {
        report.Summary = OneLine(outbox.Reason(e));
    } catch (const std::exception& e) {
        report.Summary = OneLine(e.what());
    }
    if (!report.SmtpOk) {
        AddLog(prefix + outbox.Where() + "で送信失敗 " + report.Summary);
        report.Summary = "SMTP: " + report.Summary;
    }
    try {
        smtp.Disconnect();
    } catch (const std::exception&) {
        ForceClose(smtp);
    }
    return report;
}

}  // namespace tarnwick
