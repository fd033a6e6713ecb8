// The forwarding cycle signing in with OAuth against the local Dovecot and Postfix, the tokens
// from the stand-in provider: refresh before the login, the rotated refresh token in the settings
// file, and a revoked sign-in that stops the logins (and the token requests) until a new one.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "app/signin/SignInState.h"
#include "cycle/CycleFixture.h"
#include "platform/PrivateProfile.h"
#include "support/CoreApplication.h"
#include "support/MailServers.h"
#include "support/TokenEndpoint.h"

namespace tarnwick::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

class CycleWithOAuth : public CycleTest {
protected:
    void SetUp() override {
        EnsureCoreApplication();
        CycleTest::SetUp();
        servers_ = MailServers::Acquire();
        const auto signer = TokenSigner::FromEnvironment();
        if (!servers_ || !servers_->HasTLS() || !signer) GTEST_SKIP() << "local mail servers not configured";
        if (std::getenv("SSL_CERT_FILE") == nullptr) ::setenv("SSL_CERT_FILE", servers_->caFile.c_str(), 1);
        idp_.emplace(*signer);
        idp_->Start();
        cycle_.MailSMTP().HeloName = "tester";

        TOAuthSettings auth;
        auth.Method = TAuthMethod::amOther;
        auth.ClientId = "tarnwick-test";
        auth.AuthorizationUrl = idp_->Url("/authorize");
        auth.TokenUrl = idp_->Url("/token");
        auth.DeviceUrl = idp_->Url("/devicecode");
        auth.Scopes = "mail";
        settings_.Pop3User = servers_->pop3User;
        settings_.Pop3Server = servers_->pop3Host + ":" + std::to_string(servers_->pop3Port);
        settings_.Pop3Access.Security = TSecurity::StartTLS;
        settings_.Pop3Access.Auth = auth;
        settings_.SmtpUser = servers_->pop3User;
        settings_.SmtpServer = servers_->smtpHost + ":" + std::to_string(servers_->submissionPort);
        settings_.SmtpAccess.Security = TSecurity::StartTLS;
        settings_.SmtpAccess.Auth = auth;

        path_ = dir_ + "/tarnwick.ini";
        state_ = std::make_shared<TSignInState>(path_);
        state_->OnSignInNeeded = [this] { ++signInNeeded_; };
        cycle_.SignIn = state_;
        // Signed in a while ago: the access token is about to expire.
        TOAuthTokenClient client(ProviderFor(auth));
        TOAuthTokens tokens = RunDeviceFlow(client, [](const std::string&, const std::string&) {}, nullptr);
        tokens.ExpiresAt = UnixNow() + 60;
        ASSERT_TRUE(state_->SaveSignIn(settings_, TServerKind::Pop3, tokens));
    }

    std::unique_ptr<MailServers> servers_;
    std::optional<TokenEndpoint> idp_;
    TServerSettings settings_;
    std::string path_;
    std::shared_ptr<TSignInState> state_;
    int signInNeeded_ = 0;
};

TEST_F(CycleWithOAuth, RefreshesOnceForBothServersAndForwards) {
    servers_->DropPop3Message("From: sender@example.jp\nSubject: by token\n\nbody\n");
    cycle_.ForwardNewMail(settings_, forwardAddress_);
    EXPECT_THAT(TakeLog(), Contains("メール転送(by token)"));
    EXPECT_EQ(servers_->WaitForDelivered(1).size(), 1u);
    // One sign-in serves both: one refresh, its rotated token already in the file.
    EXPECT_EQ(idp_->Requests("refresh_token"), 1);
    EXPECT_EQ(GetPrivateProfileString("POP3", "OAuthRefreshToken", "", path_), idp_->LastRefreshTokenIssued());
    EXPECT_EQ(GetPrivateProfileString("SMTP", "OAuthRefreshToken", "", path_), "");
    EXPECT_TRUE(cycle_.TestConnection(settings_).Pop3Ok);
    EXPECT_EQ(idp_->Requests("refresh_token"), 1);
}

TEST_F(CycleWithOAuth, ARevokedSignInStopsTheLoginsAndTheRequestsUntilANewOne) {
    idp_->Revoke();
    const std::string line = "POP3サーバにログイン失敗(" + settings_.Pop3Server + ") 再サインインが必要です";
    for (int cycle = 0; cycle < 2; ++cycle) {
        const TCycleReport report = cycle_.ForwardNewMail(settings_, forwardAddress_);
        EXPECT_THAT(TakeLog(), ElementsAre(line));
        EXPECT_NE(ExitCodeOf(report), 0);
    }
    EXPECT_EQ(signInNeeded_, 1);  // the icon warns once
    EXPECT_EQ(idp_->Requests("refresh_token"), 1);
    EXPECT_EQ(GetPrivateProfileString("POP3", "OAuthSignInNeeded", "", path_), "1");
    const TConnectionReport test = cycle_.TestConnection(settings_);
    EXPECT_FALSE(test.Pop3Ok);
    EXPECT_THAT(TakeLog(), Contains(HasSubstr("再サインインが必要です")));
    EXPECT_EQ(idp_->Requests("refresh_token"), 1);

    // Signing in again (as --authorize does) lets the next cycle in.
    TOAuthTokenClient client(ProviderFor(settings_.Pop3Access.Auth));
    TOAuthTokens tokens = RunDeviceFlow(client, [](const std::string&, const std::string&) {}, nullptr);
    ASSERT_TRUE(state_->SaveSignIn(settings_, TServerKind::Pop3, tokens));
    cycle_.ForwardNewMail(settings_, forwardAddress_);
    EXPECT_THAT(TakeLog(), Contains("POP3サーバにログイン(" + settings_.Pop3Server + ")"));
}

TEST_F(CycleWithOAuth, ATokenTheServerRefusesIsLoggedWithItsStatus) {
    // The provider said it is good for an hour; the server knows better.
    TOAuthTokens tokens = TTokenStore(path_, "POP3", settings_.Pop3User + "@" + settings_.Pop3Server, nullptr).Load();
    tokens.AccessToken = TokenSigner::FromEnvironment()->Issue(servers_->pop3User, -120);
    tokens.ExpiresAt = UnixNow() + 3600;
    ASSERT_TRUE(state_->SaveSignIn(settings_, TServerKind::Pop3, tokens));
    cycle_.ForwardNewMail(settings_, forwardAddress_);
    EXPECT_THAT(TakeLog(), ElementsAre("POP3サーバにログイン失敗(" + settings_.Pop3Server +
                                       ") 【サインインが拒否されました。もう一度サインインしてください】 [AUTH] Authentication failed. (status invalid_token)"));
    EXPECT_EQ(idp_->Requests("refresh_token"), 0);
}

}  // namespace
}  // namespace tarnwick::test
