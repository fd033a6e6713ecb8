// One store holds the tokens: a keyring that answers but will not store ("locked", see
// keyring.sh) leaves them in the file with one line; a keyring that stores takes them out of it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/signin/SignInState.h"
#include "platform/PrivateProfile.h"
#include "support/TempDir.h"

namespace tarnwick::test {
namespace {

std::string Mode() {
    const char* mode = std::getenv("TARNWICK_KEYRING");
    return mode != nullptr ? mode : "";
}

class KeyringFallback : public ::testing::Test {
protected:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "signin_tests";
        static char* argv[] = {name, nullptr};
        if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
        if (Mode().empty()) GTEST_SKIP() << "run through keyring.sh";
        servers_.Pop3User = "taro";
        servers_.Pop3Server = "pop.example.jp";
        servers_.Pop3Access.Auth.Method = TAuthMethod::amOther;
        state_.KeyringSecrets = true;
        state_.OnLog = [this](const std::string& line) { log_.push_back(line); };
    }
    void TearDown() override { ::unlink(path_.c_str()); }
    std::string FileRefresh() const { return GetPrivateProfileString("POP3", "OAuthRefreshToken", "", path_); }

    std::string path_ = ProcessTempDir() + "/keyring-fallback.ini";
    TServerSettings servers_;
    TSignInState state_{path_};
    std::vector<std::string> log_;
};

TEST_F(KeyringFallback, TokensStayInOneStore) {
    struct Step {
        const char* mode;   // where the step runs
        const char* saved;  // the refresh token saved, in order
        const char* inFile; // the file's refresh token afterwards
    };
    const Step steps[] = {
        // Locked: the file takes them, the log says so once.
        {"locked", "r1", "r1"},
        {"locked", "r2", "r2"},
        // Unlocked: the keyring takes them and the file's copy goes.
        {"session", "r1", ""},
        {"session", "r2", ""},
    };
    // Tokens from before the box was on are in the file.
    if (Mode() == "session") {
        ASSERT_TRUE(WritePrivateProfileString("POP3", "OAuthRefreshToken", "r0", path_));
    }
    for (const Step& step : steps) {
        if (Mode() != step.mode) continue;
        ASSERT_TRUE(state_.SaveSignIn(servers_, TServerKind::Pop3, {"a", step.saved, UnixNow() + 3600, false, ""}));
        EXPECT_EQ(FileRefresh(), step.inFile) << step.saved;
        // The next login finds the token just saved, without asking the provider.
        EXPECT_EQ(state_.LoginFor(servers_, TServerKind::Pop3).AccessToken, "a") << step.saved;
    }
    if (Mode() == "locked") {
        EXPECT_THAT(log_, ::testing::ElementsAre("キーリングに保存できないため、トークンは設定ファイルに保存します"));
    } else {
        EXPECT_THAT(log_, ::testing::IsEmpty());
    }
}

}  // namespace
}  // namespace tarnwick::test
