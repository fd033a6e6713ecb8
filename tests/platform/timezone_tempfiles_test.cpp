#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/Exception.h"
#include "platform/TempFiles.h"
#include "platform/TimeZone.h"

namespace tarnwick {
namespace {

class EnvTest : public ::testing::Test {
protected:
    void Save(const char* name) {
        const char* old = std::getenv(name);
        saved_.push_back({name, old != nullptr, old != nullptr ? old : ""});
    }
    void TearDown() override {
        for (const auto& s : saved_) {
            if (s.had) setenv(s.name.c_str(), s.value.c_str(), 1);
            else unsetenv(s.name.c_str());
        }
        tzset();
    }

private:
    struct Saved {
        std::string name;
        bool had;
        std::string value;
    };
    std::vector<Saved> saved_;
};

using TimeZoneInfo = EnvTest;
using TempFilesTest = EnvTest;

TEST_F(TimeZoneInfo, ZoneWithoutDaylightTime) {
    Save("TZ");
    setenv("TZ", "JST-9", 1);
    TTimeZoneInformation info;
    EXPECT_EQ(TTimeZoneId::tzUnknown, GetTimeZoneInformation(info));
    EXPECT_EQ(-540, info.Bias);
}

TEST_F(TimeZoneInfo, StandardAndDaylightTime) {
    Save("TZ");
    TTimeZoneInformation info;
    // Daylight time for one hour of a day in another month than this one.
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    setenv("TZ", local.tm_mon == 0 ? "EST+5EDT,J182/0,J182/1" : "EST+5EDT,J1/0,J1/1", 1);
    TTimeZoneId id = GetTimeZoneInformation(info);
    ASSERT_NE(TTimeZoneId::tzInvalid, id);
    EXPECT_EQ(TTimeZoneId::tzStandard, id);
    EXPECT_EQ(300, info.Bias + info.StandardBias);
    // Daylight time all year.
    setenv("TZ", "EST+5EDT,0/0,J365/25", 1);
    EXPECT_EQ(TTimeZoneId::tzDaylight, GetTimeZoneInformation(info));
    EXPECT_EQ(300, info.Bias);
    EXPECT_EQ(240, info.Bias + info.DaylightBias);
}

TEST_F(TempFilesTest, FolderComesFromTmpdir) {
    Save("TMPDIR");
    setenv("TMPDIR", "/var/tmp", 1);
    EXPECT_EQ("/var/tmp/", GetTempFolder());
    setenv("TMPDIR", "/var/tmp/", 1);
    EXPECT_EQ("/var/tmp/", GetTempFolder());
    setenv("TMPDIR", "", 1);
    EXPECT_EQ("/tmp/", GetTempFolder());
    unsetenv("TMPDIR");
    EXPECT_EQ("/tmp/", GetTempFolder());
}

TEST(TempFiles, CreatesAnEmptyPrivateFile) {
    const std::string name = CreateTempFile("/tmp/", "Tarn");
    struct stat st {};
    ASSERT_EQ(0, stat(name.c_str(), &st));
    EXPECT_EQ(0, st.st_size);
    EXPECT_EQ(0u, st.st_mode & 077);  // nobody else may read the decoded attachment
    EXPECT_EQ(".tmp", name.substr(name.size() - 4));
    EXPECT_EQ("/tmp/Tarn", name.substr(0, 9));
    unlink(name.c_str());
    EXPECT_THROW(CreateTempFile("/nonexistent-folder/", "Tarn"), EFCreateError);
}

}  // namespace
}  // namespace tarnwick
