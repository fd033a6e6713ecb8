#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "message/AddressCoding.h"
#include "message/AddressList.h"

namespace tarnwick {
namespace {

TMailAddressItem Parsed(const std::string& text) {
    TMailAddressItem item;
    item.SetText(text);
    return item;
}

TEST(CharacterHelpers, FirstOfAnyFindsEarliestOfTheSet) {
    EXPECT_EQ(FirstOfAny("@<", "ab<c@d"), 3u);
    EXPECT_EQ(FirstOfAny("@<", "abc"), 0u);
    EXPECT_EQ(FirstOfAny("@", ""), 0u);
    // Beyond the first search window.
    EXPECT_EQ(FirstOfAny(",;", std::string(1000, 'x') + ";"), 1001u);
}

TEST(CharacterHelpers, FirstOfAnySkipsTrailBytes) {
    // 0x83 0x40 is one double-byte character whose trail byte equals "@".
    EXPECT_EQ(FirstOfAny("@", "\x83\x40x@y"), 4u);
    // A lead byte cut at the edge of a search window must not hide the character after it.
    std::string text = std::string(63, 'a') + "\x83\x40" + "@";
    EXPECT_EQ(FirstOfAny("@", text), 66u);
}

TEST(CharacterHelpers, FirstNotInAndTrimChars) {
    EXPECT_EQ(FirstNotIn(AtomChars, "john.doe"), 5u);
    EXPECT_EQ(FirstNotIn(AtomChars, "john"), 0u);
    EXPECT_EQ(FirstNotIn(AtomChars, ""), 0u);
    EXPECT_EQ(FirstNotIn("", "abc"), 1u);
    EXPECT_EQ(FirstNotIn(AtomChars, "\x83\x40"), 1u);
    EXPECT_EQ(TrimChars(" \t", " \t a b\t "), "a b");
    EXPECT_EQ(TrimChars(" ", "   "), "");
}

TEST(AddressItemParsing, BareAddress) {
    auto item = Parsed("user@mail.example.co.jp");
    EXPECT_EQ(item.Address, "user@mail.example.co.jp");
    EXPECT_EQ(item.Name, "");
    EXPECT_EQ(item.Text(), "user@mail.example.co.jp");
}

TEST(AddressItemParsing, NameAndAngleAddress) {
    auto item = Parsed("John   Doe <john@example.com>");
    EXPECT_EQ(item.Name, "John Doe");
    EXPECT_EQ(item.Address, "john@example.com");
    item = Parsed("John Doe <john@example.com>");
    EXPECT_EQ(item.Name, "John Doe");
    EXPECT_EQ(item.Text(), "John Doe <john@example.com>");
}

TEST(AddressItemParsing, QuotedNameWithCommaAndEscapes) {
    auto item = Parsed("\"Doe, John\" <john@example.com>");
    EXPECT_EQ(item.Name, "Doe, John");
    EXPECT_EQ(item.Address, "john@example.com");
    EXPECT_EQ(item.Text(), "\"Doe, John\" <john@example.com>");

    item = Parsed("\"say \\\"hi\\\"\" <a@b.c>");
    EXPECT_EQ(item.Name, "say \"hi\"");
    EXPECT_EQ(item.Text(), "\"say \\\"hi\\\"\" <a@b.c>");
}

TEST(AddressItemParsing, CommentsAreDropped) {
    auto item = Parsed("john@example.com (John Doe)");
    EXPECT_EQ(item.Address, "john@example.com");
    EXPECT_EQ(item.Name, "");
    item = Parsed("John (the (nested) one) <j@x.org>");
    EXPECT_EQ(item.Address, "j@x.org");
    EXPECT_EQ(item.Name, "John");
}

TEST(AddressItemParsing, SpacesAroundDomainDotsInBrackets) {
    auto item = Parsed("<john@example . com>");
    EXPECT_EQ(item.Address, "john@example.com");
}

TEST(AddressItemParsing, EmptyTextClearsBoth) {
    auto item = Parsed("A <a@b.c>");
    item.SetText("   ");
    EXPECT_EQ(item.Address, "");
    EXPECT_EQ(item.Name, "");
    EXPECT_EQ(item.Text(), "");
}

TEST(AddressItemParsing, AtOutsideBracketsRaisesKeepingTheFirstAddress) {
    TMailAddressItem item;
    try {
        item.SetText("Joe <joe@a.com> other@b.com");
        FAIL() << "no error";
    } catch (const EMailAddressParseError& e) {
        EXPECT_EQ(e.Message(), "@ Outside address");
    }
    EXPECT_EQ(item.Name, "Joe");
    EXPECT_EQ(item.Address, "joe@a.com");
}

TEST(AddressItemParsing, ShiftJisNamesWithAwkwardTrailBytes) {
    // 0x83 0x40 (trail "@"), 0x83 0x5C and 0x95 0x5C (trail "\"), 0x81 0x40 (full-width blank).
    const std::string name = "\x83\x40\x83\x5C\x81\x40\x95\x5C";
    auto item = Parsed(name + " <taro@example.jp>");
    EXPECT_EQ(item.Name, name);
    EXPECT_EQ(item.Address, "taro@example.jp");
    // An 8-bit name always reads back quoted, its bytes untouched.
    EXPECT_EQ(item.Text(), "\"" + name + "\" <taro@example.jp>");

    item = Parsed("\"" + name + "\" <taro@example.jp>");
    EXPECT_EQ(item.Name, name);

    item = Parsed("taro@example.jp (" + name + ")");
    EXPECT_EQ(item.Address, "taro@example.jp");
    EXPECT_EQ(item.Name, "");
}

TEST(AddressItemParsing, JapaneseLiteralNames) {
    auto item = Parsed("ソフト表示 <soft@example.jp>");
    EXPECT_EQ(item.Name, "ソフト表示");
    EXPECT_EQ(item.Address, "soft@example.jp");
}

TEST(AddressItemWriting, QuotingRules) {
    TMailAddressItem item;
    item.Name = "J. Doe";
    item.Address = "jd@example.com";
    EXPECT_EQ(item.Text(), "\"J. Doe\" <jd@example.com>");

    item.Name = "";
    item.Address = "john doe@example.com";
    EXPECT_EQ(item.Text(), "<\"john doe\"@example.com>");
    item.Address = "a\"b@example.com";
    EXPECT_EQ(item.Text(), "<\"a\\\"b\"@example.com>");
    // A dot first outside the atom characters never quotes, whatever follows.
    item.Address = "first.last name@example.com";
    EXPECT_EQ(item.Text(), "first.last name@example.com");

    item.Name = "Someone";
    item.Address = "";
    EXPECT_EQ(item.Text(), "Someone <>");
    // A name that is just the upper-cased address is not repeated.
    item.Name = "JD@EXAMPLE.COM";
    item.Address = "jd@example.com";
    EXPECT_EQ(item.Text(), "<jd@example.com>");
    // No "@": the whole address is the local part.
    item.Name = "Local";
    item.Address = "postmaster";
    EXPECT_EQ(item.Text(), "Local <postmaster>");
}

TEST(AddressItemWriting, AssignCopiesNameAndAddressOnly) {
    TMailAddressList list;
    TMailAddressItem& inList = list.Add();
    TMailAddressItem loose;
    loose.Name = "N";
    loose.Address = "n@x.y";
    inList = loose;
    EXPECT_EQ(inList.Address, "n@x.y");
    EXPECT_EQ(inList.Collection(), &list);
}

TEST(AddressListParsing, SimpleLists) {
    TMailAddressList list;
    list.ParseAddresses("a@x.com, B <b@y.org>");
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list[0].Address, "a@x.com");
    EXPECT_EQ(list[1].Name, "B");
    EXPECT_EQ(list[1].Address, "b@y.org");

