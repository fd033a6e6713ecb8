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
    auto list = Lines({"no colon", "SUBJECT: x", "Subject:other", "To:    word    "});
    EXPECT_EQ(list.GetHeaderValue("subject"), "x");
    EXPECT_EQ(Lines({"Subject:x"}).GetHeaderValue("SUBJECT"), "x");
    EXPECT_EQ(list.GetHeaderValue("to"), "word");
    EXPECT_EQ(list.LineName(3), "TO");
    list.KeepNameCase = true;
    EXPECT_EQ(list.LineName(3), "To");
    EXPECT_EQ(list.FindName("no colon"), -1);
    EXPECT_EQ(list.GetHeaderValue("Cc"), "");
    EXPECT_EQ(list.LineValue(-1), "");
    EXPECT_EQ(list.LineValue(4), "");
    // A trail byte that looks like a letter is not folded: 0x83 0x41 and 0x83 0x61 differ.
    EXPECT_EQ(Lines({"X-\x83\x41: one", "X-\x83\x61: two"}).GetHeaderValue("x-\x83\x61"), "two");
}

TEST(HeaderLookup, ContinuationsJoinedWithSingleSpacesOrNot) {
    auto list = Lines({"Subject: first  ", "   second", " ", "\tthird", "X: y", " not this"});
    EXPECT_EQ(list.GetHeaderValue("subject"), "first second third");
    list.JoinContinuations = false;
    EXPECT_EQ(list.GetHeaderValue("subject"), "first");
}

TEST(HeaderWriting, ReplaceInPlaceAppendAndRemove) {
    auto list = Lines({"Received: x", "Subject: old", " continued", "To: a@b.c", " , d@e.f", "Date: d"});
    auto before = All(list);
    list.SetHeaderValue("Cc", "");
    EXPECT_EQ(All(list), before);
    list.SetHeaderValue("subject", "new");
    list.SetHeaderValue("to", "");
    list.SetHeaderValue("X-New", "v");
    EXPECT_EQ(All(list), (std::vector<std::string>{"Received: x", "subject: new", "Date: d", "X-New: v"}));
    list.FoldLongLines = false;
    list.SetHeaderValue("Received", std::string(200, 'r'));
    EXPECT_EQ(list[0], "Received: " + std::string(200, 'r'));
}

TEST(HeaderFolding, TwentyWordSubjectFoldsAfterColumn78) {
    std::string value;
    for (int i = 0; i < 20; ++i) value += (i ? " word" : "word") + std::string(2, char('a' + i));
    TMailHeaderList list;
    list.SetHeaderValue("Subject", value);
    // Word ten would end exactly in column 78; the break falls before it.
    EXPECT_EQ(All(list), (std::vector<std::string>{
                             "Subject: wordaa wordbb wordcc worddd wordee wordff wordgg wordhh wordii",
                             " wordjj wordkk wordll wordmm wordnn wordoo wordpp wordqq wordrr wordss wordtt"}));
    EXPECT_EQ(list.GetHeaderValue("subject"), value);

    list.SetHeaderValue("Subject", std::string(100, 'x'));  // never cut, moved whole
    EXPECT_EQ(All(list), (std::vector<std::string>{"Subject:", " " + std::string(100, 'x')}));
}

TEST(HeaderFolding, NeverInsideQuotesOrDoubleByteRuns) {
    std::string quoted = "\"" + std::string(30, 'a') + " " + std::string(30, 'b') + ", " + std::string(30, 'c') + "\"";
    TMailHeaderList list;
    list.SetHeaderValue("To", quoted + " <x@y.z>");
    EXPECT_EQ(All(list), (std::vector<std::string>{"To:", " " + quoted, " <x@y.z>"}));

    std::string kana;
    for (int i = 0; i < 60; ++i) kana += "\x83\x40";
    EXPECT_EQ(TMailHeaderList::WrapAtBreaks("Subject: " + kana + " " + kana, "\r\n ", MailFoldBreakChars, 78),
              "Subject: \r\n " + kana + " \r\n " + kana);
    EXPECT_EQ(TMailHeaderList::WrapAtBreaks("A: one\r\n two", "\r\n ", MailFoldBreakChars, 78), "A: one\r\n two");
}

TEST(HeaderFolding, EmbeddedLineBreaksNeverMakeEmptyOrStrayLines) {
    // Encoded words come joined by CR LF TAB; a fold right at that TAB would leave an empty piece.
    std::string word = "=?ISO-2022-JP?B?" + std::string(60, 'Q') + "?=";
    TMailHeaderList list;
    list.SetHeaderValue("Subject", word + "\r\n\t" + word);
    for (int i = 0; i < list.Count(); ++i) {
        EXPECT_FALSE(list[i].empty());
        EXPECT_EQ(list[i].find_first_of("\r\n"), std::string::npos);
        if (i > 0) {
            EXPECT_TRUE(list[i][0] == ' ' || list[i][0] == '\t') << list[i];
        }
    }
    EXPECT_EQ(list.GetHeaderValue("subject"), word + " " + word);

    // A value that smuggles in a header line of its own stays a continuation.
    list.Clear();
    list.SetHeaderValue("Subject", "hi\r\nBcc: victim@example.com");
    EXPECT_EQ(All(list), (std::vector<std::string>{"Subject: hi", " Bcc: victim@example.com"}));
}

// A quadratic fold of these values takes minutes: the test run's time-out catches it.
TEST(HeaderFolding, HostileValuesStayFast) {
    for (std::string value : {"\"" + std::string(300, 'a') + " b", std::string(200, 'a') + "\x83",
                              std::string(100000, ' ') + "x", std::string(100000, ','), std::string("\r\n\r\n\t\r"),
                              std::string(100000, '\x83')}) {
        TMailHeaderList list;
        list.SetHeaderValue("Subject", value);
        for (int i = 0; i < list.Count(); ++i) EXPECT_FALSE(list[i].empty());
    }
    std::string value;
    while (value.size() < 100000) value += "word, ";
    TMailHeaderList list;
    list.SetHeaderValue("To", value);
    EXPECT_GT(list.Count(), 1000);
    EXPECT_EQ(list.GetHeaderValue("to"), Trim(value));
    list.SetHeaderValue("To", "short");
    EXPECT_EQ(list.Count(), 1);
}

}  // namespace
}  // namespace tarnwick
