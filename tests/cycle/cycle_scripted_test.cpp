// The forwarding cycle against scripted loopback servers: exact transcripts, and what each kind of
// failure does to the log, the ledger and the next cycle.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "app/cycle/RefusalBackoff.h"
#include "cycle/CycleFixture.h"
#include "net/MailExceptions.h"
#include "net/MailPOP3.h"
#include "net/MailSMTP.h"
#include "platform/Exception.h"
#include "support/DiskLimits.h"
#include "support/Raised.h"
#include "support/ScriptedServer.h"

namespace tarnwick::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

std::string Mail(int n) {
    return "From: a@example.jp\r\nSubject: s" + std::to_string(n) + "\r\n\r\nbody " + std::to_string(n) + "\r\n";
}

class ScriptedCycle : public ScriptedCycleTest {
protected:

    // --- script pieces
    // The size the server announces before a message is retrieved.
    void Pop3Size(int n, size_t size) {
        pop3_.Expect("LIST " + std::to_string(n)).SendLine("+OK " + std::to_string(n) + " " + std::to_string(size));
    }
    void Pop3Retr(int n, const std::string& message) {
        Pop3Size(n, message.size());
        pop3_.Expect("RETR " + std::to_string(n)).SendLine("+OK").Send(message + ".\r\n");
    }
    // One transaction; refuseAt names the command ("MAIL", "RCPT", "DATA", ".") that gets reply.
    void SmtpSend(const std::string& refuseAt = "", const std::string& reply = "") {
        auto step = [&](const std::string& command, const std::string& expect, const std::string& ok) {
            if (command == ".") smtp_.ExpectUntil(".");
            else smtp_.Expect(expect);
            smtp_.SendLine(refuseAt == command ? reply : ok);
            return refuseAt != command;
        };
        smtp_.Expect("RSET").SendLine("250 ok");
        step("MAIL", "MAIL FROM:<a@example.jp>", "250 ok") && step("RCPT", "RCPT TO:<" + forwardAddress_ + ">", "250 ok") &&
            step("DATA", "DATA", "354 go") && step(".", ".", "250 queued");
    }
    void Start() {
        pop3_.Start();
        smtp_.Start();
    }
    void Run() { cycle_.ForwardNewMail(settings_, forwardAddress_); }


};

// --- the whole conversation

class ScriptedCycleTranscript : public ScriptedCycle, public ::testing::WithParamInterface<bool> {};

TEST_P(ScriptedCycleTranscript, ForwardsEachNewMessageUnchangedAndRecordsItsId) {
    pop3_.ByteAtATime(GetParam());
    smtp_.ByteAtATime(GetParam());
    // id12 known, "gone" no longer listed; the new id1 is part of id12 and must still fetch its
    // own message.
    WriteWholeFile(ledgerFile_, "gone\r\nid12\r\n");
    const std::string encoded =
        "From: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?= <x@example.jp>\r\nSubject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\r\n"
        "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\nContent-Transfer-Encoding: base64\r\n\r\n"
        "aGVsbG8=\r\n--b--\r\n";
    Pop3Login();
    Pop3Listing({"1 id12", "2 id1", "3 id 3"});
    Pop3Retr(2, "From: a@example.jp\r\nSubject: s2\r\n\r\n..leading dot\r\n\r\nend\r\n");
    Pop3Retr(3, encoded);
    pop3_.Expect("QUIT");
    SmtpLogin();
    SmtpSend();
    smtp_.Expect("RSET").SendLine("250 ok").Expect("MAIL FROM:<x@example.jp>").SendLine("250 ok");
    smtp_.Expect("RCPT TO:<taro@docomo.ne.jp>").SendLine("250 ok").Expect("DATA").SendLine("354 go");
    smtp_.ExpectUntil(".").SendLine("250 ok").Expect("QUIT");
    Start();

    Run();

    ExpectScriptsDone();
    EXPECT_THAT(TakeLog(), ElementsAre(Pop3In(), "メールリストを取得", "新規メール 2件", SmtpIn(), "メール転送(s2)",
                                       "メール転送(テスト)", Pop3Out(), SmtpOut()));
    EXPECT_EQ(Ledger(), "id12\r\nid1\r\nid 3\r\n");
    // Header lines and body lines go out as retrieved, dot-stuffed; encoded parts stay encoded.
    const std::string smtp = smtp_.Received();
    EXPECT_THAT(smtp, HasSubstr("DATA\r\nFrom: a@example.jp\r\nSubject: s2\r\n\r\n..leading dot\r\n\r\nend\r\n.\r\n"));
    EXPECT_THAT(smtp, HasSubstr("DATA\r\n" + encoded + ".\r\nQUIT\r\n"));
}

INSTANTIATE_TEST_SUITE_P(Delivery, ScriptedCycleTranscript, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "ByteAtATime" : "Whole"; });