    list.ParseAddresses("a@x.com,,b@y.org");
    EXPECT_EQ(list.Count(), 2);

    list.ParseAddresses("forward@docomo.ne.jp");
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list[0].Address, "forward@docomo.ne.jp");

    list.ParseAddresses("   ");
    EXPECT_EQ(list.Count(), 0);
}

TEST(AddressListParsing, QuotesAndCommentsHideCommas) {
    TMailAddressList list;
    list.ParseAddresses("\"Doe, John\" <john@example.com>, x@y.z (Mr X, Esq.)");
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list[0].Name, "Doe, John");
    EXPECT_EQ(list[0].Address, "john@example.com");
    EXPECT_EQ(list[1].Address, "x@y.z");
}

TEST(AddressListParsing, GroupsDropTheirName) {
    TMailAddressList list;
    list.ParseAddresses("Friends: a@x.com, b@y.com;");
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list[0].Address, "a@x.com");
    EXPECT_EQ(list[1].Address, "b@y.com");

    list.ParseAddresses("undisclosed-recipients:;");
    EXPECT_EQ(list.Count(), 0);

    list.ParseAddresses("G: a@x.com;, c@z.com");
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list[1].Address, "c@z.com");
}

TEST(AddressListParsing, EmptyAngleEntriesAreDropped) {
    TMailAddressList list;
    list.ParseAddresses("<>, a@b.c, <>");
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list[0].Address, "a@b.c");
    list.ParseAddresses("<>");
    EXPECT_EQ(list.Count(), 0);
}

