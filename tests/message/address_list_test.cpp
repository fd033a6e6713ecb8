#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "message/AddressCoding.h"
#include "message/AddressList.h"
#include "message/MailGlobal.h"
#include "message/MailMessage.h"
#include "support/Raised.h"

namespace tarnwick {
namespace {

TMailAddressItem Parsed(const std::string& text) {
    TMailAddressItem item;
    item.SetText(text);
    return item;
}

TEST(CharacterHelpers, FirstOfAnySkipsTrailBytesAlsoAtTheSearchWindowEdge) {
    // 0x83 0x40 is one double-byte character whose trail byte equals "@".
    EXPECT_EQ(FirstOfAny("@", "\x83\x40x@y"), 4u);
    EXPECT_EQ(FirstOfAny("@", std::string(63, 'a') + "\x83\x40@"), 66u);
    EXPECT_EQ(FirstNotIn("", "abc"), 1u);
    EXPECT_EQ(FirstNotIn(AtomChars, ""), 0u);
}

TEST(AddressItemParsing, UsualForms) {
    auto item = Parsed("user@mail.example.co.jp");
    EXPECT_EQ(item.Address, "user@mail.example.co.jp");
    EXPECT_EQ(item.Name, "");
    EXPECT_EQ(item.Text(), "user@mail.example.co.jp");

    item = Parsed("John   Doe <john@example.com>");
    EXPECT_EQ(item.Name, "John Doe");
    EXPECT_EQ(item.Text(), "John Doe <john@example.com>");

    item = Parsed("\"Doe, John\" <john@example.com>");
    EXPECT_EQ(item.Name, "Doe, John");
    EXPECT_EQ(item.Text(), "\"Doe, John\" <john@example.com>");

    item = Parsed("\"say \\\"hi\\\"\" <a@b.c>");
    EXPECT_EQ(item.Name, "say \"hi\"");
    EXPECT_EQ(item.Text(), "\"say \\\"hi\\\"\" <a@b.c>");

    item = Parsed("John (the (nested) one) <j@x.org> (trailing)");
    EXPECT_EQ(item.Name, "John");
    EXPECT_EQ(item.Address, "j@x.org");
    EXPECT_EQ(Parsed("john@example.com (John Doe)").Text(), "john@example.com");
    EXPECT_EQ(Parsed("<john@example . com>").Address, "john@example.com");
}

TEST(AddressItemParsing, QuotedLocalPartsAndNestedComments) {
    // The quoted local part keeps its blanks, with and without brackets; escapes are resolved.
    EXPECT_EQ(Parsed("<\"a b\"@c.d>").Address, "a b@c.d");
    EXPECT_EQ(Parsed("<\" a\"@c.d>").Address, " a@c.d");
    auto item = Parsed("\"a b\"@c.d");
    EXPECT_EQ(item.Address, "a b@c.d");
    EXPECT_EQ(item.Name, "");
    EXPECT_EQ(Parsed("\"a\\\"b\"@c.d").Address, "a\"b@c.d");
    EXPECT_EQ(Parsed("<\"a@b.c> RET=HDRS ENVID=x\"@d>").Address, "a@b.c> RET=HDRS ENVID=x@d");
    // A quoted name is still a name.
    item = Parsed("\"a b\" <x@c.d>");
    EXPECT_EQ(item.Name, "a b");
    EXPECT_EQ(item.Address, "x@c.d");
    // A comment inside a comment is skipped whole.
    EXPECT_EQ(Parsed("x@y.z (nested (comment) here)").Address, "x@y.z");
    EXPECT_EQ(Parsed("x@y.z (a (b (c) d) e) (f)").Address, "x@y.z");
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
    // Trail bytes "@" (0x83 0x40), "\" (0x83 0x5C, 0x95 0x5C); 0x81 0x40 is the full-width blank.
    const std::string name = "\x83\x40\x83\x5C\x81\x40\x95\x5C";
    auto item = Parsed(name + " <taro@example.jp>");
    EXPECT_EQ(item.Name, name);
    EXPECT_EQ(item.Address, "taro@example.jp");
    // An 8-bit name reads back quoted, its double-byte characters whole (no escape is put
    // between a lead byte and a trail byte that looks like a backslash).
    EXPECT_EQ(item.Text(), "\"" + name + "\" <taro@example.jp>");
    EXPECT_EQ(Parsed(item.Text()).Name, name);
    EXPECT_EQ(Parsed("taro@example.jp (" + name + ")").Address, "taro@example.jp");
    EXPECT_EQ(Parsed("ソフト表示 <soft@example.jp>").Name, "ソフト表示");
}

TEST(AddressItemWriting, QuotingRules) {
    TMailAddressItem item;
    item.Name = "J. Doe";
    item.Address = "jd@example.com";
    EXPECT_EQ(item.Text(), "\"J. Doe\" <jd@example.com>");
    item.Name = "JD@EXAMPLE.COM";  // the upper-cased address is not repeated as a name
    EXPECT_EQ(item.Text(), "<jd@example.com>");
    item.Name = "";
    item.Address = "a\"b c@example.com";
    EXPECT_EQ(item.Text(), "<\"a\\\"b c\"@example.com>");
    // Only the first byte outside the atom characters decides: a dot never quotes.
    item.Address = "first.last name@example.com";
    EXPECT_EQ(item.Text(), "first.last name@example.com");
    item.Name = "Someone";
    item.Address = "";
    EXPECT_EQ(item.Text(), "Someone <>");
    item.Address = "postmaster";
    EXPECT_EQ(item.Text(), "Someone <postmaster>");
}

TEST(AddressListParsing, ListsGroupsAndEmptyEntries) {
    TMailAddressList list;
    list.ParseAddresses("\"Doe, John\" <john@example.com>, x@y.z (Mr X, Esq.),, <>");
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list[0].Name, "Doe, John");
    EXPECT_EQ(list[1].Address, "x@y.z");