TEST_F(ScriptedCycle, AnIdThatCannotBeOneLedgerLineIsSkippedAndSaidAndHidesNoOther) {
    // A bare CR or LF would read back as two ids; a space or 71 characters are stored as they are.
    const std::string longId(71, 'L');
    for (int cycle = 0; cycle < 2; ++cycle) {
        if (cycle > 0) {
            pop3_.Accept();
            smtp_.Accept();
        }
        Pop3Login();
        if (cycle == 0) Pop3Listing({"1 k001", "2 k002\rk003", "3 k 004", "4 " + longId});
        else Pop3Listing({"1 k001", "2 k002\rk003", "3 k 004", "4 " + longId, "5 k003"});
        if (cycle == 0) {
            Pop3Retr(1, Mail(1));
            Pop3Retr(3, Mail(3));
            Pop3Retr(4, Mail(4));
        } else {
            Pop3Retr(5, Mail(5));
        }
        pop3_.Expect("QUIT");
        SmtpLogin();
        for (int n = 0; n < (cycle == 0 ? 3 : 1); ++n) SmtpSend();
        smtp_.Expect("QUIT");
    }
    Start();
    Run();
    const std::string skipped = "メール転送失敗(2) IDに使えない文字を含むため転送しません [k002\\x0Dk003]";
    EXPECT_THAT(TakeLog(), ::testing::Contains(skipped));
    EXPECT_EQ(ExitCodeOf(cycle_.Report()), kExitSomeSkipped);
    Run();
    ExpectScriptsDone();
    EXPECT_THAT(TakeLog(), ::testing::Contains(skipped));
    EXPECT_EQ(cycle_.Report().Forwarded, 1);
    EXPECT_EQ(Ledger(), "k001\r\nk 004\r\n" + longId + "\r\nk003\r\n");
}

// --- logins and the listing

TEST_F(ScriptedCycle, RefusedPop3LoginEndsTheCycleWithOneLine) {
    WriteWholeFile(ledgerFile_, "a\r\n");
    const FileStamp before = StampOf(ledgerFile_);
    pop3_.SendLine("+OK ready").Expect("CAPA").SendLine("-ERR").Expect("USER u").SendLine("+OK").Expect("PASS p").SendLine("-ERR wrong password");
    pop3_.Start();
    Run();
    EXPECT_TRUE(pop3_.Finish());
    // The line says why, in the server's words.
    EXPECT_THAT(TakeLog(), ElementsAre("POP3サーバにログイン失敗(" + pop3Text_ + ") 【ユーザ名またはパスワードが違います】 wrong password"));
    EXPECT_FALSE(cycle_.MailPOP3().IsConnected());
    EXPECT_EQ(smtp_.Connections(), 0);
    EXPECT_TRUE(StampOf(ledgerFile_) == before);

    // Nobody listening at all: the same.
    RefusingPort closed;
    settings_.Pop3Server = "127.0.0.1:" + std::to_string(closed.Port());
    Run();
    EXPECT_THAT(TakeLog(), ElementsAre("POP3サーバにログイン失敗(" + settings_.Pop3Server +
                                       ") 【接続が拒否されました。サーバ名とポート番号を確認してください】 Socket Error # 10061 Connection refused."));
}

TEST_F(ScriptedCycle, IncompleteSettingsAreSaidOnceInsteadOfAFailedLoginEveryInterval) {
    const TServerSettings complete = settings_;
    settings_.Pop3Server = "";
    settings_.SmtpServer = " ";
    Run();
    Run();
    EXPECT_THAT(TakeLog(), ElementsAre("設定が不完全です(POP3サーバアドレス、SMTPサーバアドレスが未入力)"));
    settings_ = complete;
    forwardAddress_ = "@docomo.ne.jp";
    Run();
    forwardAddress_ = "taro@";
    Run();
    EXPECT_THAT(TakeLog(), ElementsAre("設定が不完全です(転送先メールアドレスが未入力)"));
    // A user part holding "@" goes to no server and names no ledger file.
    forwardAddress_ = "taro@@docomo.ne.jp";
    EXPECT_EQ(cycle_.ForwardNewMail(settings_, forwardAddress_).End, TCycleReport::TEnd::Incomplete);
    EXPECT_THAT(TakeLog(), ElementsAre(HasSubstr("設定が正しくありません: 転送先メールアドレスの「@」の前に")));
    EXPECT_EQ(pop3_.Connections(), 0);
    EXPECT_EQ(smtp_.Connections(), 0);
}

TEST_F(ScriptedCycle, RefusedSmtpLoginLogsOffPop3AndLeavesTheLedgerAlone) {
    WriteWholeFile(ledgerFile_, "gone\r\n");
    const FileStamp before = StampOf(ledgerFile_);
    Pop3Login();
    Pop3Listing({"1 a", "2 b"});
    pop3_.Expect("QUIT");
    smtp_.SendLine("554 go away");
    Start();
    Run();
    ExpectScriptsDone();
    EXPECT_THAT(TakeLog(), ElementsAre(Pop3In(), "メールリストを取得", "新規メール 2件", SmtpIn(),
                                       "SMTPサーバにログイン失敗(" + smtpText_ + ") 【サーバに拒否されました。サーバ名・ユーザ名・暗号化の方式を確認してください】 go away", Pop3Out()));
    EXPECT_FALSE(cycle_.MailSMTP().IsConnected());
    EXPECT_TRUE(StampOf(ledgerFile_) == before);
}

