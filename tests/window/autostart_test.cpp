// The autostart entry: written where desktops look, with an Exec line that survives awkward paths,
// and accepted by the desktop's own validator.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/window/Autostart.h"
#include "platform/Exception.h"
#include "support/TempDir.h"

namespace tarnwick::test {
namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class AutostartTest : public ::testing::Test {
protected:
    ScratchFolder folder_{"autostart"};
    std::string home_ = folder_.Path();
};

TEST_F(AutostartTest, FollowsXdgConfigHomeOrTheHomeFolder) {
    const std::string config = home_ + "/cfg";
    EXPECT_EQ(AutostartFile([&](const char* name) -> const char* {
                  return std::string(name) == "XDG_CONFIG_HOME" ? config.c_str() : nullptr;
              }),
              config + "/autostart/tarnwick.desktop");
    EXPECT_EQ(AutostartFile([&](const char* name) -> const char* {
                  return std::string(name) == "HOME" ? home_.c_str() : "relative/ignored";
              }),
              home_ + "/.config/autostart/tarnwick.desktop");
}

TEST_F(AutostartTest, EnableWritesProgramConfigAndFolderAndDisableRemoves) {
    const std::string entry = home_ + "/.config/autostart/tarnwick.desktop";
    EXPECT_FALSE(AutostartEnabled(entry));
    EnableAutostart(entry, "/opt/my apps/tarnwick", "/home/u/box $1/100%.ini", "/home/u/ledgers");
    ASSERT_TRUE(AutostartEnabled(entry));
    const std::string text = ReadAll(entry);
    EXPECT_NE(text.find("\nExec=\"/opt/my apps/tarnwick\" --config \"/home/u/box \\\\$1/100%%.ini\"\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\nPath=/home/u/ledgers\n"), std::string::npos) << text;
    if (std::system("command -v desktop-file-validate >/dev/null 2>&1") == 0) {
        EXPECT_EQ(std::system(("desktop-file-validate '" + entry + "'").c_str()), 0);
    }
    EnableAutostart(entry, "/usr/bin/tarnwick", "", "/home/u");  // rewritten, not appended
    EXPECT_EQ(ReadAll(entry).find("--config"), std::string::npos);
    DisableAutostart(entry);
    EXPECT_FALSE(AutostartEnabled(entry));
    DisableAutostart(entry);  // already gone: fine
}

TEST_F(AutostartTest, QuotesEveryCharacterThatKeepsAMeaningInsideQuotes) {
    EXPECT_EQ(DesktopExecArg("a\"b`c$d\\e"), "\"a\\\\\"b\\\\`c\\\\$d\\\\\\\\e\"");
    EXPECT_THROW(EnableAutostart(home_ + "/x.desktop", "/bin/tarnwick", "", "/a\nb"), Exception);
}

}  // namespace
}  // namespace tarnwick::test
