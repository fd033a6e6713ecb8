// The sign-in step before a login with the tokens kept in the settings file: refresh near
// expiry, the rotated refresh token on disk at once, invalid_grant remembered across starts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "app/signin/SignInState.h"
#include "app/signin/TokenStore.h"
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

class TokenStoreInFile : public ::testing::Test {
protected:
    TokenStoreInFile()
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
        TOAuthTokens tokens = RunDeviceFlow(client, [](const std::string&, const std::string&) {}, nullptr);
        tokens.ExpiresAt = UnixNow() + lifetime;
        return tokens;
    }

    TokenEndpoint idp_;
    std::string path_;
    TOAuthSettings settings_;
};

TEST_F(TokenStoreInFile, SavedLoadedAndClearedBesideTheOtherKeys) {
    TTokenStore storage(path_, "POP3", "taro@pop.example.jp", nullptr);
    TOAuthTokens tokens{"access+/=", "refresh-x", 1234567890, false, ""};
    ASSERT_EQ(storage.Save(tokens), TTokenStore::TSaved::File);
    TTokenStore again(path_, "POP3", "taro@pop.example.jp", nullptr);
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

TEST_F(TokenStoreInFile, RefreshNearExpiryRotatesOnDiskAndInvalidGrantIsRemembered) {
    TTokenStore storage(path_, "POP3", "taro@pop.example.jp", nullptr);
    storage.Save(SignedIn(3600));
    TOAuthTokens token = storage.ForLogin(ProviderFor(settings_), UnixNow());
    ASSERT_TRUE(token.Ok());
    EXPECT_EQ(idp_.Requests("refresh_token"), 0);

    storage.Save(SignedIn(60));
    const std::string before = storage.Load().RefreshToken;
    token = storage.ForLogin(ProviderFor(settings_), UnixNow());
    ASSERT_TRUE(token.Ok());
    EXPECT_EQ(idp_.Requests("refresh_token"), 1);
    EXPECT_EQ(GetPrivateProfileString("POP3", "OAuthRefreshToken", "", path_), idp_.LastRefreshTokenIssued());
    EXPECT_NE(idp_.LastRefreshTokenIssued(), before);
    EXPECT_EQ(GetPrivateProfileString("POP3", "OAuthAccessToken", "", path_), token.AccessToken);

    idp_.Revoke();
    WritePrivateProfileString("POP3", "OAuthExpires", "0", path_);
    token = storage.ForLogin(ProviderFor(settings_), UnixNow());
    EXPECT_FALSE(token.Ok());
    EXPECT_TRUE(token.NeedsSignIn);
    // The next start asks nothing until the user signs in again.
    TTokenStore nextStart(path_, "POP3", "taro@pop.example.jp", nullptr);
    EXPECT_TRUE(nextStart.ForLogin(ProviderFor(settings_), UnixNow()).NeedsSignIn);
    EXPECT_EQ(idp_.Requests("refresh_token"), 2);
    // Signing in again clears the state.
    nextStart.Save(SignedIn(3600));
    EXPECT_TRUE(nextStart.ForLogin(ProviderFor(settings_), UnixNow()).Ok());
}

TEST_F(TokenStoreInFile, AProviderThatCannotBeReachedIsAFailureNotASignInState) {
    TTokenStore storage(path_, "SMTP", "taro@smtp.example.jp", nullptr);
    const TOAuthTokens nearEnd = SignedIn(30);
    storage.Save(SignedIn(200));
    settings_.TokenUrl = "http://idp.example/token";  // never asked: not https
    // Within 5 minutes of its end the token would be renewed; it still works, so it is used.
    EXPECT_TRUE(storage.ForLogin(ProviderFor(settings_), UnixNow()).Ok());
    storage.Save(nearEnd);
    const TOAuthTokens token = storage.ForLogin(ProviderFor(settings_), UnixNow());
    EXPECT_FALSE(token.Ok());
    EXPECT_FALSE(token.NeedsSignIn);
    EXPECT_FALSE(token.Error.empty());

    // Microsoft's token login: XOAUTH2 on both, two steps on POP3 only; SMTP shares the sign-in.
    TServerSettings servers;
    servers.Pop3User = "taro";
    servers.Pop3Access.Auth.Method = servers.SmtpAccess.Auth.Method = TAuthMethod::amMicrosoft;
    TSignInState state(path_);
    ASSERT_TRUE(state.SaveSignIn(servers, TServerKind::Pop3, TOAuthTokens{"t", "r", UnixNow() + 3600, false, ""}));
    const TOAuthLogin pop3 = state.LoginFor(servers, TServerKind::Pop3), smtp = state.LoginFor(servers, TServerKind::Smtp);
    EXPECT_TRUE(pop3.TwoStep && pop3.PreferXOAuth2 && smtp.PreferXOAuth2 && !smtp.TwoStep);
    EXPECT_EQ(smtp.AccessToken, "t");
}

}  // namespace
}  // namespace tarnwick::test