TEST_F(ScriptedCycle, ARefusedPasswordOrAMissingStartTlsIsAFailedSmtpLoginWithNothingSent) {
    settings_.SmtpUser = "su";
    settings_.SmtpPass = "sp";
    for (int run = 0; run < 2; ++run) {
        Pop3Login();
        Pop3Listing({"1 a"});
        pop3_.Expect("QUIT");
        if (run == 0) pop3_.Accept();
    }
    // base64("\0su\0sp"); the login comes at once, before any transaction.
    smtp_.SendLine("220 mx").Expect("EHLO tester").SendLine("250-mx").SendLine("250 AUTH PLAIN LOGIN");
    smtp_.Expect("AUTH PLAIN AHN1AHNw").SendLine("535 5.7.8 Error: authentication failed").Expect("QUIT");
    smtp_.Accept();
    smtp_.SendLine("220 mx").Expect("EHLO tester").SendLine("250-mx").SendLine("250 AUTH PLAIN").Expect("QUIT");
    Start();
    Run();
    settings_.SmtpAccess.Security = TSecurity::StartTLS;
    Run();
    ExpectScriptsDone();
    const std::vector<std::string> log = TakeLog();
    ASSERT_EQ(log.size(), 12u);
    EXPECT_EQ(log[4], "SMTPサーバにログイン失敗(" + smtpText_ + ") 【ユーザ名またはパスワードが違います】 5.7.8 Error: authentication failed");
    EXPECT_EQ(log[10], "SMTPサーバにログイン失敗(" + smtpText_ + ") 【暗号化の方式を確認してください: SSL/TLS か STARTTLS】 The SMTP server does not offer STARTTLS.");
}

TEST_F(ScriptedCycle, NoNewMailOrARefusedListingLogsTheShortSequenceWithoutSmtpOrLedgerWrite) {
    WriteWholeFile(ledgerFile_, "a\r\nb\r\n");
    const FileStamp before = StampOf(ledgerFile_);
    Pop3Login();
    Pop3Listing({"1 a", "2 b"});
    pop3_.Expect("QUIT").Accept();
    Pop3Login();
    pop3_.Expect("UIDL").SendLine("-ERR not now").Expect("QUIT");
    pop3_.Start();
    for (int cycle = 0; cycle < 2; ++cycle) {
        Run();
        // No SMTP login yet in this run: the log-off line names no server.
        EXPECT_THAT(TakeLog(), ElementsAre(Pop3In(), "メールリストを取得", "新規メール 0件", Pop3Out(), "SMTPサーバからログオフ()"));
    }
    EXPECT_TRUE(pop3_.Finish());
    EXPECT_THAT(pop3_.Mismatches(), IsEmpty());
    EXPECT_EQ(smtp_.Connections(), 0);
    EXPECT_TRUE(StampOf(ledgerFile_) == before);
}

// --- a message refused for good: skipped, offered again once its wait is over

struct Refusal {
    const char* at;
    const char* reply;
};

class PermanentRefusal : public ScriptedCycle, public ::testing::WithParamInterface<Refusal> {};

TEST_P(PermanentRefusal, SkipsTheMessageForwardsTheOthersAndOffersItAgainAfterItsWait) {
    int64_t now = 1'800'000'000;
    cycle_.Clock = [&now] { return now; };
    Pop3Login();
    Pop3Listing({"1 id1", "2 id2", "3 id3"});
    Pop3Retr(1, Mail(1));
    Pop3Retr(2, Mail(2));
    Pop3Retr(3, Mail(3));
    pop3_.Expect("QUIT");
    SmtpLogin();
    SmtpSend();
    SmtpSend(GetParam().at, GetParam().reply);
    SmtpSend();
    smtp_.Expect("QUIT");
    // The next cycle, within the wait: message 2 is not even downloaded, and no SMTP login.
    pop3_.Accept();
    Pop3Login();
    Pop3Listing({"1 id1", "2 id2", "3 id3"});
    pop3_.Expect("QUIT");
    // Once the wait (one interval: 5 minutes) is over: only message 2.
    pop3_.Accept();
    Pop3Login();
    Pop3Listing({"1 id1", "2 id2", "3 id3"});
    Pop3Retr(2, Mail(2));
    pop3_.Expect("QUIT");
    smtp_.Accept();
    SmtpLogin();
    SmtpSend();
    smtp_.Expect("QUIT");
    Start();

    Run();
    EXPECT_THAT(TakeLog(), ElementsAre(Pop3In(), "メールリストを取得", "新規メール 3件", SmtpIn(), "メール転送(s1)",
                                       "メール転送失敗(s2) " + std::string(GetParam().reply + 4) + " 次の再送は" +
                                           TRefusalBackoff::TimeText(now + 300) + "以降 [id2]",
                                       "メール転送(s3)", "転送 2件、再送待ち 1件", Pop3Out(), SmtpOut()));
    EXPECT_EQ(Ledger(), "id1\r\nid3\r\n");
    EXPECT_EQ(cycle_.Report().Waiting, 1);

    now += 299;
    Run();
    EXPECT_THAT(TakeLog(), ElementsAre(Pop3In(), "メールリストを取得", "新規メール 1件", "転送 0件、再送待ち 1件",
                                       Pop3Out(), SmtpOut()));
    EXPECT_EQ(cycle_.Report().Waiting, 1);

    now += 1;
    Run();
    ExpectScriptsDone();
    EXPECT_THAT(TakeLog(), ElementsAre(Pop3In(), "メールリストを取得", "新規メール 1件", SmtpIn(), "メール転送(s2)",
                                       Pop3Out(), SmtpOut()));
    EXPECT_EQ(Ledger(), "id1\r\nid3\r\nid2\r\n");
    EXPECT_EQ(ReadWholeFile(ledgerFile_ + ".wait").find("id2"), std::string::npos) << "forgotten once sent";
}

