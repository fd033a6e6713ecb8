#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "message/MailGlobal.h"
#include "platform/DateTime.h"
#include "support/ScopedTimeZone.h"

namespace tarnwick {
namespace {

// Pins the process time zone for one test and puts the old one back afterwards.
class ZoneTest : public ::testing::Test {
protected:
    void UseZone(const char* zone) { zone_.Use(zone); }

private:
    test::ScopedTimeZone zone_;
};

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return EncodeDate(y, mo, d) + EncodeTime(h, mi, s, 0);
}

void ExpectSameInstant(TDateTime expected, TDateTime actual) { EXPECT_NEAR(expected, actual, 0.5 / 86400.0); }

TEST(ParseInternetDate, DayNameDateTimeAndZoneLeftOver) {
    std::string text = "Mon, 7 Sep 2001 12:34:56 +0900";
    ExpectSameInstant(At(2001, 9, 7, 12, 34, 56), ParseInternetDate(text));
    EXPECT_EQ("+0900", text);
}

TEST(ParseInternetDate, TwoDigitYearsPivotAt80) {
    std::string text = "7 Sep 01 12:34:56 GMT";
    ExpectSameInstant(At(2001, 9, 7, 12, 34, 56), ParseInternetDate(text));
    EXPECT_EQ("GMT", text);
    text = "7 Sep 99 12:34:56 GMT";
    ExpectSameInstant(At(1999, 9, 7, 12, 34, 56), ParseInternetDate(text));
    text = "7 Sep 79";
    ExpectSameInstant(At(2079, 9, 7), ParseInternetDate(text));
    text = "7 Sep 80";
    ExpectSameInstant(At(1980, 9, 7), ParseInternetDate(text));
}

TEST(ParseInternetDate, OtherFieldOrdersAndSeparators) {
    std::string text = "Fri Sep 7 12:00:00 2001";  // time before year
    ExpectSameInstant(At(2001, 9, 7, 12), ParseInternetDate(text));
    EXPECT_EQ("", text);
    text = "Sat, 08-Sep-2001 01:02:03 -0500";
    ExpectSameInstant(At(2001, 9, 8, 1, 2, 3), ParseInternetDate(text));
    EXPECT_EQ("-0500", text);
    text = "sep 7 2001 23:59:59";
    ExpectSameInstant(At(2001, 9, 7, 23, 59, 59), ParseInternetDate(text));
    text = "  7 Sep 2001  ";
    ExpectSameInstant(At(2001, 9, 7), ParseInternetDate(text));
    text = "7 Sep 2001 12:30 +0100";  // seconds missing
    ExpectSameInstant(At(2001, 9, 7, 12, 30), ParseInternetDate(text));
    text = "x Sep 2001";  // a day that is no number counts as the first
    ExpectSameInstant(At(2001, 9, 1), ParseInternetDate(text));
}

TEST(ParseInternetDate, BadDatesGiveZero) {
    for (const char* bad : {"", "   ", "7 September 2001", "31 Feb 2001", "7 Sep 2001 25:00:00", "7 Sep -5",
                            "garbage", "Mon,", "7 Foo 2001", "\x82", "0 Sep 2001", "32 Jan 2001",
                            "7 Sep 2001 12:60:00", "7 Sep 2001 12:00:-1"}) {
        std::string text = bad;
        EXPECT_EQ(0.0, ParseInternetDate(text)) << bad;
    }
}

TEST(ZoneOffset, ParsesSignedHoursAndMinutes) {
    ExpectSameInstant(EncodeTime(5, 30, 0, 0), ParseZoneOffset("+0530"));
    ExpectSameInstant(-EncodeTime(8, 0, 0, 0), ParseZoneOffset("-0800"));
    ExpectSameInstant(EncodeTime(9, 0, 0, 0), ParseZoneOffset("  +0900 (JST)"));
    EXPECT_EQ(0.0, ParseZoneOffset("+0000"));
}

TEST(ZoneOffset, AnythingElseIsZero) {
    for (const char* bad : {"GMT", "EST", "UT", "+2500", "+0960", "+09", "+", "", "0900", "+09x0", "-ab00"})
        EXPECT_EQ(0.0, ParseZoneOffset(bad)) << bad;
}

TEST(ZoneOffset, FormatsSignAndFourDigits) {
    EXPECT_EQ("+0900", FormatZoneOffset(EncodeTime(9, 0, 0, 0), false));
    EXPECT_EQ("-0330", FormatZoneOffset(-EncodeTime(3, 30, 0, 0), true));
    EXPECT_EQ("+0000", FormatZoneOffset(0, false));
    EXPECT_EQ("GMT", FormatZoneOffset(0, true));
}

TEST_F(ZoneTest, LocalOffsetFollowsTheZone) {
    UseZone("JST-9");
    ExpectSameInstant(EncodeTime(9, 0, 0, 0), LocalUtcOffset());
    UseZone("UTC0");
    EXPECT_EQ(0.0, LocalUtcOffset());
    UseZone("XXX+5:30");
    ExpectSameInstant(-EncodeTime(5, 30, 0, 0), LocalUtcOffset());
}

TEST_F(ZoneTest, DaylightTimeCountsInTheOffset) {
    // Daylight time all year round: from day 0 to day 365 of every year.
    UseZone("AAA+5BBB,0/0,J365/25");
    ExpectSameInstant(-EncodeTime(4, 0, 0, 0), LocalUtcOffset());
}

TEST_F(ZoneTest, DateHeaderToLocalTime) {
    UseZone("JST-9");
    ExpectSameInstant(At(2001, 9, 7, 12, 34, 56), InternetDateToLocal("Mon, 7 Sep 2001 12:34:56 +0900"));
    ExpectSameInstant(At(2001, 9, 7, 21, 34, 56), InternetDateToLocal("Mon, 7 Sep 2001 12:34:56 GMT"));
    UseZone("UTC0");
    ExpectSameInstant(At(2001, 9, 7, 3, 34, 56), InternetDateToLocal("Mon, 7 Sep 2001 12:34:56 +0900"));
    // A negative zone across midnight.
    ExpectSameInstant(At(2001, 9, 8, 2, 0, 0), InternetDateToLocal("7 Sep 2001 21:00:00 -0500"));
}

TEST_F(ZoneTest, WritesDatesLabelledWithTheLocalOffset) {
    UseZone("JST-9");
    EXPECT_EQ("Sun, 6 Dec 2026 21:05:09 +0900", FormatInternetDate(At(2026, 12, 6, 21, 5, 9)));
    UseZone("UTC0");
    EXPECT_EQ("Thu, 1 Jan 1970 00:00:00 +0000", FormatInternetDate(At(1970, 1, 1)));
    EXPECT_EQ("Thu, 1 Jan 1970 00:00:00 GMT", FormatInternetDate(At(1970, 1, 1), true));
    UseZone("EST+5");
    EXPECT_EQ("Sat, 29 Feb 2020 23:59:59 -0500", FormatInternetDate(At(2020, 2, 29, 23, 59, 59)));
}

TEST_F(ZoneTest, WrittenDatesReadBack) {
    UseZone("XXX-5:45");
    const TDateTime value = At(2024, 3, 10, 7, 8, 9);
    ExpectSameInstant(value, InternetDateToLocal(FormatInternetDate(value)));
}

TEST(NameIndexes, OnlyThreeLetterNamesAnyCase) {
    EXPECT_EQ(7, DayNameIndex("sat"));
    EXPECT_EQ(0, DayNameIndex("Sunday"));
    EXPECT_EQ(12, MonthIndex("dEc"));
    EXPECT_EQ(0, MonthIndex(""));
    const std::vector<std::string> list = {"alpha", "Beta", "beta"};
    EXPECT_EQ(2, IndexInList("beta", list));
    EXPECT_EQ(1, IndexInList("beta", list, false));
}

}  // namespace
}  // namespace tarnwick
