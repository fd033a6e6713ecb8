// The cycle as the window drives it: cut off from another thread, the first run that records what
// the server holds, and the connection test.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "cycle/CycleFixture.h"
#include "net/MailSMTP.h"
#include "platform/Exception.h"
#include "support/ScriptedServer.h"

namespace tarnwick::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class CycleControl : public ScriptedCycleTest {
protected:
    // Waits until the server has received text, without any bound on time but the test's own.
    static bool WaitFor(const ScriptedServer& server, const std::string& text) {
        for (int i = 0; i < 2000; ++i) {
            if (server.Received().find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
};

TEST_F(CycleControl, AbortFromAnotherThreadEndsALoginToASilentServer) {
    // A server that accepts and never greets.
    pop3_.Start();
    TCycleReport result;
    std::thread run([&] { result = cycle_.ForwardNewMail(settings_, forwardAddress_); });
    while (pop3_.Connections() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    cycle_.Abort();
    run.join();
    EXPECT_EQ(result.End, TCycleReport::TEnd::Pop3LoginFailed);
    EXPECT_THAT(TakeLog(), ElementsAre("POP3サーバにログイン失敗(" + pop3Text_ + ") Aborted."));
}

TEST_F(CycleControl, AbortDuringARetrievalLeavesTheMessageUnrecorded) {
    WriteWholeFile(ledgerFile_, "a\r\n");
    Pop3Login();
    Pop3Listing({"1 a", "2 b"});
    // Half a message, then nothing more.
    pop3_.Expect("LIST 2").SendLine("+OK 2 100");
    pop3_.Expect("RETR 2").SendLine("+OK").Send("From: x@example.jp\r\nSubject: slow\r\n");
    smtp_.SendLine("220 hi").Expect("EHLO tester").SendLine("250 ok");
    pop3_.Start();
    smtp_.Start();
    std::string error;
    std::thread run([&] {
        try {
            cycle_.ForwardNewMail(settings_, forwardAddress_);
        } catch (const std::exception& e) {
            error = e.what();
        }
    });
    ASSERT_TRUE(WaitFor(pop3_, "RETR 2\r\n"));
    cycle_.Abort();
    run.join();
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(Ledger(), "a\r\n");
    EXPECT_TRUE(pop3_.Finish());
    EXPECT_TRUE(smtp_.Finish());
    // Once aborted, the object logs in nowhere again.
    TakeLog();
    EXPECT_EQ(cycle_.ForwardNewMail(settings_, forwardAddress_).End, TCycleReport::TEnd::Pop3LoginFailed);
}

TEST_F(CycleControl, FirstRunWithSkipExistingRecordsWhatIsThereThenForwardsOnlyWhatComesLater) {
    settings_.SkipExisting = true;
    Pop3Login();
    Pop3Listing({"1 a", "2 b"});
    pop3_.Expect("QUIT");
    pop3_.Accept();
    Pop3Login();
    Pop3Listing({"1 a", "2 b", "3 c"});
    pop3_.Expect("LIST 3").SendLine("+OK 3 100");
    pop3_.Expect("RETR 3").SendLine("+OK").Send("From: x@example.jp\r\nSubject: new\r\n\r\nbody\r\n.\r\n");
    pop3_.Expect("QUIT");
    smtp_.SendLine("220 hi").Expect("EHLO tester").SendLine("250 ok").Expect("RSET").SendLine("250 ok");
    smtp_.Expect("MAIL FROM:<x@example.jp>").SendLine("250 ok").Expect("RCPT TO:<taro@docomo.ne.jp>").SendLine("250 ok");
    smtp_.Expect("DATA").SendLine("354 go").ExpectUntil(".").SendLine("250 ok").Expect("QUIT");
    pop3_.Start();
    smtp_.Start();

    EXPECT_EQ(cycle_.ForwardNewMail(settings_, forwardAddress_).Forwarded, 0);
    EXPECT_THAT(TakeLog(), ElementsAre("POP3サーバにログイン(" + pop3Text_ + ")", "メールリストを取得",
                                       "既存のメール 2件を転送済みとして記録しました", "新規メール 0件",
                                       "POP3サーバからログオフ(" + pop3Text_ + ")", "SMTPサーバからログオフ()"));
    EXPECT_EQ(Ledger(), "a\r\nb\r\n");
    EXPECT_EQ(smtp_.Connections(), 0);

    EXPECT_EQ(cycle_.ForwardNewMail(settings_, forwardAddress_).Forwarded, 1);
    EXPECT_EQ(Ledger(), "a\r\nb\r\nc\r\n");
    EXPECT_TRUE(pop3_.Finish());
    EXPECT_TRUE(smtp_.Finish());
    EXPECT_THAT(pop3_.Mismatches(), IsEmpty());
    EXPECT_THAT(smtp_.Mismatches(), IsEmpty());
}

TEST_F(CycleControl, SkipExistingOnAnEmptyMailboxStillStartsTheLedger) {
    settings_.SkipExisting = true;
    Pop3Login();
    Pop3Listing({});
    pop3_.Expect("QUIT");
    pop3_.Start();
    cycle_.ForwardNewMail(settings_, forwardAddress_);
    EXPECT_TRUE(LedgerExists());
    EXPECT_EQ(Ledger(), "");
    EXPECT_TRUE(pop3_.Finish());
}

TEST_F(CycleControl, ConnectionTestLogsInCountsAndGreetsWithoutSending) {
    Pop3Login();
    Pop3Listing({"1 a", "2 b"});
    pop3_.Expect("QUIT");
    smtp_.SendLine("220 hi").Expect("EHLO tester").SendLine("250 ok").Expect("QUIT");
    pop3_.Start();
    smtp_.Start();
    const TConnectionReport report = cycle_.TestConnection(settings_);
    EXPECT_TRUE(report.Pop3Ok);
    EXPECT_TRUE(report.SmtpOk);
    EXPECT_EQ(report.Messages, 2);
    EXPECT_EQ(report.Summary, "成功 (メール 2件)");
    EXPECT_THAT(TakeLog(), ElementsAre("接続テスト: POP3サーバにログイン成功(" + pop3Text_ + ") メール 2件",
                                       "接続テスト: SMTPサーバに接続成功(" + smtpText_ + ")"));
    EXPECT_TRUE(pop3_.Finish());
    EXPECT_TRUE(smtp_.Finish());
    EXPECT_THAT(smtp_.Mismatches(), IsEmpty());
    EXPECT_FALSE(LedgerExists());
}

TEST_F(CycleControl, ConnectionTestSaysWhatFailedInTheServersWords) {
    pop3_.SendLine("+OK ready").Expect("CAPA").SendLine("-ERR").Expect("USER u").SendLine("+OK").Expect("PASS p").SendLine("-ERR [AUTH] Authentication failed.");
    pop3_.Start();
    RefusingPort refusing;
    settings_.SmtpServer = "127.0.0.1:" + std::to_string(refusing.Port());
    const TConnectionReport report = cycle_.TestConnection(settings_);
    EXPECT_FALSE(report.Pop3Ok);
    EXPECT_FALSE(report.SmtpOk);
    EXPECT_THAT(report.Summary, HasSubstr("POP3: 【ユーザ名またはパスワードが違います】 [AUTH] Authentication failed."));
    EXPECT_THAT(report.Summary, HasSubstr(" / SMTP: 【接続が拒否されました。サーバ名とポート番号を確認してください】 Socket Error # 10061"));
    const std::vector<std::string> log = TakeLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_THAT(log[0], HasSubstr("POP3サーバにログイン失敗(" + pop3Text_ + ") 【ユーザ名またはパスワードが違います】 [AUTH] Authentication failed."));

    // Empty fields get a plain line, not an error text.
    const TConnectionReport empty = cycle_.TestConnection(TServerSettings{});
    EXPECT_EQ(empty.Summary, "POP3: POP3サーバアドレスが入力されていません / SMTP: SMTPサーバアドレスが入力されていません");
}

}  // namespace
}  // namespace tarnwick::test
