// The sign-in step before a login with the tokens kept in the settings file: refresh near
// expiry, the rotated refresh token on disk at once, invalid_grant remembered across starts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "app/signin/AccountTokens.h"
#include "app/signin/LoginToken.h"
#include "net/MailPOP3.h"
#include "net/MailSMTP.h"
#include "platform/PrivateProfile.h"
#include "support/CoreApplication.h"
#include "support/TempDir.h"
#include "support/TokenEndpoint.h"

namespace tarnwick::test {
namespace {

std::string FileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class AccountTokensInFile : public ::testing::Test {
protected:
    AccountTokensInFile()
        : idp_(TokenSigner{"k", "https://idp.test", "tarnwick-test", "k1"}),
          path_(ProcessTempDir() + "/tokens-" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".ini") {
        EnsureCoreApplication();
    }
    void SetUp() override {
        idp_.Start();
        settings_.Method = TAuthMethod::amOther;
        settings_.ClientId = "tarnwick-test";
        settings_.TokenUrl = idp_.Url("/token");
        settings_.DeviceUrl = idp_.Url("/devicecode");
        settings_.Scopes = "mail";
        // The window's own keys stay as they are around the token keys.
        ASSERT_TRUE(WritePrivateProfileString("POP3", "Server", "pop.example.jp", path_));
    }
    void TearDown() override { ::unlink(path_.c_str()); }
    // A sign-in as --authorize leaves it.
    TOAuthTokens SignedIn(long lifetime) {
        TOAuthTokenClient client(ProviderFor(settings_));
        TOAuthTokens tokens;
        TakeTokens(tokens, RunDeviceFlow(client, [](const std::string&, const std::string&) {}, nullptr), UnixNow());
        tokens.ExpiresAt = UnixNow() + lifetime;
        return tokens;
    }

    TokenEndpoint idp_;
    std::string path_;
    TOAuthSettings settings_;
};

TEST_F(AccountTokensInFile, SavedLoadedAndClearedBesideTheOtherKeys) {
    TAccountTokens storage(path_, "POP3", "taro@pop.example.jp", nullptr);
    TOAuthTokens tokens{"access+/=", "refresh-x", 1234567890, false};
    ASSERT_TRUE(storage.Save(tokens));
    TAccountTokens again(path_, "POP3", "taro@pop.example.jp", nullptr);
    const TOAuthTokens loaded = again.Load();
    EXPECT_EQ(loaded.AccessToken, tokens.AccessToken);
    EXPECT_EQ(loaded.RefreshToken, tokens.RefreshToken);
    EXPECT_EQ(loaded.ExpiresAt, tokens.ExpiresAt);
    EXPECT_FALSE(loaded.NeedsSignIn);
    EXPECT_EQ(GetPrivateProfileString("POP3", "Server", "", path_), "pop.example.jp");
    struct stat st {};
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    again.Clear();
    EXPECT_EQ(FileText(path_).find("refresh-x"), std::string::npos);
    EXPECT_EQ(again.Load().RefreshToken, "");
}

TEST_F(AccountTokensInFile, RefreshNearExpiryRotatesOnDiskAndInvalidGrantIsRemembered) {
    TAccountTokens storage(path_, "POP3", "taro@pop.example.jp", nullptr);
    storage.Save(SignedIn(3600));
    TLoginToken token = TokenForLogin(settings_, storage, UnixNow());
    ASSERT_TRUE(token.Ok);
    EXPECT_EQ(idp_.Requests("refresh_token"), 0);

    storage.Save(SignedIn(60));
    const std::string before = storage.Load().RefreshToken;
    token = TokenForLogin(settings_, storage, UnixNow());
    ASSERT_TRUE(token.Ok);
    EXPECT_EQ(idp_.Requests("refresh_token"), 1);
    EXPECT_EQ(GetPrivateProfileString("POP3", "OAuthRefreshToken", "", path_), idp_.LastRefreshTokenIssued());
    EXPECT_NE(idp_.LastRefreshTokenIssued(), before);
    EXPECT_EQ(GetPrivateProfileString("POP3", "OAuthAccessToken", "", path_), token.AccessToken);

    idp_.Revoke();
    WritePrivateProfileString("POP3", "OAuthExpires", "0", path_);
    token = TokenForLogin(settings_, storage, UnixNow());
    EXPECT_FALSE(token.Ok);
    EXPECT_TRUE(token.NeedsSignIn);
    // The next start asks nothing until the user signs in again.
    TAccountTokens nextStart(path_, "POP3", "taro@pop.example.jp", nullptr);
    EXPECT_TRUE(TokenForLogin(settings_, nextStart, UnixNow()).NeedsSignIn);
    EXPECT_EQ(idp_.Requests("refresh_token"), 2);
    // Signing in again clears the state.
    nextStart.Save(SignedIn(3600));
    EXPECT_TRUE(TokenForLogin(settings_, nextStart, UnixNow()).Ok);
}

TEST_F(AccountTokensInFile, AProviderThatCannotBeReachedIsAFailureNotASignInState) {
    TAccountTokens storage(path_, "SMTP", "taro@smtp.example.jp", nullptr);
    const TOAuthTokens nearEnd = SignedIn(30);
    storage.Save(SignedIn(200));
    settings_.TokenUrl = "http://idp.example/token";  // never asked: not https
    // Within 5 minutes of its end the token would be renewed; it still works, so it is used.
    EXPECT_TRUE(TokenForLogin(settings_, storage, UnixNow()).Ok);
    storage.Save(nearEnd);
    const TLoginToken token = TokenForLogin(settings_, storage, UnixNow());
    EXPECT_FALSE(token.Ok);
    EXPECT_FALSE(token.NeedsSignIn);
    EXPECT_FALSE(token.Failure.empty());

    TMailPOP3 pop3;
    TMailSMTP smtp;
    TOAuthSettings ms;
    ms.Method = TAuthMethod::amMicrosoft;
    UseToken(pop3, ProviderFor(ms), "t");
    UseToken(smtp, ProviderFor(ms), "t");
    EXPECT_TRUE(pop3.OAuth.TwoStep && pop3.OAuth.PreferXOAuth2 && smtp.OAuth.PreferXOAuth2);
    EXPECT_EQ(smtp.AuthenticationType(), TAuthenticationType::atOAuth2);
}

}  // namespace
}  // namespace tarnwick::test
