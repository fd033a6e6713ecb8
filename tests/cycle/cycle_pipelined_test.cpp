// The cycle against servers that pipeline: sizes asked in one batch, each message asked for while
// the one before it is sent on, each message sent in one group with its envelope and without
// waiting for the replies to the one before.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cycle/CycleFixture.h"
#include "net/MailExceptions.h"
#include "net/MailPOP3.h"
#include "support/Raised.h"

namespace tarnwick::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

std::string Mail(int n) {
    return "From: a@example.jp\r\nSubject: s" + std::to_string(n) + "\r\n\r\nbody " + std::to_string(n) + "\r\n";
}

class PipelinedCycle : public ScriptedCycleTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        ScriptedCycleTest::SetUp();
        cycle_.MailPOP3().UsePipelining = true;
        pop3_.ByteAtATime(GetParam());
        smtp_.ByteAtATime(GetParam());
    }
    // RSET, MAIL, RCPT and BDAT with the message, all before any reply.
    void SmtpGroup(int n) {
        smtp_.Expect("RSET").Expect("MAIL FROM:<a@example.jp>").Expect("RCPT TO:<" + forwardAddress_ + ">");
        smtp_.Expect("BDAT " + std::to_string(Mail(n).size()) + " LAST").ExpectUntil("body " + std::to_string(n));
    }
};

INSTANTIATE_TEST_SUITE_P(WholeAndByteAtATime, PipelinedCycle, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "ByteAtATime" : "Whole"; });

TEST_P(PipelinedCycle, EachMessageGoesBeforeTheRepliesToTheOneBeforeAndARefusalSkipsOnlyItsOwn) {
    Pop3Login("+OK\r\nPIPELINING\r\n.");
    Pop3Listing({"1 a", "2 b", "3 c"});
    pop3_.Expect("LIST 1").Expect("LIST 2").Expect("LIST 3");
    for (int n = 1; n <= 3; ++n) pop3_.SendLine("+OK " + std::to_string(n) + " " + std::to_string(Mail(n).size()));
    for (int n = 1; n <= 3; ++n) pop3_.Expect("RETR " + std::to_string(n)).SendLine("+OK").Send(Mail(n) + ".\r\n");
    pop3_.Expect("QUIT");

    smtp_.SendLine("220 hi").Expect("EHLO tester").SendLine("250-ok").SendLine("250-PIPELINING").SendLine("250 CHUNKING");
    // Each message goes before the replies to the one before it are read: the server answers
    // the first only once it has the second.
    SmtpGroup(1);
    SmtpGroup(2);
    smtp_.SendLine("250 ok").SendLine("250 ok").SendLine("250 ok").SendLine("250 queued");
    SmtpGroup(3);
    smtp_.SendLine("250 ok").SendLine("250 ok").SendLine("250 ok").SendLine("250 queued");
    smtp_.SendLine("250 ok").SendLine("250 ok").SendLine("550 5.1.1 no such user").SendLine("503 5.5.1 no recipients");
    smtp_.Expect("QUIT");
    pop3_.Start();
    smtp_.Start();
    cycle_.ForwardNewMail(settings_, forwardAddress_);

    EXPECT_TRUE(pop3_.Finish());
    EXPECT_TRUE(smtp_.Finish());
    EXPECT_THAT(pop3_.Mismatches(), IsEmpty());
    EXPECT_THAT(smtp_.Mismatches(), IsEmpty());
    const std::vector<std::string> log = TakeLog();
    ASSERT_EQ(log.size(), 10u);
    EXPECT_EQ(log[4], "メール転送(s1)");
    EXPECT_EQ(log[5], "メール転送(s2)");
    EXPECT_THAT(log[6], ::testing::StartsWith("メール転送失敗(s3) 5.1.1 no such user 次の再送は"));
    EXPECT_THAT(log[6], ::testing::EndsWith("以降 [c]"));
    EXPECT_EQ(log[7], "転送 2件、再送待ち 1件");
    EXPECT_EQ(Ledger(), "a\r\nb\r\n");
}

TEST_P(PipelinedCycle, ATemporaryRefusalEndsTheCycleButRecordsWhatWasAcceptedAfterIt) {
    Pop3Login("+OK\r\nPIPELINING\r\n.");
    Pop3Listing({"1 a", "2 b"});
    pop3_.Expect("LIST 1").Expect("LIST 2");
    for (int n = 1; n <= 2; ++n) pop3_.SendLine("+OK " + std::to_string(n) + " " + std::to_string(Mail(n).size()));
    for (int n = 1; n <= 2; ++n) pop3_.Expect("RETR " + std::to_string(n)).SendLine("+OK").Send(Mail(n) + ".\r\n");
    smtp_.SendLine("220 hi").Expect("EHLO tester").SendLine("250-ok").SendLine("250-PIPELINING").SendLine("250 CHUNKING");
    SmtpGroup(1);
    SmtpGroup(2);
    smtp_.SendLine("250 ok").SendLine("250 ok").SendLine("250 ok").SendLine("451 4.3.0 try again later");
    smtp_.SendLine("250 ok").SendLine("250 ok").SendLine("250 ok").SendLine("250 queued");
    pop3_.Start();
    smtp_.Start();
    auto e = Raised<EMailProtocolReplyError>([&] { cycle_.ForwardNewMail(settings_, forwardAddress_); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->ReplyCode, 451);
    EXPECT_THAT(std::string(e->what()), HasSubstr("メール1(s1)の送信中に失敗: 4.3.0 try again later"));
    EXPECT_TRUE(pop3_.Finish());
    EXPECT_TRUE(smtp_.Finish());
    EXPECT_THAT(smtp_.Mismatches(), IsEmpty());
    EXPECT_EQ(Ledger(), "b\r\n");
}

}  // namespace
}  // namespace tarnwick::test
