// What a hostile or broken server can make the clients read: size, line count and time are all
// bounded. Transcripts against a scripted loopback server, whole and one byte at a time; the
// slow servers trickle their bytes, and no test looks at the clock.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "message/MailMessage.h"
#include "net/MailExceptions.h"
#include "net/MailPOP3.h"
#include "net/MailSMTP.h"
#include "support/LoopbackClient.h"
#include "support/Raised.h"
#include "support/Transcript.h"

using namespace tarnwick;
using namespace tarnwick::test;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// Long enough that a bound of a few hundred milliseconds must end it first.
std::string Slowly(const std::string& bytes) {
    std::string out = bytes;
    while (out.size() < 400) out += bytes;
    return out;
}

class Bounds : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        pop3_.ByteAtATime(GetParam());
        pop3.Username = "u";
        pop3.Password = "p";
    }
    ScriptedServer& Pop3Login() {
        return Converse(pop3_, {{"", "+OK ready"}, {"USER u", "+OK"}, {"PASS p", "+OK"}});
    }
    void Connect(TMailTCPClient& client, ScriptedServer& server) { ConnectTo(server, client); }
    // The client gave up in the middle of an answer: it closed without a word more.
    void GaveUp(TMailTCPClient& client, ScriptedServer& server, const std::string& expected) {
        EXPECT_FALSE(client.IsConnected());
        client.Disconnect();
        EXPECT_TRUE(server.Finish());
        EXPECT_EQ(server.Received(), expected);
    }

    ScriptedServer pop3_;
    TMailPOP3 pop3;
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(WholeAndByteAtATime, Bounds, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "ByteAtATime" : "Whole"; });

// --- size

TEST_P(Bounds, ListGivesTheAnnouncedSize) {
    Converse(Pop3Login(), {{"LIST 1", "+OK 1 4711"}, {"LIST 2", "-ERR no such message"}, {"LIST 3", "+OK 3 many"},
                           {"LIST 4", "+OK 4"}, {"QUIT", ""}});
    Connect(pop3, pop3_);
    EXPECT_EQ(pop3.ListSize(1), 4711);
    EXPECT_EQ(pop3.ListSize(2), -1);
    EXPECT_EQ(pop3.ListSize(3), -1);
    EXPECT_EQ(pop3.ListSize(4), -1);
    pop3.Disconnect();
    EXPECT_TRUE(pop3_.Finish());
    EXPECT_THAT(pop3_.Mismatches(), IsEmpty());
}

TEST_P(Bounds, AMessageUpToTheSizeLimitIsReadAndALargerOneIsCutOffUnread) {
    // 30 bytes as the server keeps them: the stuffed dot and the end line do not count.
    const std::string fits = "Subject: s\r\n\r\n..dot\r\n12345678\r\n";
    const std::string over = "Subject: s\r\n\r\n12345678901234567\r\n" + std::string(100000, 'x') + "\r\n";
    Converse(Pop3Login(), {{"RETR 1", "+OK\r\n" + fits + "."}, {"RETR 2", "+OK\r\n" + over + "."}});
    Connect(pop3, pop3_);
    pop3.MaxMessageSize = 30;
    TMailMessage message;
    message.NoDecode = true;
    EXPECT_TRUE(pop3.RetrieveMessage(1, message));
    EXPECT_THAT(Items(message.Body), ElementsAre(".dot", "12345678"));
    message.Clear();
    auto e = Raised<EMailMessageTooLarge>([&] { pop3.RetrieveMessage(2, message); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "Message is over the size limit of 30 bytes.");
    // The reader stopped at the line that passed the limit, before the long one.
    EXPECT_TRUE(message.Body.Empty());
    GaveUp(pop3, pop3_, CrLf({"USER u", "PASS p", "RETR 1", "RETR 2"}));
}

// --- lines

TEST_P(Bounds, AListingOverItsLineLimitEndsTheConnection) {
    Converse(Pop3Login(), {{"UIDL", "+OK\r\n1 a\r\n2 b\r\n3 c\r\n4 d\r\n."}});
    Connect(pop3, pop3_);
    pop3.MaxListingLines = 3;
    TStringList list;
    auto e = Raised<EMailTooManyLines>([&] { pop3.ListUniqueIds(list); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "Unique id listing longer than 3 lines.");
    GaveUp(pop3, pop3_, CrLf({"USER u", "PASS p", "UIDL"}));
    EXPECT_EQ(TMailPOP3::DefaultMaxListingLines, 1000000);
}

TEST_P(Bounds, BlankLinesBeforeAReplyCountAgainstItsLineLimit) {
    std::string flood;
    for (int i = 0; i < 999; ++i) flood += "\r\n";
    Converse(Pop3Login(), {{"UIDL 1", flood + "+OK 1 a"}, {"UIDL 2", flood + "\r\n+OK 2 b"}});
    Connect(pop3, pop3_);
    TStringList list;
    EXPECT_TRUE(pop3.ListUniqueIds(list, 1));
    auto e = Raised<EMailTooManyLines>([&] { pop3.ListUniqueIds(list, 2); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "Reply longer than 1000 lines.");
    GaveUp(pop3, pop3_, CrLf({"USER u", "PASS p", "UIDL 1", "UIDL 2"}));
}

TEST_P(Bounds, AMultiLineSmtpReplyOverItsLineLimitIsRefused) {
    ScriptedServer smtp_;
    smtp_.ByteAtATime(GetParam());
    std::string greeting;
    for (int i = 0; i < 1000; ++i) greeting += "220-mx\r\n";
    smtp_.Send(greeting).SendLine("220 mx");
    TMailSMTP smtp;
    smtp.HeloName = "c";
    auto e = Raised<EMailTooManyLines>([&] { Connect(smtp, smtp_); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "Reply longer than 1000 lines.");
    EXPECT_FALSE(smtp.IsConnected());
    EXPECT_TRUE(smtp_.Finish());
}

// --- time

TEST_P(Bounds, AStatusLineMustCompleteWithinTheReadTimeout) {
    Pop3Login().Expect("LIST 1").Trickle("+OK 1 4711" + std::string(400, ' ') + "\r\n", 25);
    Connect(pop3, pop3_);
    // Each byte comes well within the time-out; the line as a whole does not.
    pop3.ReadTimeout = 300;
    auto e = Raised<EMailReadTimeout>([&] { pop3.ListSize(1); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "Read Timeout");
    pop3.Disconnect();
    EXPECT_TRUE(pop3_.Finish());
}

TEST_P(Bounds, AMessageMustKeepItsPace) {
    // Whole short lines, each in time, but far too few bytes for the time they take.
    Pop3Login().Expect("RETR 1").SendLine("+OK").Trickle("Subject: s\r\n\r\n" + Slowly("ab\r\n") + ".\r\n", 25);
    Connect(pop3, pop3_);
    pop3.ReadTimeout = 300;
    pop3.MinReadRate = 1000000;
    TMailMessage message;
    message.NoDecode = true;
    EXPECT_THROW(pop3.RetrieveMessage(1, message), EMailReadTimeout);
    GaveUp(pop3, pop3_, CrLf({"USER u", "PASS p", "RETR 1"}));
}
