#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "message/HeaderList.h"
#include "platform/Exception.h"

namespace tarnwick {
namespace {

TMailHeaderList Lines(std::initializer_list<const char*> lines) {
    TMailHeaderList list;
    for (const char* line : lines) list.Add(line);
    return list;
}

std::vector<std::string> All(const TStringList& list) {
    std::vector<std::string> out;
    for (const auto& line : list) out.push_back(line);
    return out;
}

TEST(HeaderLookup, NamesIgnoreCaseAndValuesAreTrimmed) {
    auto upper = Lines({"SUBJECT: x"});
    auto mixed = Lines({"Subject:x"});
    for (const char* name : {"subject", "SUBJECT", "Subject"}) {
        EXPECT_EQ(upper.GetHeaderValue(name), "x");
        EXPECT_EQ(mixed.GetHeaderValue(name), "x");
    }
    auto spaced = Lines({"Subject:    word    "});
    EXPECT_EQ(spaced.GetHeaderValue("subject"), "word");
    EXPECT_EQ(spaced.LineName(0), "SUBJECT");
    spaced.KeepNameCase = true;
    EXPECT_EQ(spaced.LineName(0), "Subject");
    EXPECT_EQ(spaced.FindName("SUBJECT"), 0);
}

TEST(HeaderLookup, AbsentNamesLinesWithoutColonAndBadIndexes) {
    auto list = Lines({"no colon here", "To: a@b.c"});
    EXPECT_EQ(list.FindName(""), 0);  // a line without a colon has the empty name
    EXPECT_EQ(list.FindName("no colon here"), -1);
    EXPECT_EQ(list.FindName("Cc"), -1);
    EXPECT_EQ(list.GetHeaderValue("Cc"), "");
    EXPECT_EQ(list.LineValue(-1), "");
    EXPECT_EQ(list.LineValue(2), "");
    EXPECT_EQ(list.LineName(7), "");
    // The first line of a name wins.
    list.Add("To: second@b.c");
    EXPECT_EQ(list.GetHeaderValue("to"), "a@b.c");
}

TEST(HeaderLookup, ShiftJisNamesCompareExactlyBeyondAscii) {
    // 0x83 0x41 and 0x83 0x61 differ only in a trail byte that looks like a letter.
    auto list = Lines({"X-\x83\x41: one", "X-\x83\x61: two"});
    EXPECT_EQ(list.GetHeaderValue("x-\x83\x61"), "two");
}

TEST(HeaderContinuations, JoinedWithSingleSpacesOrNot) {
    auto list = Lines({"Subject: first  ", "   second", "\tthird", "X: y"});
    EXPECT_EQ(list.GetHeaderValue("subject"), "first second third");
    list.JoinContinuations = false;
    EXPECT_EQ(list.GetHeaderValue("subject"), "first");
}

TEST(HeaderContinuations, EmptyPiecesAndStops) {
    auto list = Lines({"Subject:", " ", " one", "", " two"});
    EXPECT_EQ(list.GetHeaderValue("Subject"), "one");
}

TEST(HeaderWriting, EmptyValueRemovesOrChangesNothing) {
    auto list = Lines({"To: a@b.c", " , d@e.f", "\t, g@h.i", "Subject: s"});
    auto before = All(list);
    list.SetHeaderValue("Cc", "");
    EXPECT_EQ(All(list), before);
    list.SetHeaderValue("to", "");
    EXPECT_EQ(All(list), (std::vector<std::string>{"Subject: s"}));
}

TEST(HeaderWriting, ReplacesInPlaceAndAppends) {
    auto list = Lines({"Received: x", "Subject: old", " continued", "Date: d"});
    list.SetHeaderValue("subject", "new");
    EXPECT_EQ(All(list), (std::vector<std::string>{"Received: x", "subject: new", "Date: d"}));
    list.SetHeaderValue("X-New", "v");
    EXPECT_EQ(list[3], "X-New: v");

    list.FoldLongLines = false;
    list.SetHeaderValue("Received", std::string(200, 'r'));
    EXPECT_EQ(list[0], "Received: " + std::string(200, 'r'));
}

TEST(HeaderFolding, TwentyWordSubjectFoldsAfterColumn78) {
    std::string value;
    for (int i = 0; i < 20; ++i) value += (i ? " " : "") + std::string("word") + char('a' + i) + char('a' + i);
    TMailHeaderList list;
    list.SetHeaderValue("Subject", value);
    ASSERT_EQ(list.Count(), 2);
    // Word ten would end exactly in column 78; the break falls before it.
    EXPECT_EQ(list[0], "Subject: wordaa wordbb wordcc worddd wordee wordff wordgg wordhh wordii");
    EXPECT_EQ(list[1], " wordjj wordkk wordll wordmm wordnn wordoo wordpp wordqq wordrr wordss wordtt");
    EXPECT_EQ(list.GetHeaderValue("subject"), value);
}

TEST(HeaderFolding, UnbreakableValueMovesWholeToOneContinuation) {
    TMailHeaderList list;
    const std::string value(100, 'x');
    list.SetHeaderValue("Subject", value);
    EXPECT_EQ(All(list), (std::vector<std::string>{"Subject:", " " + value}));
    EXPECT_EQ(list.GetHeaderValue("Subject"), value);
}

TEST(HeaderFolding, NeverInsideQuotesOrDoubleByteCharacters) {
    std::string quoted = "\"" + std::string(30, 'a') + " " + std::string(30, 'b') + " " + std::string(30, 'c') + "\"";
    TMailHeaderList list;
    list.SetHeaderValue("To", quoted + " <x@y.z>");
    EXPECT_EQ(All(list), (std::vector<std::string>{"To:", " " + quoted, " <x@y.z>"}));

    // A run of double-byte characters (trail byte "@") offers no break of its own: the line
    // breaks only at the blanks around it, however long it gets.
    std::string kana;
    for (int i = 0; i < 60; ++i) kana += "\x83\x40";
    std::string wrapped = TMailHeaderList::WrapAtBreaks("Subject: " + kana + " " + kana, "\r\n ", MailFoldBreakChars, 78);
    EXPECT_EQ(wrapped, "Subject: \r\n " + kana + " \r\n " + kana);
}

TEST(HeaderFolding, CommasAndTabsAreBreaksToo) {
    std::string list;
    for (int i = 0; i < 8; ++i) list += (i ? "," : "") + std::string("user") + char('0' + i) + "@example.com";
    auto wrapped = TMailHeaderList::WrapAtBreaks("To: " + list, "\r\n ", MailFoldBreakChars, 40);
    EXPECT_NE(wrapped.find(",\r\n user"), std::string::npos) << wrapped;
}

TEST(HeaderFolding, EmbeddedLineBreaksNeverMakeEmptyOrStrayLines) {
    // Encoded words come joined by CR LF TAB; a fold right at that TAB would leave an empty piece.
    std::string word(60, 'Q');
    std::string value = "=?ISO-2022-JP?B?" + word + "?=\r\n\t=?ISO-2022-JP?B?" + word + "?=";
    TMailHeaderList list;
    list.SetHeaderValue("Subject", value);
    for (int i = 0; i < list.Count(); ++i) {
        EXPECT_FALSE(list[i].empty());
        EXPECT_EQ(list[i].find_first_of("\r\n"), std::string::npos);
        if (i > 0) {
            EXPECT_TRUE(list[i][0] == ' ' || list[i][0] == '\t') << list[i];
        }
    }
    EXPECT_EQ(list.GetHeaderValue("subject"), "=?ISO-2022-JP?B?" + word + "?= =?ISO-2022-JP?B?" + word + "?=");

    // A value that smuggles in a header line of its own stays a continuation.
    list.Clear();
    list.SetHeaderValue("Subject", "hi\r\nBcc: victim@example.com");
    EXPECT_EQ(All(list), (std::vector<std::string>{"Subject: hi", " Bcc: victim@example.com"}));
    EXPECT_EQ(list.FindName("Bcc"), -1);
}

TEST(HeaderFolding, ExistingBreakIsKept) {
    auto wrapped = TMailHeaderList::WrapAtBreaks("A: one\r\n two", "\r\n ", MailFoldBreakChars, 78);
    EXPECT_EQ(wrapped, "A: one\r\n two");
}

TEST(HeaderFolding, HostileValues) {
    // Unbalanced quote, lead byte at the very end, lines of 100 KB of blanks and commas.
    for (std::string value : {std::string("\"") + std::string(300, 'a') + " b", std::string(200, 'a') + "\x83",
                              std::string(100000, ' ') + "x", std::string(100000, ','), std::string("\r\n\r\n\t\r"),
                              std::string(100000, '\x83')}) {
        TMailHeaderList list;
        list.SetHeaderValue("Subject", value);
        for (int i = 0; i < list.Count(); ++i) EXPECT_FALSE(list[i].empty());
        (void)list.GetHeaderValue("Subject");
    }
}

TEST(HeaderFolding, LongValuesStayFast) {
    std::string value;
    while (value.size() < 100000) value += "word, ";
    auto started = std::chrono::steady_clock::now();
    TMailHeaderList list;
    list.SetHeaderValue("To", value);
    EXPECT_GT(list.Count(), 1000);
    EXPECT_EQ(list.GetHeaderValue("to").size(), Trim(value).size());
    list.SetHeaderValue("To", "short");
    EXPECT_EQ(list.Count(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
}

}  // namespace
}  // namespace tarnwick