INSTANTIATE_TEST_SUITE_P(Stages, PermanentRefusal,
                         ::testing::Values(Refusal{"MAIL", "553 sender refused"}, Refusal{"RCPT", "550 no such user"},
                                           Refusal{"DATA", "554 no data for you"}, Refusal{".", "552 too big"}),
                         [](const auto& info) { return std::string(info.param.at) == "." ? "Dot" : info.param.at; });

TEST_F(ScriptedCycle, MessageThePop3ServerWillNotGiveIsSkipped) {
    Pop3Login();
    // Message 2 is refused; the line of id3 has no message number.
    Pop3Listing({"1 id1", "2 id2", "id3", "4 id4"});
    Pop3Retr(1, Mail(1));
    Pop3Size(2, 100);
    pop3_.Expect("RETR 2").SendLine("-ERR no such message");
    Pop3Retr(4, Mail(4));
    pop3_.Expect("QUIT");
    SmtpLogin();
    SmtpSend();
    SmtpSend();
    smtp_.Expect("QUIT");
    Start();
    Run();
    ExpectScriptsDone();
    EXPECT_THAT(TakeLog(), ElementsAre(Pop3In(), "メールリストを取得", "新規メール 4件", SmtpIn(), "メール転送(s1)",
                                       "メール転送失敗() no such message [id2]",
                                       "メール転送失敗() '' は整数ではありません [id3]", "メール転送(s4)", Pop3Out(), SmtpOut()));
    EXPECT_EQ(Ledger(), "id1\r\nid4\r\n");
}

TEST_F(ScriptedCycle, LinesUpTo16MiBPassAndALongerOneSkipsItsMessageAfterANewLogin) {
    const std::string limitLine(16 * 1024 * 1024, 'a');
    const std::string head = "From: a@example.jp\r\nSubject: big\r\n\r\n";
    Pop3Login();
    Pop3Listing({"1 id1", "2 id2", "3 id3"});
    Pop3Retr(1, head + limitLine + "\r\n");
    Pop3Size(2, 100);
    pop3_.Expect("RETR 2").SendLine("+OK").Offer("From: a@example.jp\r\nSubject: bigger\r\n\r\n" + limitLine + "b\r\n.\r\n");
    // The reader gave up inside the message: the client logs in again for the rest.
    pop3_.Accept();
    Pop3Login();
    Pop3Retr(3, Mail(3));
    pop3_.Expect("QUIT");
    SmtpLogin();
    SmtpSend();
    SmtpSend();
    smtp_.Expect("QUIT");
    Start();
    Run();
    ExpectScriptsDone();
    EXPECT_THAT(TakeLog(), ElementsAre(Pop3In(), "メールリストを取得", "新規メール 3件", SmtpIn(), "メール転送(big)",
                                       "メール転送失敗(bigger) Max line length exceeded. [id2]", Pop3In(),
                                       "メール転送(s3)", Pop3Out(), SmtpOut()));
    EXPECT_EQ(Ledger(), "id1\r\nid3\r\n");
    EXPECT_THAT(smtp_.Received(), HasSubstr("\r\n\r\n" + limitLine + "\r\n.\r\n"));
}

TEST_F(ScriptedCycle, OverlongStatusLineToRetrSkipsTheMessageAndLogsInAgain) {
    Pop3Login();
    Pop3Listing({"1 id1", "2 id2"});
    Pop3Size(1, 100);
    pop3_.Expect("RETR 1").Offer("+OK " + std::string(20000, 'x') + "\r\n");
    pop3_.Accept();
    Pop3Login();
    Pop3Retr(2, Mail(2));
    pop3_.Expect("QUIT");
    SmtpLogin();
    SmtpSend();
    smtp_.Expect("QUIT");
    Start();
    Run();
    ExpectScriptsDone();
    EXPECT_THAT(TakeLog(), ElementsAre(Pop3In(), "メールリストを取得", "新規メール 2件", SmtpIn(),
                                       "メール転送失敗() Max line length exceeded. [id1]", Pop3In(), "メール転送(s2)",
                                       Pop3Out(), SmtpOut()));
    EXPECT_EQ(Ledger(), "id2\r\n");
}