TEST(AddressListParsing, ParseErrorKeepsTheItemsReadSoFar) {
    TMailAddressList list;
    EXPECT_THROW(list.ParseAddresses("a@x.com, <b@y.com> c@z.com, d@w.com"), EMailAddressParseError);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list[0].Address, "a@x.com");
    EXPECT_EQ(list[1].Address, "b@y.com");
}

TEST(AddressListParsing, ShiftJisNamesInAList) {
    const std::string name = "\x83\x5C\x83\x40";
    TMailAddressList list;
    list.ParseAddresses(name + " <a@b.jp>, \"" + name + ", " + name + "\" <c@d.jp>");
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list[0].Name, name);
    EXPECT_EQ(list[1].Name, name + ", " + name);
    EXPECT_EQ(list[1].Address, "c@d.jp");
}

TEST(AddressListParsing, HostileInputEndsQuietly) {
    TMailAddressList list;
    for (const char* text : {"\"unbalanced <a@b.c>, d@e.f", "(open comment a@b.c", "<a@b.c", "a@b.c>", "\\", "\"\\",
                             "((((", "a@b.c \x83", ":::;;;,,,", "<<<>>>", "\"\x83\"", "@", "@@@"}) {
        try {
            list.ParseAddresses(text);
        } catch (const EMailAddressParseError&) {
        }
        for (int i = 0; i < list.Count(); ++i) (void)list[i].Text();
    }
    list.ParseAddresses("a@b.c, \"unbalanced <d@e.f>, g@h.i");
    ASSERT_GE(list.Count(), 1);
    EXPECT_EQ(list[0].Address, "a@b.c");
}

TEST(AddressListParsing, ThousandsOfAddressesAndLongTextsStayLinear) {
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "user" + std::to_string(i) + "@example.com, ";
    TMailAddressList list;
    auto started = std::chrono::steady_clock::now();
    list.ParseAddresses(text);
    ASSERT_EQ(list.Count(), 20000);
    EXPECT_EQ(list[19999].Address, "user19999@example.com");

    // One 100 KB name of blanks and words, and a 100 KB comment.
    std::string words;
    for (int i = 0; i < 20000; ++i) words += "word ";
    list.ParseAddresses(words + "<a@b.c>");
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list[0].Address, "a@b.c");
    list.ParseAddresses("a@b.c (" + std::string(100000, 'x'));
    EXPECT_EQ(list.Count(), 1);
    // A generous bound: a quadratic walk over these texts takes minutes.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
}

TEST(AddressCoding, ItemAndListToHeader) {
    TMailAddressItem item;
    item.Address = "a@b.c";
    EXPECT_EQ(AddressItemToHeader(item, 'B', TTransfer::iso2022jp, "ISO-2022-JP"), "a@b.c");
    item.Name = "Say \"Hi\" \\o/";
    EXPECT_EQ(AddressItemToHeader(item, 'B', TTransfer::iso2022jp, "ISO-2022-JP"), "\"Say \\\"Hi\\\" \\\\o/\" <a@b.c>");

    TMailAddressList list;
    EXPECT_EQ(AddressListToHeader(list, 'B', TTransfer::bit8, "ISO-8859-1"), "");
    list.ParseAddresses("A <a@x.y>, b@z.w");
    EXPECT_EQ(AddressListToHeader(list, 'B', TTransfer::bit8, "ISO-8859-1"), "\"A\" <a@x.y>, b@z.w");
}

TEST(AddressCoding, EightBitNamesAreEncoded) {
    TMailAddressItem item;
    item.Name = "\x83\x5C\x83\x40";
    item.Address = "a@b.c";
    std::string header = AddressItemToHeader(item, 'B', TTransfer::iso2022jp, "ISO-2022-JP");
    EXPECT_EQ(header.rfind("=?ISO-2022-JP?B?", 0), 0u) << header;
    EXPECT_NE(header.find("?= <a@b.c>"), std::string::npos) << header;
}

}  // namespace
}  // namespace tarnwick
