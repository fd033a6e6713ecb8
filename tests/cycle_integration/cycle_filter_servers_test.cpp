// The size limit and the rules against the local Dovecot and Postfix: a big message arrives as a
// notice, a tagged one not at all, and every one of them counts as done.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "app/cycle/Ledger.h"
#include "app/cycle/SizeNotice.h"
#include "cycle/CycleFixture.h"
#include "message/HeaderCoding.h"
#include "support/MailServers.h"
#include "support/VariedMailbox.h"

namespace tarnwick::test {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

TEST_F(CycleTest, ABigMessageBecomesANoticeAndATaggedOneIsHeldBackAgainstTheRealServers) {
    auto servers = MailServers::Acquire();
    if (!servers) GTEST_SKIP() << "local mail servers not configured (scripts/servers start)";
    TSettings settings;
    settings.Servers.Pop3User = servers->pop3User;
    settings.Servers.Pop3Pass = servers->pop3Pass;
    settings.Servers.Pop3Server = servers->pop3Host + ":" + std::to_string(servers->pop3Port);
    settings.Servers.SmtpServer = servers->smtpHost + ":" + std::to_string(servers->smtpPort);
    settings.MailUser = "taro";
    settings.MailDomain = "docomo.ne.jp";
    settings.Filter.MaxSizeKB = 16;
    settings.Filter.Rules.Items = {{"X-Spam-Flag", "YES"}};

    servers->DropPop3Message("From: a@example.jp\nSubject: small\n\nhello\n");
    std::string bigBody;
    for (int i = 0; i < 1000; ++i) bigBody += "line " + std::to_string(i) + " of a long photo message\n";
    // Subject "写真" in ISO-2022-JP.
    servers->DropPop3Message("From: b@example.jp\nSubject: =?ISO-2022-JP?B?GyRCPEw/PxsoQg==?=\n"
                             "Date: Tue, 8 Dec 2026 21:05:09 +0900\n\n" + bigBody);
    servers->DropPop3Message("From: c@example.jp\nSubject: buy now\nX-Spam-Flag: YES\n\nspam\n");

    cycle_.ForwardNewMail(settings);

    const std::vector<DeliveredMessage> got = servers->WaitForDelivered(2);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // a third would show now
    ASSERT_EQ(servers->Delivered().size(), 2u);
    std::string notice;
    for (const DeliveredMessage& m : got) {
        EXPECT_EQ(m.OriginalTo(), "taro@docomo.ne.jp");
        if (m.content.find("Subject: small") == std::string::npos) notice = m.WithoutDeliveryTrace();
    }
    ASSERT_FALSE(notice.empty());
    const size_t at = notice.find("Subject: ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(DecodeEncodedWords(notice.substr(at + 9, notice.find('\n', at) - at - 9)),
              std::string(SizeNoticeSubjectTag) + "写真");
    EXPECT_THAT(notice, HasSubstr("From: b@example.jp"));
    EXPECT_THAT(notice, Not(HasSubstr("long photo message")));
    // The body is ISO-2022-JP text naming the size.
    EXPECT_THAT(JisToShiftJis(notice), HasSubstr("サイズ: "));

    const std::vector<std::string> log = TakeLog();
    EXPECT_THAT(log, Contains("転送しない条件に一致(buy now) 条件「X-Spam-Flag: YES」"));
    EXPECT_THAT(log, Contains("転送 1件、通知 1件、保留 1件"));
    TStringList ledger;
    LoadLedger("taro@docomo.ne.jp", ledger);
    EXPECT_EQ(ledger.Count(), 3);
    EXPECT_EQ(cycle_.Report().Forwarded, 1);
    EXPECT_EQ(cycle_.Report().Notices, 1);
    EXPECT_EQ(cycle_.Report().HeldBack, 1);
}

}  // namespace
}  // namespace tarnwick::test