TEST_F(ScriptedCycle, OversizeMessagesAreSkippedUnrecordedEveryCycle) {
    cycle_.MailPOP3().MaxMessageSize = 1000;
    const std::string liar = "From: a@example.jp\r\nSubject: liar\r\n\r\n" + std::string(2000, 'x') + "\r\n";
    Pop3Login();
    Pop3Listing({"1 id1", "2 id2", "3 id3"});
    // Announced too large: never retrieved.
    Pop3Size(1, 1001);
    // Announced small, but larger when sent: the reader stops and the client logs in again.
    Pop3Size(2, 100);
    pop3_.Expect("RETR 2").SendLine("+OK").Offer(liar + ".\r\n");
    pop3_.Accept();
    Pop3Login();
    Pop3Retr(3, Mail(3));
    pop3_.Expect("QUIT");
    SmtpLogin();
    SmtpSend();
    smtp_.Expect("QUIT");
    // The next cycle skips it again.
    pop3_.Accept();
    Pop3Login();
    Pop3Listing({"1 id1", "3 id3"});
    Pop3Size(1, 1001);
    pop3_.Expect("QUIT");
    smtp_.Accept();
    SmtpLogin();
    smtp_.Expect("QUIT");
    Start();

    Run();
    EXPECT_THAT(TakeLog(), ElementsAre(Pop3In(), "メールリストを取得", "新規メール 3件", SmtpIn(),
                                       "メール転送失敗() Message of 1001 bytes is over the size limit of 1000 bytes. [id1]",
                                       "メール転送失敗(liar) Message is over the size limit of 1000 bytes. [id2]",
                                       Pop3In(), "メール転送(s3)", Pop3Out(), SmtpOut()));
    Run();
    ExpectScriptsDone();
    EXPECT_THAT(TakeLog(), ElementsAre(Pop3In(), "メールリストを取得", "新規メール 1件", SmtpIn(),
                                       "メール転送失敗() Message of 1001 bytes is over the size limit of 1000 bytes. [id1]",
                                       Pop3Out(), SmtpOut()));
    EXPECT_EQ(Ledger(), "id3\r\n");
    EXPECT_EQ(TMailPOP3::DefaultMaxMessageSize, 64 * 1024 * 1024);
}

// --- errors that end the cycle: both connections closed, the next cycle logs in afresh

