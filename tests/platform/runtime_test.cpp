#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/DateTime.h"
#include "platform/Exception.h"
#include "platform/IniFile.h"
#include "platform/Locale.h"
#include "platform/StringList.h"
#include "platform/Streams.h"
#include "platform/TempFiles.h"
#include "support/TempDir.h"

namespace tarnwick {
namespace {

TEST(StringList, LoadsAnyLineEndAndSavesCrLf) {
    TStringList list;
    list.SetText("a\r\nb\nc\rd");
    ASSERT_EQ(list.Count(), 4);
    EXPECT_EQ(list[3], "d");
    EXPECT_EQ(list.Text(), "a\r\nb\r\nc\r\nd\r\n");
    list.SetText("x\r\n\r\ny\r\n");
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list[1], "");
}

TEST(StringList, IndexOfIgnoresCaseAndKeepsDuplicates) {
    TStringList list;
    list.Add("Abc");
    list.Add("abc");
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.IndexOf("ABC"), 0);
    EXPECT_EQ(list.IndexOf("ab"), -1);
    list.Duplicates = TDuplicates::dupIgnore;
    EXPECT_EQ(list.Add("ABC"), 0);
    EXPECT_EQ(list.Count(), 2);
}

TEST(Conversion, IntegerErrorsCarryTheRuntimeText) {
    EXPECT_EQ(StrToInt("0x1F"), 31);
    EXPECT_EQ(StrToInt("-12"), -12);
    try {
        StrToInt("1a");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'1a' は整数ではありません");
    }
    EXPECT_EQ(StrToIntDef("", 7), 7);
    EXPECT_EQ(StrToIntDef("99999999999", 7), 7);
}

TEST(DateTime, RoundTripsAndKnowsWeekdays) {
    TDateTime d = EncodeDate(2026, 12, 6) + EncodeTime(21, 5, 9, 0);
    int y, m, day, h, n, s, ms;
    DecodeDate(d, y, m, day);
    DecodeTime(d, h, n, s, ms);
    EXPECT_EQ(y, 2026);
    EXPECT_EQ(m, 12);
    EXPECT_EQ(day, 6);
    EXPECT_EQ(h * 10000 + n * 100 + s, 210509);
    EXPECT_EQ(DayOfWeek(d), 1);  // Sunday
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeDate(2000, 3, 1) - EncodeDate(2000, 2, 28), 2.0);
    TDateTime bad;
    EXPECT_FALSE(TryEncodeDate(2001, 2, 29, bad));
    EXPECT_EQ(FormatTimeHMS(d), "21:05:09");
}

TEST(Locale, ConvertsCodePage932AtTheBoundary) {
    std::string sjis = "表示";  // 0x95 0x5C: a trail byte equal to '\'
    ASSERT_EQ(sjis.size(), 4u);
    EXPECT_EQ(static_cast<unsigned char>(sjis[1]), 0x5C);
    EXPECT_EQ(Cp932ToUtf8(sjis), "\xE8\xA1\xA8\xE7\xA4\xBA");
    EXPECT_EQ(Utf8ToCp932("\xE8\xA1\xA8\xE7\xA4\xBA"), sjis);
    EXPECT_EQ(Cp932ToUtf8("\x81\x60"), "\xEF\xBD\x9E");  // FULLWIDTH TILDE, not WAVE DASH
    EXPECT_EQ(Cp932ToUtf8("a\x81"), "a\xEF\xBF\xBD");
    EXPECT_EQ(ByteType(sjis, 2), TMbcsByteType::mbTrailByte);
    EXPECT_EQ(ByteType(sjis, 3), TMbcsByteType::mbLeadByte);
}

TEST(Streams, MemoryAndViewReadWhatWasWritten) {
    TMemoryStream m;
    m.WriteString("hello");
    m.SetPosition(1);
    char buf[8] = {};
    EXPECT_EQ(m.Read(buf, 8), 4);
    EXPECT_STREQ(buf, "ello");
    TReadOnlyMemoryStream v(std::string_view("abc"));
    EXPECT_EQ(v.Size(), 3);
    EXPECT_THROW(v.WriteString("x"), EWriteError);
}

// A disk error says which file, by its full path, and why: a relative name means nothing in a log.
TEST(Streams, DiskErrorsNameTheFileByItsFullPathAndTheReason) {
    test::ScratchFolder folder("disk");
    folder.Enter();
    const std::string dir = folder.Path();
    auto message = [](auto&& action) {
        try {
            action();
        } catch (const Exception& e) {
            return e.Message();
        }
        return std::string("nothing raised");
    };
    EXPECT_EQ(message([] { TFileStream("missing.txt", TFileStream::fmOpenRead); }),
              "ファイル " + dir + "/missing.txt を開けません。No such file or directory");
    EXPECT_EQ(message([] { TFileStream("no/x.txt", TFileStream::fmCreate); }),
              "ファイル " + dir + "/no/x.txt を作成できません。No such file or directory");
    EXPECT_EQ(message([] {
                  char c;
                  TFileStream(".", TFileStream::fmOpenRead).ReadBuffer(&c, 1);
              }),
              "ファイル " + dir + "/. を読み込めません。Is a directory");
    EXPECT_EQ(message([] { TFileStream("/dev/full", TFileStream::fmOpenWrite).WriteString("x"); }),
              "ファイル /dev/full に書き込めません。No space left on device");
    EXPECT_EQ(message([] { CreateTempFile("no/", "T"); }),
              "ファイル " + dir + "/no/TXXXXXX.tmp を作成できません。No such file or directory");
    EXPECT_EQ(message([] { TIniFile("no/a.ini").WriteString("A", "k", "v"); }),
              dir + "/no/a.ini に書き込めません。No such file or directory");
}

}  // namespace
}  // namespace tarnwick
