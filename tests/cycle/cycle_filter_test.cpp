// The cycle with a size limit, rules and refusals that wait: transcripts against scripted servers.
// A message held back is never downloaded whole (no RETR), a big one becomes a notice made from
// its header block.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "app/cycle/RefusalBackoff.h"
#include "cycle/CycleFixture.h"
#include "platform/Locale.h"

namespace tarnwick::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

std::string Mail(int n, const std::string& subject) {
    return "From: s" + std::to_string(n) + "@example.jp\r\nSubject: " + subject + "\r\nDate: Tue, 8 Dec 2026 21:05:09 +0900\r\n\r\nbody " +
           std::to_string(n) + "\r\n";
}
std::string HeaderOf(const std::string& mail) { return mail.substr(0, mail.find("\r\n\r\n") + 4); }

class FilteredCycle : public ScriptedCycleTest {
protected:
    void SetUp() override {
        ScriptedCycleTest::SetUp();
        run_.Servers = settings_;
        run_.MailUser = "taro";
        run_.MailDomain = "docomo.ne.jp";
        cycle_.Clock = [this] { return now_; };
    }
    void Size(int n, size_t size) {
        pop3_.Expect("LIST " + std::to_string(n)).SendLine("+OK " + std::to_string(n) + " " + std::to_string(size));
    }
    void Top(int n, const std::string& mail) {
        pop3_.Expect("TOP " + std::to_string(n) + " 0").SendLine("+OK").Send(HeaderOf(mail) + ".\r\n");
    }
    void Retr(int n, const std::string& mail) {
        Size(n, mail.size());
        pop3_.Expect("RETR " + std::to_string(n)).SendLine("+OK").Send(mail + ".\r\n");
    }
    void SmtpSend(int n, const std::string& last = "250 queued") {
        smtp_.Expect("RSET").SendLine("250 ok").Expect("MAIL FROM:<s" + std::to_string(n) + "@example.jp>").SendLine("250 ok");
        smtp_.Expect("RCPT TO:<taro@docomo.ne.jp>").SendLine("250 ok").Expect("DATA").SendLine("354 go");
        smtp_.ExpectUntil(".").SendLine(last);
    }
    void Run() { cycle_.ForwardNewMail(run_); }

    TSettings run_;
    int64_t now_ = 1'800'000'000;
};

TEST_F(FilteredCycle, ABigMessageBecomesANoticeAndATaggedOneIsHeldBackWithoutRetr) {
    run_.Filter.MaxSizeKB = 1;
    run_.Filter.Rules.Items = {{"Subject", "[spam]"}};
    const std::string small = Mail(1, "hello"), big = Mail(2, "photos") + std::string(2000, 'x') + "\r\n",
                      tagged = Mail(3, "[SPAM] buy now");
    Pop3Login();
    Pop3Listing({"1 id1", "2 id2", "3 id3"});
    Size(1, small.size());
    Size(2, big.size());
    Size(3, tagged.size());
    Top(1, small);
    Top(2, big);
    Top(3, tagged);
    Retr(1, small);
    pop3_.Expect("QUIT");
    SmtpLogin();
    SmtpSend(1);
    SmtpSend(2);
    smtp_.Expect("QUIT");
    pop3_.Start();
    smtp_.Start();
    Run();
    ExpectScriptsDone();

    EXPECT_THAT(TakeLog(), ElementsAre(Pop3In(), "メールリストを取得", "新規メール 3件",
                                       "転送しない条件に一致([SPAM] buy now) 条件「Subject: [spam]」", SmtpIn(),
                                       "メール転送(hello)", "サイズ超過のため通知を転送(photos) 3KB",
                                       "転送 1件、通知 1件、保留 1件", Pop3Out(), SmtpOut()));
    // Held back and notified count as done: recorded, in the order they were settled.
    EXPECT_EQ(Ledger(), "id3\r\nid1\r\nid2\r\n");
    const TCycleReport& report = cycle_.Report();
    EXPECT_EQ(report.Forwarded, 1);
    EXPECT_EQ(report.Notices, 1);
    EXPECT_EQ(report.HeldBack, 1);
    EXPECT_EQ(ExitCodeOf(report), kExitAllForwarded);
    // The notice went out, made by the message model: its own subject, not the big body.
    const std::string sent = smtp_.Received();
    EXPECT_THAT(sent, HasSubstr("Subject: =?ISO-2022-JP?B?"));
    EXPECT_THAT(sent, HasSubstr("Content-Type: text/plain;\r\n\tcharset=\"ISO-2022-JP\"\r\n"));
    EXPECT_THAT(sent, Not(HasSubstr("xxxxxxxx")));
    EXPECT_THAT(StatusOf(report, "12:00").Tip, "12:00 転送 1件、通知 1件、保留 1件");
}

