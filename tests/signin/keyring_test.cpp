// The keyring through QtKeychain. TARNWICK_KEYRING says what the test run provides: "session"
// (a private session bus with an unlocked gnome-keyring, see keyring.sh) or "none" (no bus at
// all); unset, the tests skip, since a developer's own keyring is not for tests.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <atomic>
#include <thread>
#include <string>
#include <vector>

#include "app/signin/TokenStore.h"
#include "app/signin/SecretStore.h"
#include "app/settings/SettingsFile.h"
#include "app/signin/SignInState.h"
#include "platform/PrivateProfile.h"
#include "support/CoreApplication.h"
#include "support/TempDir.h"

namespace tarnwick::test {
namespace {

std::string Mode() {
    const char* mode = std::getenv("TARNWICK_KEYRING");
    return mode != nullptr ? mode : "";
}

class Keyring : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureCoreApplication();
        if (Mode().empty()) GTEST_SKIP() << "run through keyring.sh";
        store_.OnLog = [this](const std::string& line) { log_.push_back(line); };
    }
    TSecretStore store_{"Tarnwick test"};
    std::vector<std::string> log_;
};

TEST_F(Keyring, StoreReadBackReplaceAndRemove) {
    if (Mode() != "session") GTEST_SKIP();
    ASSERT_TRUE(store_.Available());
    // Secrets are bytes: a CP932 password and a long refresh token alike.
    const std::string password = "パス word\x01";
    const std::string token(2000, 'r');
    ASSERT_TRUE(store_.Write("pop3/tarnwick@127.0.0.1/password", password));
    ASSERT_TRUE(store_.Write("pop3/tarnwick@127.0.0.1/refresh", token));
    EXPECT_EQ(store_.Read("pop3/tarnwick@127.0.0.1/password"), password);
    EXPECT_EQ(store_.Read("pop3/tarnwick@127.0.0.1/refresh"), token);
    ASSERT_TRUE(store_.Write("pop3/tarnwick@127.0.0.1/refresh", "rotated"));
    EXPECT_EQ(store_.Read("pop3/tarnwick@127.0.0.1/refresh"), "rotated");
    EXPECT_TRUE(store_.Remove("pop3/tarnwick@127.0.0.1/refresh"));
    EXPECT_EQ(store_.Read("pop3/tarnwick@127.0.0.1/refresh"), std::nullopt);
    EXPECT_TRUE(store_.Remove("never/there"));
    // A second store (the next start) finds what the first left.
    TSecretStore again("Tarnwick test");
    EXPECT_EQ(again.Read("pop3/tarnwick@127.0.0.1/password"), password);
    EXPECT_TRUE(log_.empty());
}

TEST_F(Keyring, TokensGoToTheKeyringAndNotIntoTheFile) {
    if (Mode() != "session") GTEST_SKIP();
    const std::string path = ProcessTempDir() + "/keyring-tokens.ini";
    TTokenStore storage(path, "SMTP", "taro@smtp.example.jp", &store_);
    ASSERT_TRUE(storage.Save(TOAuthTokens{"access-1", "refresh-1", 42, false, ""}) == TTokenStore::TSaved::Keyring);
    const TOAuthTokens loaded = TTokenStore(path, "SMTP", "taro@smtp.example.jp", &store_).Load();
    EXPECT_EQ(loaded.RefreshToken, "refresh-1");
    EXPECT_EQ(loaded.AccessToken, "access-1");
    EXPECT_EQ(loaded.ExpiresAt, 42);
    EXPECT_EQ(GetPrivateProfileString("SMTP", "OAuthRefreshToken", "", path), "");
    storage.Clear();
    EXPECT_EQ(store_.Read("SMTP/taro@smtp.example.jp/refresh"), std::nullopt);
    ::unlink(path.c_str());
}

TEST_F(Keyring, TurningTheBoxOnMovesThePasswordsOutOfTheFile) {
    if (Mode() != "session") GTEST_SKIP();
    const std::string path = ProcessTempDir() + "/keyring-move.ini";
    TSettings settings;
    settings.Servers.Pop3Server = "pop.example.jp";
    settings.Servers.Pop3User = "taro";
    settings.Servers.Pop3Pass = "pop pw";
    settings.Servers.SmtpServer = "smtp.example.jp";
    settings.Servers.SmtpPass = "smtp pw";  // its user is the POP3 one
    settings.KeyringSecrets = true;
    TSignInState state(path);
    state.KeyringSecrets = true;
    WriteSettingsFile(path, state.MovePasswordsToKeyring(settings));
    TSettings read = ReadSettingsFile(path);
    EXPECT_EQ(read.Servers.Pop3Pass, "");
    EXPECT_EQ(read.Servers.SmtpPass, "");
    TSignInState nextStart(path);
    nextStart.KeyringSecrets = read.KeyringSecrets;
    nextStart.LoadPasswords(read);
    EXPECT_EQ(read.Servers.Pop3Pass, "pop pw");
    EXPECT_EQ(read.Servers.SmtpPass, "smtp pw");
    ::unlink(path.c_str());
}

TEST_F(Keyring, TheCycleThreadReadsWhatTheWindowThreadWrote) {
    if (Mode() != "session") GTEST_SKIP();
    ASSERT_TRUE(store_.Write("thread/secret", "from the window"));
    std::optional<std::string> read;
    bool wrote = false;
    // The window's cycles run on a plain thread of their own.
    std::atomic<bool> finished{false};
    std::thread cycle([&] {
        TSecretStore own("Tarnwick test");
        read = own.Read("thread/secret");
        wrote = own.Write("thread/secret", "from the cycle");
        finished = true;
    });
    // The window's thread goes on with its events meanwhile.
    while (!finished) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    cycle.join();
    EXPECT_EQ(read, "from the window");
    EXPECT_TRUE(wrote);
    EXPECT_EQ(store_.Read("thread/secret"), "from the cycle");
}

TEST_F(Keyring, WithoutABusNothingIsStoredAndTheLogSaysSoOnce) {
    if (Mode() != "none") GTEST_SKIP();
    EXPECT_FALSE(store_.Available());
    EXPECT_FALSE(store_.Write("k", "secret"));
    EXPECT_EQ(store_.Read("k"), std::nullopt);
    EXPECT_FALSE(store_.Remove("k"));
    EXPECT_FALSE(store_.Available());
    ASSERT_EQ(log_.size(), 1u);
    EXPECT_EQ(log_[0], "キーリングが使えないため、パスワードとトークンは設定ファイルに保存します");
}

}  // namespace
}  // namespace tarnwick::test
