// Token logins against the local Dovecot (which checks the JWTs itself) and Postfix (SASL through
// that Dovecot): both mechanisms, the one-line and the two-step form, and refused tokens.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "message/MailMessage.h"
#include "net/MailPOP3.h"
#include "net/MailSASL.h"
#include "net/MailSMTP.h"
#include "support/MailServers.h"
#include "support/Raised.h"
#include "support/TempDir.h"
#include "support/TokenEndpoint.h"

namespace tarnwick::test {
namespace {

const bool tempDirReady = !ProcessTempDir().empty();

class TokenLogins : public ::testing::Test {
protected:
    void SetUp() override {
        servers_ = MailServers::Acquire();
        signer_ = TokenSigner::FromEnvironment();
        if (!servers_ || !servers_->HasTLS() || !signer_)
            GTEST_SKIP() << "local mail servers with token logins not configured (scripts/servers start)";
        pop3_.SetHost(servers_->pop3Host);
        pop3_.SetPort(servers_->pop3Port);
        pop3_.Username = servers_->pop3User;
        pop3_.Security = TMailSecurity::msStartTLS;
        pop3_.CAFile = servers_->caFile;
        smtp_.HeloName = "tester";
        smtp_.SetHost(servers_->smtpHost);
        smtp_.SetPort(servers_->submissionPort);
        smtp_.Security = TMailSecurity::msStartTLS;
        smtp_.CAFile = servers_->caFile;
        smtp_.Username = servers_->pop3User;
        smtp_.SetAuthenticationType(TAuthenticationType::atOAuth2);
    }
    std::unique_ptr<MailServers> servers_;
    std::optional<TokenSigner> signer_;
    TMailPOP3 pop3_;
    TMailSMTP smtp_;
};

TEST_F(TokenLogins, Pop3TakesAValidTokenByEitherMechanism) {
    servers_->DropPop3Message("Subject: by token\n\nbody\n");
    for (TOAuthMechanism mechanism : {TOAuthMechanism::omXOAuth2, TOAuthMechanism::omOAuthBearer, TOAuthMechanism::omAuto}) {
        pop3_.OAuth.Mechanism = mechanism;
        pop3_.OAuth.AccessToken = signer_->Issue(servers_->pop3User, 600);
        // A real token is too long for the AUTH line of POP3: always the two-step form.
        ASSERT_GT(pop3_.OAuth.AccessToken.size(), 200u);
        pop3_.Connect(10000);
        TStringList ids;
        EXPECT_TRUE(pop3_.ListUniqueIds(ids));
        EXPECT_EQ(ids.Count(), 1);
        pop3_.Disconnect();
    }
}

TEST_F(TokenLogins, ExpiredOrForeignTokensAreRefusedWithTheErrorChallenge) {
    struct Case {
        TOAuthMechanism mechanism;
        std::string user;
        long lifetime;
        std::string status;
    } cases[] = {
        {TOAuthMechanism::omXOAuth2, servers_->pop3User, -120, "401"},
        {TOAuthMechanism::omOAuthBearer, servers_->pop3User, -120, "invalid_token"},
        {TOAuthMechanism::omXOAuth2, servers_->pop3User2, 600, "401"},  // a token for someone else
    };
    for (const Case& c : cases) {
        pop3_.OAuth.Mechanism = c.mechanism;
        pop3_.OAuth.AccessToken = signer_->Issue(c.user, c.lifetime);
        auto e = Raised<EMailOAuthRefused>([&] { pop3_.Connect(10000); });
        ASSERT_TRUE(e);
        EXPECT_EQ(e->Status, c.status);
        EXPECT_FALSE(pop3_.IsConnected());

        smtp_.OAuth.Mechanism = c.mechanism;
        smtp_.OAuth.AccessToken = pop3_.OAuth.AccessToken;
        smtp_.Connect(10000);
        auto s = Raised<EMailOAuthRefused>([&] { smtp_.Authenticate(); });
        ASSERT_TRUE(s);
        EXPECT_EQ(s->ReplyCode, 535);
        EXPECT_EQ(s->Status, c.status);
        smtp_.Disconnect();
    }
}

TEST_F(TokenLogins, SmtpSendsAfterAOneLineOrTwoStepLogin) {
    TMailMessage message;
    message.NoEncode = true;
    message.Headers.SetText("From: a@example.jp\r\nSubject: token\r\n");
    message.Body.SetText("body\r\n");
    message.From.SetText("a@example.jp");
    message.Recipients.ParseAddresses("fwd@docomo.ne.jp");
    for (bool twoStep : {false, true}) {
        smtp_.OAuth.Mechanism = TOAuthMechanism::omAuto;
        smtp_.OAuth.TwoStep = twoStep;
        smtp_.OAuth.AccessToken = signer_->Issue(servers_->pop3User, 600);
        smtp_.Connect(10000);
        EXPECT_GE(smtp_.AuthSchemes.IndexOf("XOAUTH2"), 0);
        EXPECT_GE(smtp_.AuthSchemes.IndexOf("OAUTHBEARER"), 0);
        smtp_.SendMail(message);
        EXPECT_TRUE(smtp_.Authenticated);
        smtp_.Disconnect();
    }
    EXPECT_EQ(servers_->WaitForDelivered(2).size(), 2u);
}

}  // namespace
}  // namespace tarnwick::test