TEST_F(FilteredCycle, WithoutNoticeABigMessageIsLoggedOnceAndRecorded) {
    run_.Filter.MaxSizeKB = 1;
    run_.Filter.SizeNotice = false;
    const std::string big = Mail(1, "photos") + std::string(2000, 'x') + "\r\n";
    Pop3Login();
    Pop3Listing({"1 id1"});
    Size(1, big.size());
    Top(1, big);
    pop3_.Expect("QUIT");
    // The next cycle has nothing new.
    pop3_.Accept();
    Pop3Login();
    Pop3Listing({"1 id1"});
    pop3_.Expect("QUIT");
    pop3_.Start();
    smtp_.Start();
    Run();
    EXPECT_THAT(TakeLog(), ElementsAre(Pop3In(), "メールリストを取得", "新規メール 1件",
                                       "サイズ超過のため転送せず(photos) 3KB [id1]", "転送 0件、保留 1件", Pop3Out(),
                                       "SMTPサーバからログオフ()"));
    Run();
    EXPECT_THAT(TakeLog(), ElementsAre(Pop3In(), "メールリストを取得", "新規メール 0件", Pop3Out(),
                                       "SMTPサーバからログオフ()"));
    EXPECT_TRUE(pop3_.Finish());
    EXPECT_THAT(pop3_.Mismatches(), IsEmpty());
    EXPECT_EQ(smtp_.Connections(), 0);
    EXPECT_EQ(Ledger(), "id1\r\n");
}

TEST_F(FilteredCycle, OtherSmtpSettingsOrResendNowEndTheWaitAtOnce) {
    const std::string mail = Mail(1, "hello");
    // Refused, then (other SMTP user) refused again at once, then (今すぐ再送) sent.
    for (int cycle = 0; cycle < 3; ++cycle) {
        if (cycle > 0) {
            pop3_.Accept();
            smtp_.Accept();
        }
        Pop3Login();
        Pop3Listing({"1 id1"});
        Retr(1, mail);
        pop3_.Expect("QUIT");
        SmtpLogin();
        SmtpSend(1, cycle < 2 ? "554 refused" : "250 queued");
        smtp_.Expect("QUIT");
    }
    pop3_.Start();
    smtp_.Start();
    Run();
    EXPECT_EQ(cycle_.Report().Waiting, 1);
    run_.Servers.SmtpUser = "another";
    run_.Servers.SmtpPass = "x";
    Run();
    EXPECT_EQ(cycle_.Report().Waiting, 1);
    run_.ResendRefused = true;
    Run();
    ExpectScriptsDone();
    EXPECT_THAT(TakeLog(), ::testing::Contains("送信を拒否されたメールを今すぐ再送します"));
    EXPECT_EQ(cycle_.Report().Forwarded, 1);
    EXPECT_EQ(cycle_.Report().Waiting, 0);
    EXPECT_EQ(Ledger(), "id1\r\n");
}

// The header block of message 2 is longer than the client reads: that message alone is skipped
// (and tried again next cycle); the rest go after a new login. With a size limit, then a rule.
class UnreadableHeader : public FilteredCycle, public ::testing::WithParamInterface<bool> {};

TEST_P(UnreadableHeader, SkipsThatMessageAlone) {
    const bool byRule = GetParam();
    const std::string one = Mail(1, "one"), huge = Mail(2, std::string(400, 'h')), three = Mail(3, "three");
    if (byRule) run_.Filter.Rules.Items = {{"Subject", "[spam]"}};
    else run_.Filter.MaxSizeKB = 1;
    cycle_.MailPOP3().MaxMessageSize = 300;
    Pop3Login();
    Pop3Listing({"1 id1", "2 id2", "3 id3"});
    if (byRule) {
        Top(1, one);
    } else {
        Size(1, one.size());
        Size(2, 5000);
        Size(3, three.size());
    }
    Top(2, huge);
    pop3_.Accept();
    Pop3Login();
    if (byRule) Top(3, three);
    Retr(1, one);
    Retr(3, three);
    pop3_.Expect("QUIT");
    SmtpLogin();
    SmtpSend(1);
    SmtpSend(3);
    smtp_.Expect("QUIT");
    pop3_.Start();
    smtp_.Start();
    Run();
    ExpectScriptsDone();
    EXPECT_THAT(TakeLog(), ::testing::Contains("メール転送失敗() Message is over the size limit of 300 bytes. [id2]"));
    EXPECT_EQ(Ledger(), "id1\r\nid3\r\n");
    EXPECT_EQ(cycle_.Report().Forwarded, 2);
    EXPECT_EQ(ExitCodeOf(cycle_.Report()), kExitSomeSkipped);
}

INSTANTIATE_TEST_SUITE_P(LimitAndRule, UnreadableHeader, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Rule" : "SizeLimit"; });

}  // namespace
}  // namespace tarnwick::test
