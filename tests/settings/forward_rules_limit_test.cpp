// Rules beyond the most the settings file keeps are refused aloud, not dropped unseen.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/settings/SettingsFile.h"
#include "support/TempDir.h"

namespace tarnwick {
namespace {

TEST(ForwardRulesLimit, ACountBeyondTheLimitIsLoggedWithHowManyAreLeftOut) {
    const std::string path = test::ProcessTempDir() + "/rules-limit.ini";
    std::ofstream(path, std::ios::binary) << "[Filter]\r\nRuleCount=1003\r\nRule1=Subject: a\r\n";
    std::vector<std::string> log;
    const TSettings settings = ReadSettingsFile(path, [&](const std::string& line) { log.push_back(line); });
    EXPECT_EQ(settings.Filter.Rules.Items.size(), 1u);
    EXPECT_EQ(log, (std::vector<std::string>{
                       "設定ファイルの[Filter]の転送しない条件は1000件までのため、残りの3件は使いません",
                       "設定ファイルの[Filter]の転送しない条件 999件は読めないため使いません"}));
    ::unlink(path.c_str());
}

}  // namespace
}  // namespace tarnwick
