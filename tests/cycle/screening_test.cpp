// Screening new messages before any is downloaded whole: transcripts of what the POP3 client asks
// for (LIST only with a size limit, TOP only where needed, never RETR), and the decisions.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/cycle/MessageScreening.h"
#include "app/cycle/Pop3Mailbox.h"
#include "app/cycle/RefusalBackoff.h"
#include "message/MailMessage.h"
#include "net/MailPOP3.h"
#include "support/LoopbackClient.h"
#include "support/TempDir.h"
#include "support/Transcript.h"

namespace tarnwick::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const char* Name(TScreenAction action) {
    switch (action) {
        case TScreenAction::Forward: return "forward";
        case TScreenAction::Notice: return "notice";
        case TScreenAction::SkipTooBig: return "skip";
        case TScreenAction::HeldByRule: return "held";
        case TScreenAction::Waiting: return "waiting";
        case TScreenAction::Unreadable: return "unreadable";
    }
    return "?";
}

class Screening : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        server.ByteAtATime(GetParam());
        Converse(server, {{"", "+OK ready"}, {"USER u", "+OK"}, {"PASS p", "+OK"}});
        pop3.Username = "u";
        pop3.Password = "p";
        for (int n = 1; n <= 4; ++n) {
            TScreenedMessage m;
            m.Number = n;
            m.Id = "id" + std::to_string(n);
            messages.push_back(std::move(m));
        }
    }
    // Runs the screening; the server must have seen exactly these lines after the login.
    std::vector<std::string> Screen(const std::string& expected, const TRefusalBackoff* backoff = nullptr) {
        ConnectTo(server, pop3);
        TPop3Mailbox mailbox(pop3, "127.0.0.1", [] { return false; });
        ScreenMessages(mailbox, filter, backoff, messages);
        pop3.Disconnect();
        EXPECT_TRUE(server.Finish());
        EXPECT_THAT(server.Mismatches(), IsEmpty());
        EXPECT_EQ(server.Received(), CrLf({"USER u", "PASS p"}) + expected + "QUIT\r\n");
        std::vector<std::string> out;
        for (const TScreenedMessage& m : messages) out.push_back(std::string(Name(m.Action)) + " " + m.Subject);
        return out;
    }

    ScriptedServer server;
    TMailPOP3 pop3;
    TForwardFilter filter;
    std::vector<TScreenedMessage> messages;
};

INSTANTIATE_TEST_SUITE_P(WholeAndByteAtATime, Screening, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "ByteAtATime" : "Whole"; });

TEST_P(Screening, WithoutLimitOrRulesNothingIsAsked) {
    EXPECT_THAT(Screen(""), ElementsAre("forward ", "forward ", "forward ", "forward "));
}

TEST_P(Screening, OnlyMessagesOverTheLimitHaveTheirHeaderRead) {
    filter.MaxSizeKB = 10;
    Converse(server, {{"CAPA", "+OK\r\n."},
                      {"LIST 1", "+OK 1 10240"}, {"LIST 2", "+OK 2 10241"}, {"LIST 3", "-ERR gone"}, {"LIST 4", "+OK 4 99999"},
                      {"TOP 2 0", "+OK\r\nSubject: big\r\nFrom: a@example.com\r\n\r\n."},
                      {"TOP 4 0", "-ERR gone"}});
    EXPECT_THAT(Screen(CrLf({"CAPA", "LIST 1", "LIST 2", "LIST 3", "LIST 4", "TOP 2 0", "TOP 4 0"})),
                ElementsAre("forward ", "notice big", "forward ", "notice "));
    EXPECT_EQ(messages[1].Size, 10241);
    ASSERT_TRUE(messages[1].Header);
    EXPECT_EQ(messages[1].Header->From.Address, "a@example.com");
    ASSERT_TRUE(messages[3].Header) << "a notice even without the header block";
    EXPECT_EQ(ScreenLogLine(messages[1]), "サイズ超過のため通知を転送(big) 11KB");
}

TEST_P(Screening, RulesReadEveryHeaderInOneBatchAndTheFirstMatchHoldsTheMessageBack) {
    filter.Rules.Items = {{"X-Spam-Flag", "YES"}, {"Subject", "[meiwaku]"}};
    Converse(server, {{"CAPA", "+OK\r\nPIPELINING\r\n."}, {"TOP 1 0", ""}, {"TOP 2 0", ""}, {"TOP 3 0", ""},
                      {"TOP 4 0", "+OK\r\nSubject: hi\r\n\r\n.\r\n"
                                  "+OK\r\nSubject: [MEIWAKU] buy\r\nX-Spam-Flag: yes\r\n\r\n.\r\n"
                                  "-ERR locked\r\n"
                                  "+OK\r\nSubject: Re: [meiwaku]?\r\n\r\n."}});
    EXPECT_THAT(Screen(CrLf({"CAPA", "TOP 1 0", "TOP 2 0", "TOP 3 0", "TOP 4 0"})),
                ElementsAre("forward hi", "held [MEIWAKU] buy", "forward ", "held Re: [meiwaku]?"));
    EXPECT_EQ(ScreenLogLine(messages[1]), "転送しない条件に一致([MEIWAKU] buy) 条件「X-Spam-Flag: YES」");
    EXPECT_EQ(messages[3].Rule, "Subject: [meiwaku]");
}

TEST_P(Screening, WaitingMessagesAreNotAskedForAtAllAndABigOneWithoutNoticeIsSkipped) {
    filter.MaxSizeKB = 1;
    filter.SizeNotice = false;
    filter.Rules.Items = {{"X-Spam-Flag", "YES"}};
    const std::string path = ProcessTempDir() + "/screening-backoff";
    TRefusalBackoff backoff(path, "fp", 600, [] { return int64_t{1000}; });
    backoff.Refused("id1");
    backoff.Refused("id3");
    Converse(server, {{"CAPA", "+OK\r\n."}, {"LIST 2", "+OK 2 5000"}, {"LIST 4", "+OK 4 10"},
                      {"TOP 2 0", "+OK\r\nSubject: photo\r\n\r\n."}, {"TOP 4 0", "+OK\r\nSubject: small\r\n\r\n."}});
    EXPECT_THAT(Screen(CrLf({"CAPA", "LIST 2", "LIST 4", "TOP 2 0", "TOP 4 0"}), &backoff),
                ElementsAre("waiting ", "skip photo", "waiting ", "forward small"));
    EXPECT_EQ(ScreenLogLine(messages[1]), "サイズ超過のため転送せず(photo) 5KB [id2]");
    EXPECT_EQ(ScreenLogLine(messages[0]), "");
}

}  // namespace
}  // namespace tarnwick::test
