// The POP3 and SMTP clients over TLS against the local Dovecot and Postfix: STLS, AUTH LOGIN after
// STARTTLS, and a port that does not offer STARTTLS.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "message/MailMessage.h"
#include "net/MailIOHandlerSSL.h"
#include "net/MailPOP3.h"
#include "net/MailSMTP.h"
#include "support/MailServers.h"
#include "support/Raised.h"
#include "support/TempDir.h"

namespace tarnwick::test {
namespace {

const bool tempDirReady = !ProcessTempDir().empty();

class ClientsOverTls : public ::testing::Test {
protected:
    void SetUp() override {
        servers_ = MailServers::Acquire();
        if (!servers_ || !servers_->HasTLS())
            GTEST_SKIP() << "local mail servers with TLS not configured (scripts/servers start)";
        smtp_.HeloName = "tester";
        smtp_.SetHost(servers_->smtpHost);
        smtp_.CAFile = servers_->caFile;
        smtp_.Security = TMailSecurity::msStartTLS;
    }
    std::unique_ptr<MailServers> servers_;
    TMailSMTP smtp_;
};

TEST_F(ClientsOverTls, StlsRetrievesAndAuthLoginAfterStartTlsSends) {
    const std::string text = "From: Sender <sender@example.jp>\nTo: box@example.jp\nSubject: both ways\n\n.dot\nend\n";
    servers_->DropPop3Message(text);
    TMailPOP3 pop3;
    pop3.SetHost(servers_->pop3Host);
    pop3.SetPort(servers_->pop3Port);
    pop3.Username = servers_->pop3User;
    pop3.Password = servers_->pop3Pass;
    pop3.Security = TMailSecurity::msStartTLS;
    pop3.CAFile = servers_->caFile;
    pop3.Connect(10000);
    TMailMessage message;
    ASSERT_TRUE(pop3.RetrieveMessage(1, message));
    pop3.Disconnect();

    // AUTH LOGIN, with the password that has a space in it; offered only once TLS stands.
    smtp_.SetPort(servers_->submissionPort);
    smtp_.SetAuthenticationType(TAuthenticationType::atLogin);
    smtp_.Username = servers_->pop3User2;
    smtp_.Password = servers_->pop3Pass2;
    smtp_.Connect(10000);
    EXPECT_GE(smtp_.AuthSchemes.IndexOf("LOGIN"), 0);
    EXPECT_LT(smtp_.Capabilities.IndexOf("STARTTLS"), 0);
    message.Recipients.ParseAddresses("fwd@docomo.ne.jp");
    smtp_.SendMail(message);
    EXPECT_TRUE(smtp_.Authenticated);
    smtp_.Disconnect();

    auto got = servers_->WaitForDelivered(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].OriginalTo(), "fwd@docomo.ne.jp");
    EXPECT_EQ(got[0].ReturnPath(), "sender@example.jp");
    // The client writes the header block anew; the body goes as it came.
    EXPECT_THAT(got[0].WithoutDeliveryTrace(), ::testing::HasSubstr("\nSubject: both ways\n"));
    EXPECT_THAT(got[0].WithoutDeliveryTrace(), ::testing::EndsWith("\n\n.dot\nend\n"));
}

TEST_F(ClientsOverTls, AServerThatDoesNotOfferStartTlsGetsNothingMore) {
    // The plain port offers neither STARTTLS nor AUTH.
    smtp_.SetPort(servers_->smtpPort);
    smtp_.SetAuthenticationType(TAuthenticationType::atAuto);
    smtp_.Username = servers_->pop3User;
    smtp_.Password = servers_->pop3Pass;
    auto e = Raised<EMailTLSError>([&] { smtp_.Connect(10000); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "The SMTP server does not offer STARTTLS.");
    EXPECT_FALSE(smtp_.IsConnected());
}

}  // namespace
}  // namespace tarnwick::test
