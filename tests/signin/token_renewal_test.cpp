// A renewed token reaches the login that needs it: one the mail server refuses (status 401) is
// renewed once and the login tried again; a rotated one no file would take is said and used by
// the cycle's other login, which does not refresh again with the retired one.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <QByteArray>
#include <QCoreApplication>

#include "app/cycle/ForwardingCycle.h"
#include "app/signin/SignInState.h"
#include "net/MailSMTP.h"
#include "platform/PrivateProfile.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"
#include "support/TokenEndpoint.h"

namespace tarnwick::test {
namespace {

std::string Base64(const std::string& text) { return QByteArray::fromStdString(text).toBase64().toStdString(); }

class TokenRenewal : public ::testing::Test {
protected:
    TokenRenewal() : idp_(TokenSigner{"k", "https://idp.test", "tarnwick-test", "k1"}) {
        static int argc = 1;
        static char name[] = "signin_tests";
        static char* argv[] = {name, nullptr};
        if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
    }
    void SetUp() override {
        idp_.Start();
        TOAuthSettings& auth = servers_.SmtpAccess.Auth;
        auth.Method = TAuthMethod::amOther;
        auth.ClientId = "tarnwick-test";
        auth.TokenUrl = idp_.Url("/token");
        auth.DeviceUrl = idp_.Url("/devicecode");
        servers_.Pop3User = "taro";
        servers_.Pop3Server = "pop.example.jp";
        servers_.SmtpServer = "127.0.0.1:" + std::to_string(server_->Port());
        state_->OnLog = [this](const std::string& line) { log_.push_back(line); };
    }
    void TearDown() override { ::unlink(path_.c_str()); }
    // Signed in: a token held that looks good for an hour.
    void SignedIn(int64_t lifetime) {
        TOAuthTokenClient client(ProviderFor(servers_.SmtpAccess.Auth));
        TOAuthTokens tokens = RunDeviceFlow(client, [](const std::string&, const std::string&) {}, nullptr);
        tokens.AccessToken = "old";
        tokens.ExpiresAt = UnixNow() + lifetime;
        ASSERT_TRUE(state_->SaveSignIn(servers_, TServerKind::Smtp, tokens));
    }
    // One SMTP login offering XOAUTH2 alone; a refusal carries status.
    void Login(const std::string& token, const std::string& status) {
        server_->SendLine("220 hi").Expect("EHLO tester").SendLine("250-hi").SendLine("250 AUTH XOAUTH2");
        server_->Expect("AUTH XOAUTH2 " + Base64("user=taro\x01" "auth=Bearer " + token + "\x01\x01"));
        if (status.empty()) {
            server_->SendLine("235 ok");
        } else {
            server_->SendLine("334 " + Base64("{\"status\":\"" + status + "\"}")).Expect("").SendLine("535 5.7.8 refused");
        }
        server_->Expect("QUIT").SendLine("221 bye");
    }

    TokenEndpoint idp_;
    std::unique_ptr<ScriptedServer> server_ = std::make_unique<ScriptedServer>();
    std::string path_ = ProcessTempDir() + "/token-renewal.ini";
    TServerSettings servers_;
    std::shared_ptr<TSignInState> state_ = std::make_shared<TSignInState>(path_);
    std::vector<std::string> log_;
};

TEST_F(TokenRenewal, ATokenTheServerRefusesWithStatus401IsRenewedOnceAndTriedAgain) {
    struct Case {
        std::vector<std::string> statuses;  // of each login, "" for success
        bool ok;
        int refreshes;
    };
    const Case cases[] = {
        {{"401", ""}, true, 1},
        {{"401", "401"}, false, 1},
        // Another refusal is no question of the token's age: no renewal.
        {{"invalid_token"}, false, 0},
    };
    for (const Case& c : cases) {
        server_ = std::make_unique<ScriptedServer>();
        servers_.SmtpServer = "127.0.0.1:" + std::to_string(server_->Port());
        idp_.AccessTokenIssued = "new";
        SignedIn(3600);
        const int before = idp_.Requests("refresh_token");
        for (size_t i = 0; i < c.statuses.size(); ++i) {
            if (i > 0) server_->Accept();
            Login(i == 0 ? "old" : "new", c.statuses[i]);
        }
        server_->Start();
        TForwardingCycle cycle(nullptr);
        cycle.SignIn = state_;
        cycle.MailSMTP().HeloName = "tester";
        const TConnectionReport report = cycle.TestConnection(servers_);
        EXPECT_EQ(report.SmtpOk, c.ok) << c.statuses[0] << " " << report.Summary;
        EXPECT_EQ(idp_.Requests("refresh_token") - before, c.refreshes) << c.statuses[0];
        EXPECT_TRUE(server_->Finish());
        EXPECT_THAT(server_->Mismatches(), ::testing::IsEmpty()) << c.statuses[0];
    }
}

// No file takes more than a byte meanwhile (root writes anywhere: only a size limit stops it).
class NoFileWrites {
public:
    NoFileWrites() {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        old_handler_ = ::signal(SIGXFSZ, SIG_IGN);
        rlimit one = old_;
        one.rlim_cur = 1;
        ::setrlimit(RLIMIT_FSIZE, &one);
    }
    ~NoFileWrites() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        ::signal(SIGXFSZ, old_handler_);
    }

private:
    rlimit old_{};
    sighandler_t old_handler_;
};

TEST_F(TokenRenewal, ARotatedTokenNoFileTakesIsSaidAndServesTheOtherLogin) {
    // SMTP signs in as POP3 does: one sign-in, one refresh token for both.
    servers_.Pop3Access.Auth = servers_.SmtpAccess.Auth;
    SignedIn(60);
    const std::string retired = idp_.LastRefreshTokenIssued();
    TOAuthLogin pop3, smtp;
    {
        NoFileWrites guard;
        pop3 = state_->LoginFor(servers_, TServerKind::Pop3);
        smtp = state_->LoginFor(servers_, TServerKind::Smtp);
    }
    EXPECT_EQ(idp_.Requests("refresh_token"), 1);
    EXPECT_NE(idp_.LastRefreshTokenIssued(), retired);
    EXPECT_EQ(smtp.AccessToken, pop3.AccessToken);
    EXPECT_THAT(log_, ::testing::ElementsAre("更新したトークンを保存できませんでした"));
    // Once the file takes it again, the held token is written there.
    EXPECT_TRUE(state_->LoginFor(servers_, TServerKind::Pop3).Active());
    EXPECT_EQ(idp_.Requests("refresh_token"), 1);
    EXPECT_EQ(GetPrivateProfileString("POP3", "OAuthRefreshToken", "", path_), idp_.LastRefreshTokenIssued());
}

}  // namespace
}  // namespace tarnwick::test
