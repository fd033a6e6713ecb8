// The IMAP watch against the local Dovecot and Postfix: a message delivered while the program
// idles reaches Postfix as the mailbox holds it, and stays unread there.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "app/cycle/ImapWatch.h"
#include "cycle/CycleFixture.h"
#include "support/MailServers.h"

namespace tarnwick::test {
namespace {

TEST_F(CycleTest, ImapWatchForwardsWhatArrivesDuringIdleUnchangedAndUnread) {
    TARNWICK_REQUIRE_MAIL_SERVERS(servers);
    const char* port = std::getenv("TARNWICK_IMAP_PORT");
    const char* deliver = std::getenv("TARNWICK_DELIVER");
    if (port == nullptr || deliver == nullptr) GTEST_SKIP() << "no IMAP server (dovecot-imapd) among the test servers";
    TSettings settings;
    settings.Servers.Protocol = TReceiveProtocol::Imap;
    settings.Servers.Pop3Server = servers->pop3Host + ":" + port;
    settings.Servers.Pop3User = servers->pop3User;
    settings.Servers.Pop3Pass = servers->pop3Pass;
    settings.Servers.SmtpServer = servers->smtpHost + ":" + std::to_string(servers->smtpPort);
    settings.MailUser = "taro";
    settings.MailDomain = "docomo.ne.jp";

    // The connection test examines the folder and sees IDLE offered.
    const TConnectionReport test = cycle_.TestConnection(settings.Servers);
    EXPECT_TRUE(test.Pop3Ok && test.Idle) << test.Summary;
    std::atomic<int> cycles{0};
    std::atomic<bool> going{true};
    std::thread watch([&] {
        TImapWatch(cycle_).Run(settings, [&] { return going.load(); }, [&](const TCycleReport&) { ++cycles; });
    });
    // The first cycle over the empty folder; the watch then idles (a delivery before the IDLE
    // is found by the next cycle all the same).
    while (cycles == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::string message =
        "From: =?UTF-8?B?5aSq6YOO?= <a@example.jp>\r\nSubject: idle\r\nX-Odd:  two  blanks \r\n\r\n.dot\r\n\tlast\r\n";
    FILE* lda = ::popen((std::string(deliver) + " -d " + servers->pop3User + " -f a@example.jp").c_str(), "w");
    ASSERT_NE(lda, nullptr);
    std::fwrite(message.data(), 1, message.size(), lda);
    ASSERT_EQ(::pclose(lda), 0);

    const auto got = servers->WaitForDelivered(1);
    going = false;
    cycle_.Wake();
    watch.join();
    ASSERT_EQ(got.size(), 1u);
    // What the mailbox holds (the delivery agent adds its own header lines) went unchanged.
    std::vector<std::string> held;
    for (const char* sub : {"/new/", "/cur/"})
        for (const std::string& name : NamesIn(servers->pop3Maildir + sub)) {
            held.push_back(ToCrLf(ReadWholeFile(servers->pop3Maildir + sub + name)));
            const size_t flags = name.find(":2,");
            EXPECT_TRUE(flags == std::string::npos || name.find('S', flags) == std::string::npos) << name;
        }
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(got[0].SentCrLf(), held[0]);
    EXPECT_NE(held[0].find(message), std::string::npos);
}

}  // namespace
}  // namespace tarnwick::test
