// The [Filter] section of the settings file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "app/settings/ForwardFilter.h"
#include "platform/IniFile.h"
#include "support/TempDir.h"

namespace tarnwick {
namespace {

class FilterFile : public ::testing::Test {
protected:
    ~FilterFile() override { ::unlink(path_.c_str()); }
    void Write(const std::string& text) {
        std::ofstream out(path_, std::ios::binary);
        out << text;
    }
    std::string path_ = test::ProcessTempDir() + "/filter.ini";
};

TEST_F(FilterFile, AFileWithoutTheSectionForwardsEverythingAsBefore) {
    Write("[Common]\r\nInterval=5\r\n");
    const TForwardFilter filter = ReadForwardFilter(TIniFile(path_));
    EXPECT_EQ(filter, TForwardFilter{});
    EXPECT_TRUE(filter.SizeNotice);
    EXPECT_FALSE(filter.TooBig(int64_t{1} << 40));
}

TEST_F(FilterFile, WrittenAndReadBackWholeAndFewerRulesLeaveNoOldOnesBehind) {
    TForwardFilter filter;
    filter.MaxSizeKB = 300;
    filter.SizeNotice = false;
    filter.Rules.Items = {{"X-Spam-Flag", "YES"}, {"Subject", "[迷惑]"}, {"Subject", "広告"}};
    TIniFile ini(path_);
    WriteForwardFilter(ini, filter);
    EXPECT_EQ(ReadForwardFilter(ini), filter);
    filter.Rules.Items.resize(1);
    WriteForwardFilter(ini, filter);
    EXPECT_EQ(ReadForwardFilter(ini), filter);
    EXPECT_TRUE(filter.TooBig(300 * 1024 + 1));
    EXPECT_FALSE(filter.TooBig(300 * 1024));
    EXPECT_FALSE(filter.TooBig(-1)) << "an unknown size is never too big";
}

TEST_F(FilterFile, HandEditsOutOfRangeOrUnreadableAreBoundedAndCounted) {
    Write("[Filter]\r\nMaxSizeKB=-5\r\nSizeNotice=0\r\nRuleCount=99999999\r\nRule1=Subject: [SPAM]\r\nRule2=nonsense\r\n");
    int skipped = 0;
    const TForwardFilter filter = ReadForwardFilter(TIniFile(path_), &skipped);
    EXPECT_EQ(filter.MaxSizeKB, 0);
    EXPECT_FALSE(filter.SizeNotice);
    ASSERT_EQ(filter.Rules.Items.size(), 1u);
    EXPECT_EQ(filter.Rules.Items[0].ToText(), "Subject: [SPAM]");
    EXPECT_EQ(skipped, 999);  // the count is bounded; every missing rule is one skipped
}

}  // namespace
}  // namespace tarnwick