    list.ParseAddresses("Friends: a@x.com, b@y.com;, c@z.com");
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list[0].Address, "a@x.com");
    EXPECT_EQ(list[2].Address, "c@z.com");

    list.ParseAddresses("undisclosed-recipients:;");
    EXPECT_EQ(list.Count(), 0);
    list.ParseAddresses("<>");
    EXPECT_EQ(list.Count(), 0);
    list.ParseAddresses("forward@docomo.ne.jp");
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list[0].Address, "forward@docomo.ne.jp");
}

TEST(AddressListParsing, ShiftJisNamesAndParseErrors) {
    const std::string name = "\x83\x5C\x83\x40";
    TMailAddressList list;
    list.ParseAddresses(name + " <a@b.jp>, \"" + name + ", " + name + "\" <c@d.jp>");
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list[0].Name, name);
    EXPECT_EQ(list[1].Name, name + ", " + name);

    EXPECT_THROW(list.ParseAddresses("a@x.com, <b@y.com> c@z.com, d@w.com"), EMailAddressParseError);
    ASSERT_EQ(list.Count(), 2);  // the failing item stays with what it read
    EXPECT_EQ(list[1].Address, "b@y.com");
}

TEST(AddressListParsing, HostileInputEndsQuietlyAndStaysLinear) {
    TMailAddressList list;
    for (const char* text : {"\"unbalanced <a@b.c>, d@e.f", "(open comment a@b.c", "<a@b.c", "a@b.c>", "\\", "\"\\",
                             "a@b.c \x83", ":::;;;,,,", "<<<>>>", "\"\x83\"", "@@@"}) {
        try {
            list.ParseAddresses(text);
        } catch (const EMailAddressParseError&) {
        }
        for (int i = 0; i < list.Count(); ++i) (void)list[i].Text();
    }

    // A quadratic walk over these texts takes minutes: the test run's time-out catches it.
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "user" + std::to_string(i) + "@example.com, ";
    list.ParseAddresses(text);
    ASSERT_EQ(list.Count(), 20000);
    EXPECT_EQ(list[19999].Address, "user19999@example.com");
    std::string words;
    for (int i = 0; i < 20000; ++i) words += "word ";
    list.ParseAddresses(words + "<a@b.c>");
    EXPECT_EQ(list[0].Address, "a@b.c");
    std::string brackets;
    for (int i = 0; i < 25000; ++i) brackets += "<>x   ;";
    list.ParseAddresses(brackets);
    // An unclosed comment ends the parse; its text does not join the address.
    list.ParseAddresses("a@b.c (" + std::string(100000, 'x'));
    EXPECT_EQ(list[0].Address, "a@b.c");
}

TEST(AddressListParsing, ItemsAreBoundedSoAFewBytesCannotBecomeAnItemEach) {
    std::string text;
    for (int i = 0; i <= MaxHeaderListItems; ++i) text += "a,";
    TMailAddressList list;
    auto e = test::Raised<EMailAddressParseError>([&] { list.ParseAddresses(text); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "Too many addresses.");
    EXPECT_EQ(list.Count(), MaxHeaderListItems);
    // The message keeps loading its other fields.
    TMailMessage message;
    message.Headers.SetText("To: " + text + "\r\nCc: " + text + "\r\nNewsgroups: " + text + "\r\nSubject: s\r\n");
    message.LoadHeaderFields();
    EXPECT_EQ(message.Recipients.Count(), MaxHeaderListItems);
    EXPECT_EQ(message.CCList.Count(), MaxHeaderListItems);
    EXPECT_EQ(message.NewsGroups.Count(), MaxHeaderListItems);
    EXPECT_EQ(message.Subject, "s");
}

TEST(AddressCoding, ItemsAndListsAsHeaderValues) {
    TMailAddressList list;
    EXPECT_EQ(AddressListToHeader(list, 'B', TTransfer::bit8, "ISO-8859-1"), "");
    list.ParseAddresses("A <a@x.y>, b@z.w");
    list[0].Name = "Say \"Hi\" \\o/";
    EXPECT_EQ(AddressListToHeader(list, 'B', TTransfer::bit8, "ISO-8859-1"), "\"Say \\\"Hi\\\" \\\\o/\" <a@x.y>, b@z.w");

    list[0].Name = "\x83\x5C\x83\x40";
    std::string header = AddressItemToHeader(list[0], 'B', TTransfer::iso2022jp, "ISO-2022-JP");
    EXPECT_EQ(header.rfind("=?ISO-2022-JP?B?", 0), 0u) << header;
    EXPECT_NE(header.find("?= <a@x.y>"), std::string::npos) << header;
}

}  // namespace
}  // namespace tarnwick
