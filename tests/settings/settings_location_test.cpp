// Where settings and ledgers go, and which lock goes with them.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "app/settings/SettingsLocation.h"
#include "support/TempDir.h"

namespace tarnwick::test {
namespace {

class SettingsLocationTest : public ::testing::Test {
protected:
    TSettingsLocation Resolve(const std::string& exeFolder, const std::string& configFile = "") {
        return ResolveSettingsLocation(exeFolder, "tarnwick", configFile, [this](const char* name) -> const char* {
            if (std::string(name) == "XDG_CONFIG_HOME") return config_.c_str();
            if (std::string(name) == "HOME") return dir_.c_str();
            return nullptr;
        });
    }
    ScratchFolder folder_{"location"};
    std::string dir_ = folder_.Path(), config_ = dir_ + "/config";
};

TEST_F(SettingsLocationTest, SystemFoldersNeverHoldTheSettingsEvenWhenWritable) {
    const TSettingsLocation installed = Resolve("/usr/bin/");
    EXPECT_FALSE(installed.Portable);
    EXPECT_EQ(installed.SettingsFile, config_ + "/tarnwick/tarnwick.ini");
    EXPECT_EQ(installed.LedgerFolder, dir_ + "/.local/share/tarnwick");
    EXPECT_EQ(installed.LockName, "ForwardMail");

    const TSettingsLocation portable = Resolve(dir_ + "/");
    EXPECT_TRUE(portable.Portable);
    EXPECT_EQ(portable.SettingsFile, dir_ + "/tarnwick.ini");
    EXPECT_EQ(portable.LedgerFolder, "");
}

TEST_F(SettingsLocationTest, EachNamedFileHasItsOwnLockAndLedgersUnlessItIsTheUsualOne) {
    const TSettingsLocation a = Resolve("/usr/bin/", dir_ + "/a/box.ini");
    const TSettingsLocation b = Resolve("/usr/bin/", dir_ + "/b/box.ini");
    EXPECT_EQ(a.LedgerFolder, dir_ + "/a");
    EXPECT_NE(a.LockName, b.LockName);
    EXPECT_NE(a.LockName, "ForwardMail");
    EXPECT_EQ(a.LockName, Resolve("/usr/bin/", dir_ + "/b/../a/box.ini").LockName);

    std::filesystem::create_directories(config_ + "/tarnwick");
    const TSettingsLocation usual = Resolve("/usr/bin/", config_ + "/tarnwick/tarnwick.ini");
    EXPECT_EQ(usual.LockName, "ForwardMail");
    EXPECT_EQ(usual.LedgerFolder, dir_ + "/.local/share/tarnwick");
}

TEST_F(SettingsLocationTest, InstalledFoldersAreMadePrivateAndAnOpenSettingsFileIsClosed) {
    TSettingsLocation installed = Resolve("/usr/bin/");
    std::filesystem::create_directories(config_ + "/tarnwick");
    std::ofstream(installed.SettingsFile) << "[POP3]\n";
    ::chmod(installed.SettingsFile.c_str(), 0644);
    const std::filesystem::path before = std::filesystem::current_path();
    PrepareSettingsLocation(installed);
    EXPECT_EQ(std::filesystem::current_path(), installed.LedgerFolder);
    std::filesystem::current_path(before);
    struct stat st {};
    ASSERT_EQ(::stat(installed.SettingsFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_NE(installed.Tightened.find("(0644"), std::string::npos);
    ASSERT_EQ(::stat(installed.LedgerFolder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

// Passwords are in the file wherever it lives: one named with --config is closed too, and said so.
TEST_F(SettingsLocationTest, ASettingsFileNamedOnTheCommandLineIsClosedToOthers) {
    std::filesystem::create_directories(dir_ + "/elsewhere");
    TSettingsLocation named = Resolve("/usr/bin/", dir_ + "/elsewhere/mine.ini");
    std::ofstream(named.SettingsFile) << "[POP3]\n";
    ::chmod(named.SettingsFile.c_str(), 0640);
    const std::filesystem::path before = std::filesystem::current_path();
    PrepareSettingsLocation(named);
    std::filesystem::current_path(before);
    struct stat st {};
    ASSERT_EQ(::stat(named.SettingsFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(named.Tightened.empty());
    // Already private: nothing to say.
    named.Tightened.clear();
    PrepareSettingsLocation(named);
    std::filesystem::current_path(before);
    EXPECT_TRUE(named.Tightened.empty());
}

}  // namespace
}  // namespace tarnwick::test