TEST_F(ScriptedCycle, TemporaryRefusalEndsTheCycleKeepingWhatWasSent) {
    Pop3Login();
    Pop3Listing({"1 id1", "2 id2", "3 id3"});
    Pop3Retr(1, Mail(1));
    Pop3Retr(2, Mail(2));
    pop3_.Expect("QUIT");
    SmtpLogin();
    SmtpSend();
    SmtpSend("RCPT", "451 try later");
    smtp_.Expect("QUIT");
    pop3_.Accept();
    Pop3Login();
    Pop3Listing({"1 id1", "2 id2", "3 id3"});
    Pop3Retr(2, Mail(2));
    Pop3Retr(3, Mail(3));
    pop3_.Expect("QUIT");
    smtp_.Accept();
    SmtpLogin();
    SmtpSend();
    SmtpSend();
    smtp_.Expect("QUIT");
    Start();

    auto error = Raised<EMailProtocolReplyError>([&] { Run(); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->ReplyCode, 451);
    // The error says which server refused which message, in its own words.
    EXPECT_EQ(std::string(error->what()), "SMTPサーバ(" + smtpText_ + ")でメール2(s2)の送信中に失敗: try later\r\n");
    EXPECT_FALSE(cycle_.MailPOP3().IsConnected());
    EXPECT_FALSE(cycle_.MailSMTP().IsConnected());
    EXPECT_THAT(TakeLog(), ElementsAre(Pop3In(), "メールリストを取得", "新規メール 3件", SmtpIn(), "メール転送(s1)"));
    EXPECT_EQ(Ledger(), "id1\r\n");

    Run();
    ExpectScriptsDone();
    EXPECT_THAT(TakeLog(), ElementsAre(Pop3In(), "メールリストを取得", "新規メール 2件", SmtpIn(), "メール転送(s2)",
                                       "メール転送(s3)", Pop3Out(), SmtpOut()));
    EXPECT_EQ(Ledger(), "id1\r\nid2\r\nid3\r\n");
}

// Many providers end a session after so many messages: the cycle logs in again for the rest, as
// long as each connection takes at least one. Whatever had no answer is sent again.
TEST_F(ScriptedCycle, AServerThatEndsTheConnectionAfterSomeMessagesIsLoggedIntoAgainForTheRest) {
    struct Case {
        const char* name;
        std::function<void(ScriptedServer&)> end;  // what the server does to the second message
        std::string why;                            // the end of the reconnect line
    };
    const Case cases[] = {
        {"421 to MAIL", [](ScriptedServer& s) {
             s.Expect("RSET").SendLine("250 ok").Expect("MAIL FROM:<a@example.jp>");
             s.SendLine("421 4.7.0 too many messages in this connection").Close();
         }, "4.7.0 too many messages in this connection"},
        {"close after DATA", [](ScriptedServer& s) {
             s.Expect("RSET").SendLine("250 ok").Expect("MAIL FROM:<a@example.jp>").SendLine("250 ok");
             s.Expect("RCPT TO:<taro@docomo.ne.jp>").SendLine("250 ok").Expect("DATA").SendLine("354 go").Close();
         }, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer pop3, smtp;
        settings_.Pop3Server = "127.0.0.1:" + std::to_string(pop3.Port());
        settings_.SmtpServer = "127.0.0.1:" + std::to_string(smtp.Port());
        ::unlink(ledgerFile_.c_str());
        pop3.SendLine("+OK ready").Expect("CAPA").SendLine("-ERR");
        pop3.Expect("USER u").SendLine("+OK").Expect("PASS p").SendLine("+OK");
        pop3.Expect("UIDL").SendLine("+OK").SendLine("1 id1").SendLine("2 id2").SendLine("3 id3").SendLine(".");
        for (int n : {1, 2, 2, 3}) {
            pop3.Expect("LIST " + std::to_string(n)).SendLine("+OK " + std::to_string(n) + " 50");
            pop3.Expect("RETR " + std::to_string(n)).SendLine("+OK").Send(Mail(n) + ".\r\n");
        }
        pop3.Expect("QUIT");
        smtp.SendLine("220 hi").Expect("EHLO tester").SendLine("250 ok");
        smtp.Expect("RSET").SendLine("250 ok").Expect("MAIL FROM:<a@example.jp>").SendLine("250 ok");
        smtp.Expect("RCPT TO:<taro@docomo.ne.jp>").SendLine("250 ok").Expect("DATA").SendLine("354 go");
        smtp.ExpectUntil(".").SendLine("250 queued");
        c.end(smtp);
        smtp.Accept().SendLine("220 again").Expect("EHLO tester").SendLine("250 ok");
        for (int n = 0; n < 2; ++n) {
            smtp.Expect("RSET").SendLine("250 ok").Expect("MAIL FROM:<a@example.jp>").SendLine("250 ok");
            smtp.Expect("RCPT TO:<taro@docomo.ne.jp>").SendLine("250 ok").Expect("DATA").SendLine("354 go");
            smtp.ExpectUntil(".").SendLine("250 queued");
        }
        smtp.Expect("QUIT");
        pop3.Start();
        smtp.Start();
        TakeLog();
        const TCycleReport report = cycle_.ForwardNewMail(settings_, forwardAddress_);
        EXPECT_TRUE(pop3.Finish());
        EXPECT_TRUE(smtp.Finish());
        EXPECT_THAT(smtp.Mismatches(), IsEmpty());
        EXPECT_EQ(report.End, TCycleReport::TEnd::Done);
        EXPECT_EQ(report.Forwarded, 3);
        EXPECT_EQ(report.Reconnects, 1);
        EXPECT_EQ(Ledger(), "id1\r\nid2\r\nid3\r\n");
        const std::vector<std::string> log = TakeLog();
        ASSERT_GE(log.size(), 6u);
        EXPECT_EQ(log[4], "メール転送(s1)");
        EXPECT_THAT(log[5], ::testing::StartsWith("SMTPサーバが接続を終了したため再接続します(" + settings_.SmtpServer + ")"));
        EXPECT_THAT(log[5], HasSubstr(c.why));
        EXPECT_EQ(log[6], "SMTPサーバにログイン(" + settings_.SmtpServer + ")");
    }
}

// A connection that takes nothing is no cap but a failure: no reconnecting in circles.
TEST_F(ScriptedCycle, ConnectionLostBeforeAnyMessageWentEndsTheCycle) {
    Pop3Login();
    Pop3Listing({"1 id1", "2 id2"});
    Pop3Retr(1, Mail(1));
    pop3_.Expect("QUIT");
    SmtpLogin();
    smtp_.Expect("RSET").SendLine("250 ok").Expect("MAIL FROM:<a@example.jp>").SendLine("250 ok");
    smtp_.Expect("RCPT TO:<taro@docomo.ne.jp>").SendLine("250 ok").Expect("DATA").SendLine("354 go").Close();
    Start();
    auto error = Raised<EMailException>([&] { Run(); });
    ASSERT_TRUE(error);
    EXPECT_THAT(error->what(), ::testing::StartsWith("SMTPサーバ(" + smtpText_ + ")でメール1(s1)の送信中に失敗: "));
    ExpectScriptsDone();
    EXPECT_FALSE(cycle_.MailPOP3().IsConnected());
    EXPECT_FALSE(cycle_.MailSMTP().IsConnected());
    EXPECT_FALSE(LedgerExists() && !Ledger().empty());
    EXPECT_THAT(TakeLog(), ElementsAre(Pop3In(), "メールリストを取得", "新規メール 2件", SmtpIn()));
}

// A server that offers UTF8 gets it before the first RETR (else it may wrap 8-bit headers); SMTP
// credentials the server's AUTH cannot take are said once, and mail goes on without logging in.
TEST_F(ScriptedCycle, Utf8IsAskedForAndUnusableAuthIsSaidOnce) {
    settings_.SmtpUser = "u";
    settings_.SmtpPass = "p";
    for (int cycle = 0; cycle < 2; ++cycle) {
        if (cycle > 0) {
            pop3_.Accept();
            smtp_.Accept();
        }
        // UTF8 is said before the login, the only state it is valid in.
        pop3_.SendLine("+OK ready").Expect("CAPA").SendLine("+OK\r\nUIDL\r\nUTF8\r\n.");
        pop3_.Expect("UTF8").SendLine("+OK UTF8 enabled");
        pop3_.Expect("USER u").SendLine("+OK").Expect("PASS p").SendLine("+OK");
        Pop3Listing({"1 id1"});
        Pop3Retr(1, "From: a@example.jp\r\nSubject: s1\r\n\r\nbody\r\n");
        pop3_.Expect("QUIT");
        smtp_.SendLine("220 hi").Expect("EHLO tester").SendLine("250-hi").SendLine("250 AUTH DIGEST-MD5 XOAUTH2");
        SmtpSend();
        smtp_.Expect("QUIT");
    }
    Start();
    Run();
    const std::vector<std::string> first = TakeLog();
    ::unlink(ledgerFile_.c_str());
    Run();
    ExpectScriptsDone();
    const std::string said = "SMTPサーバの認証方式(DIGEST-MD5 XOAUTH2)に対応していないため、認証せずに送信します(" + smtpText_ + ")";
    EXPECT_NE(std::find(first.begin(), first.end(), said), first.end());
    const std::vector<std::string> second = TakeLog();
    EXPECT_EQ(std::find(second.begin(), second.end(), said), second.end());
}

// The log shows subjects as the messages have them, in UTF-8: raw UTF-8, raw Shift-JIS, and
// encoded words of any charset, characters the program's code page lacks included.
TEST_F(ScriptedCycle, TheLogCarriesEachSubjectInUnicode) {
    std::vector<std::string> utf8Log;
    TForwardingCycle cycle([&](const std::string& line) { utf8Log.push_back(line); });
    cycle.MailSMTP().HeloName = "tester";
    cycle.MailPOP3().UsePipelining = false;
    const std::string subjects[] = {
        "caf\xC3\xA9 \xF0\x9F\x98\x80",          // raw UTF-8
        "\x93\xFA\x96\x7B\x8C\xEA",              // raw Shift-JIS
        "=?UTF-8?B?w6kg8J+YgA==?= =?ISO-8859-1?Q?na=EFve?=",
    };
    const std::string shown[] = {"caf\xC3\xA9 \xF0\x9F\x98\x80", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E",
                                 "\xC3\xA9 \xF0\x9F\x98\x80na\xC3\xAFve"};
    Pop3Login();
    Pop3Listing({"1 id1", "2 id2", "3 id3"});
    for (int n = 1; n <= 3; ++n)
        Pop3Retr(n, "From: a@example.jp\r\nSubject: " + subjects[n - 1] + "\r\n\r\nbody\r\n");
    pop3_.Expect("QUIT");
    SmtpLogin();
    for (int n = 1; n <= 3; ++n) SmtpSend();
    smtp_.Expect("QUIT");
    Start();
    cycle.ForwardNewMail(settings_, forwardAddress_);
    ExpectScriptsDone();
    for (const std::string& subject : shown)
        EXPECT_NE(std::find(utf8Log.begin(), utf8Log.end(), "\xE3\x83\xA1\xE3\x83\xBC\xE3\x83\xAB\xE8\xBB\xA2\xE9\x80\x81(" + subject + ")"),
                  utf8Log.end())
            << subject;
}

TEST_F(ScriptedCycle, ASenderThatCannotBeAReversePathGoesAsTheNullSenderWithALogLine) {
    const std::string mail = "From: Ann <ann@bad domain>\r\nSubject: s1\r\n\r\nbody\r\n";
    Pop3Login();
    Pop3Listing({"1 id1"});
    Pop3Retr(1, mail);
    pop3_.Expect("QUIT");
    SmtpLogin();
    smtp_.Expect("RSET").SendLine("250 ok").Expect("MAIL FROM:<>").SendLine("250 ok");
    smtp_.Expect("RCPT TO:<" + forwardAddress_ + ">").SendLine("250 ok").Expect("DATA").SendLine("354 go");
    smtp_.ExpectUntil(".").SendLine("250 ok").Expect("QUIT");
    Start();
    Run();
    ExpectScriptsDone();
    EXPECT_THAT(TakeLog(), ElementsAre(Pop3In(), "メールリストを取得", "新規メール 1件", SmtpIn(),
                                       "送信者アドレス不正のため<>で送信(ann@bad domain) space or angle bracket in the domain",
                                       "メール転送(s1)", Pop3Out(), SmtpOut()));
    EXPECT_EQ(Ledger(), "id1\r\n");
    // The From header itself goes out unchanged.
    EXPECT_THAT(smtp_.Received(), HasSubstr("DATA\r\n" + mail + ".\r\n"));
}

TEST_F(ScriptedCycle, Pop3ServerGoneDuringTheListingSaysSo) {
    Pop3Login();
    pop3_.Expect("UIDL").SendLine("+OK").SendLine("1 id1").Close();
    pop3_.Start();
    auto error = Raised<EMailConnClosedGracefully>([&] { Run(); });
    ASSERT_TRUE(error);
    EXPECT_EQ(std::string(error->what()),
              "POP3サーバ(" + pop3Text_ + ")でメールリストの取得中に失敗: Connection Closed Gracefully.");
    EXPECT_TRUE(pop3_.Finish());
    EXPECT_THAT(TakeLog(), ElementsAre(Pop3In()));
}

TEST_F(ScriptedCycle, SilentPop3ServerEndsTheCycleWithReadTimeout) {
    EXPECT_EQ(cycle_.MailPOP3().ReadTimeout, 120000);
    EXPECT_EQ(cycle_.MailSMTP().ReadTimeout, 120000);
    cycle_.MailPOP3().ReadTimeout = 200;
    Pop3Login();
    Pop3Listing({"1 id1"});
    Pop3Size(1, 100);
    pop3_.Expect("RETR 1").SendLine("+OK").Send("From: a@example.jp\r\nSubject: s1\r\n").Hold();
    SmtpLogin();
    smtp_.Expect("QUIT");
    Start();
    // The server stays silent until the client gives up.
    auto error = Raised<EMailReadTimeout>([&] { Run(); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->Message(), "Read Timeout");
    EXPECT_EQ(std::string(error->what()), "POP3サーバ(" + pop3Text_ + ")でメール1の受信中に失敗: Read Timeout");
    EXPECT_FALSE(cycle_.MailPOP3().IsConnected());
    EXPECT_FALSE(cycle_.MailSMTP().IsConnected());
    EXPECT_FALSE(LedgerExists());
    ExpectScriptsDone();
}

TEST_F(ScriptedCycle, IdsAreComparedExactlyAndEachListingLineIsItsOwnMessage) {
    // "AbC" is known; "abc" is another message. "dup" is listed twice: two messages.
    WriteWholeFile(ledgerFile_, "AbC\r\n");
    Pop3Login();
    Pop3Listing({"1 AbC", "2 abc", "3 dup", "4 dup"});
    Pop3Retr(2, Mail(2));
    Pop3Retr(3, Mail(3));
    Pop3Retr(4, Mail(4));
    pop3_.Expect("QUIT");
    SmtpLogin();
    SmtpSend();
    SmtpSend();
    SmtpSend();
    smtp_.Expect("QUIT");
    Start();
    Run();
    ExpectScriptsDone();
    EXPECT_THAT(TakeLog(), ElementsAre(Pop3In(), "メールリストを取得", "新規メール 3件", SmtpIn(), "メール転送(s2)",
                                       "メール転送(s3)", "メール転送(s4)", Pop3Out(), SmtpOut()));
    // One line per forwarded message: both messages under "dup" count as forwarded.
    EXPECT_EQ(Ledger(), "AbC\r\nabc\r\ndup\r\ndup\r\n");
}

TEST_F(ScriptedCycle, ALedgerThatCannotBeWrittenStopsTheCycleBeforeAnythingIsSent) {
    // Something else holds the ledger's name; then an address too long for a file name (a user
    // part and labels of the longest a mail address allows).
    ASSERT_EQ(::mkdir(ledgerFile_.c_str(), 0755), 0);
    std::string longAddress = std::string(64, 't') + "@";
    for (int label = 0; label < 4; ++label) longAddress += std::string(50, 'd') + ".";
    longAddress += "jp";
    for (int cycle = 0; cycle < 3; ++cycle) {
        if (cycle > 0) pop3_.Accept();
        Pop3Login();
        Pop3Listing({"1 id1"});
        if (cycle == 2) Pop3Retr(1, Mail(1));
        pop3_.Expect("QUIT");
    }
    SmtpLogin();
    SmtpSend();
    smtp_.Expect("QUIT");
    Start();

    for (const std::string& address : {forwardAddress_, longAddress}) {
        cycle_.ForwardNewMail(settings_, address);
        EXPECT_THAT(TakeLog(), ElementsAre(Pop3In(), "メールリストを取得", "新規メール 1件",
                                           HasSubstr("ファイル " + dir_ + "/" + address + ".txt を作成できません。"), Pop3Out()));
        EXPECT_EQ(smtp_.Connections(), 0);
    }
    EXPECT_THAT(NamesIn("."), ElementsAre(ledgerFile_));  // no temporary file left behind

    ASSERT_EQ(::rmdir(ledgerFile_.c_str()), 0);
    Run();
    ExpectScriptsDone();
    EXPECT_EQ(Ledger(), "id1\r\n");
}

TEST_F(ScriptedCycle, AShortLedgerAppendEndsTheCycleWithTheFileAsItWas) {
    Pop3Login();
    Pop3Listing({"1 id1", "2 id2"});
    Pop3Retr(1, Mail(1));
    Pop3Retr(2, Mail(2));
    SmtpLogin();
    SmtpSend();
    SmtpSend();
    Start();
    {
        FileSizeLimit limit(std::string("id1\r\n").size() + 2);  // "id1" fits, "id2" is cut short
        auto error = Raised<EWriteError>([&] { Run(); });
        ASSERT_TRUE(error);
        EXPECT_THAT(error->Message(), HasSubstr(dir_ + "/" + ledgerFile_));
    }
    ExpectScriptsDone();
    EXPECT_THAT(TakeLog(), ElementsAre(Pop3In(), "メールリストを取得", "新規メール 2件", SmtpIn(), "メール転送(s1)",
                                       "メール転送(s2)"));
    EXPECT_EQ(Ledger(), "id1\r\n");
}

}  // namespace
}  // namespace tarnwick::test
