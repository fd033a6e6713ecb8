// The cycle against servers that pipeline: sizes asked in one batch, each message asked for while
// the one before it is sent on, each message sent in one group with its envelope.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "engine/CycleFixture.h"
#include "net/MailPOP3.h"

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

TEST_P(PipelinedCycle, RetrievalOverlapsSendingAndARefusedRecipientSkipsOnlyItsMessage) {
    Pop3Login();
    Pop3Listing({"1 a", "2 b", "3 c"});
    pop3_.Expect("CAPA").SendLine("+OK").SendLine("PIPELINING").SendLine(".");
    pop3_.Expect("LIST 1").Expect("LIST 2").Expect("LIST 3");
    for (int n = 1; n <= 3; ++n) pop3_.SendLine("+OK " + std::to_string(n) + " " + std::to_string(Mail(n).size()));
    for (int n = 1; n <= 3; ++n) pop3_.Expect("RETR " + std::to_string(n)).SendLine("+OK").Send(Mail(n) + ".\r\n");
    pop3_.Expect("QUIT");

    smtp_.SendLine("220 hi").Expect("EHLO tester").SendLine("250-ok").SendLine("250-PIPELINING").SendLine("250 CHUNKING");
    // The first message is accepted only once the second has been asked for.
    SmtpGroup(1);
    smtp_.Hold();
    smtp_.SendLine("250 ok").SendLine("250 ok").SendLine("250 ok").SendLine("250 queued");
    SmtpGroup(2);
    smtp_.SendLine("250 ok").SendLine("250 ok").SendLine("250 ok").SendLine("250 queued");
    SmtpGroup(3);
    smtp_.SendLine("250 ok").SendLine("250 ok").SendLine("550 5.1.1 no such user").SendLine("503 5.5.1 no recipients");
    smtp_.Expect("QUIT");
    pop3_.Start();
    smtp_.Start();

    std::thread run([&] { cycle_.ForwardNewMail(settings_, forwardAddress_); });
    // Bounded only so that a client that never asks ahead fails instead of hanging.
    for (int wait = 0; wait < 6000 && pop3_.Received().find("RETR 2\r\n") == std::string::npos; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_THAT(pop3_.Received(), HasSubstr("RETR 2\r\n"));
    smtp_.Release();
    run.join();

    EXPECT_TRUE(pop3_.Finish());
    EXPECT_TRUE(smtp_.Finish());
    EXPECT_THAT(pop3_.Mismatches(), IsEmpty());
    EXPECT_THAT(smtp_.Mismatches(), IsEmpty());
    const std::vector<std::string> log = TakeLog();
    ASSERT_EQ(log.size(), 9u);
    EXPECT_EQ(log[4], "メール転送(s1)");
    EXPECT_EQ(log[5], "メール転送(s2)");
    EXPECT_EQ(log[6], "メール転送失敗(s3) 5.1.1 no such user [c]");
    EXPECT_EQ(Ledger(), "a\r\nb\r\n");
}

}  // namespace
}  // namespace tarnwick::test
