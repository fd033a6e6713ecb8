// The sign-in keys of the settings file: a file from before them logs in with passwords as it
// did, the keys survive a round trip, and a first start offers the keyring.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "app/settings/SettingsFile.h"
#include "app/signin/SignInState.h"
#include "support/TempDir.h"

namespace tarnwick::test {
namespace {

class SettingsKeys : public ::testing::Test {
protected:
    void Write(const std::string& text) { std::ofstream(path_) << text; }
    std::string Text() const {
        std::ifstream in(path_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void TearDown() override { ::unlink(path_.c_str()); }
    std::string path_ = ProcessTempDir() + "/settings-keys.ini";
};

TEST_F(SettingsKeys, AFileFromBeforeLogsInWithPasswordsAndKeepsThemInTheFile) {
    Write("[POP3]\r\nServer=pop.example.jp\r\nUser=taro\r\nPass=pw\r\n[Common]\r\nInterval=5\r\n");
    TSettings settings = ReadSettingsFile(path_);
    EXPECT_EQ(settings.Servers.Pop3Access.Auth.Method, TAuthMethod::amPassword);
    EXPECT_EQ(settings.Servers.SmtpAccess.Auth.Method, TAuthMethod::amPassword);
    EXPECT_FALSE(settings.KeyringSecrets);
    WriteSettingsFile(path_, settings);
    // Written back, a password login adds no sign-in keys.
    EXPECT_EQ(Text().find("Auth="), std::string::npos);
    EXPECT_NE(Text().find("Pass=pw"), std::string::npos);
    // No keyring in use: nothing moves.
    TSignInState state(path_);
    EXPECT_EQ(state.MovePasswordsToKeyring(settings).Servers.Pop3Pass, "pw");

    ::unlink(path_.c_str());
    EXPECT_TRUE(ReadSettingsFile(path_).KeyringSecrets);  // a first start
}

TEST_F(SettingsKeys, EveryMethodAndItsKeysRoundTrip) {
    struct Case {
        std::string pop3Text;
        TAuthMethod method;
    } cases[] = {{"Auth=Microsoft\r\nTenant=consumers\r\nClientId=ms-id", TAuthMethod::amMicrosoft},
                 {"Auth=google", TAuthMethod::amGoogle},
                 {"Auth=Other\r\nAuthUrl=https://a/auth\r\nTokenUrl=https://a/token\r\nScopes=x y", TAuthMethod::amOther},
                 {"Auth=Password", TAuthMethod::amPassword},
                 {"Auth=nonsense", TAuthMethod::amPassword}};
    for (const Case& c : cases) {
        Write("[POP3]\r\nServer=pop.example.jp\r\n" + c.pop3Text + "\r\n[Common]\r\nKeyringSecrets=1\r\n");
        TSettings settings = ReadSettingsFile(path_);
        EXPECT_EQ(settings.Servers.Pop3Access.Auth.Method, c.method) << c.pop3Text;
        EXPECT_TRUE(settings.KeyringSecrets);
        WriteSettingsFile(path_, settings);
        const TSettings again = ReadSettingsFile(path_);
        const TOAuthSettings &a = settings.Servers.Pop3Access.Auth, &b = again.Servers.Pop3Access.Auth;
        EXPECT_EQ(b.Method, a.Method) << c.pop3Text;
        EXPECT_EQ(b.ClientId, a.ClientId);
        EXPECT_EQ(b.Tenant, a.Tenant);
        EXPECT_EQ(b.TokenUrl, a.TokenUrl);
        EXPECT_EQ(b.Scopes, a.Scopes);
    }
    Write("[POP3]\r\nAuth=Microsoft\r\n");
    EXPECT_EQ(ReadSettingsFile(path_).Servers.Pop3Access.Auth.Tenant, "common");
}

TEST_F(SettingsKeys, SmtpSharesThePop3SignInOnlyWhenItSignsInTheSameWay) {
    TServerSettings s;
    s.Pop3User = "taro@outlook.com";
    s.Pop3Access.Auth.Method = s.SmtpAccess.Auth.Method = TAuthMethod::amMicrosoft;
    EXPECT_TRUE(TSignInState::SmtpSharesPop3(s));  // an empty SMTP user is the POP3 one
    s.SmtpUser = "hanako@outlook.com";
    EXPECT_FALSE(TSignInState::SmtpSharesPop3(s));
    s.SmtpUser.clear();
    s.SmtpAccess.Auth.Tenant = "consumers";
    EXPECT_FALSE(TSignInState::SmtpSharesPop3(s));
    s.SmtpAccess.Auth = TOAuthSettings();
    s.Pop3Access.Auth = TOAuthSettings();
    EXPECT_FALSE(TSignInState::SmtpSharesPop3(s));  // passwords share nothing
}

}  // namespace
}  // namespace tarnwick::test
