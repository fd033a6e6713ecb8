// Rules for mail that is not forwarded: their text form and what they match.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "app/settings/ForwardRules.h"
#include "message/MailMessage.h"

namespace tarnwick {
namespace {

std::string Parsed(const char* text) {
    auto rule = TForwardRule::FromText(text);
    return rule ? "[" + rule->Header + "][" + rule->Text + "]" : "none";
}

TEST(ForwardRuleText, ReadsNameAndTextAndRefusesWhatCouldNeverWork) {
    struct Case {
        const char* text;
        const char* parsed;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"X-Spam-Flag: YES", "[X-Spam-Flag][YES]"},
             {"  Subject :  [meiwaku] ", "[Subject][[meiwaku]]"},
             {"Subject: a: b", "[Subject][a: b]"},  // only the first colon ends the name
             {"Subject: 未承諾広告", "[Subject][未承諾広告]"},
             {"Subject", "none"},          // no colon
             {": YES", "none"},            // no name
             {"Subject:", "none"},         // no text: it would hold back every message
             {"X Spam: YES", "none"},      // a blank is no part of a field name
             {"件名: YES", "none"},        // nor is an 8-bit byte
         })
        EXPECT_EQ(Parsed(c.text), c.parsed) << c.text;
    TForwardRule rule{"X-Spam-Flag", "YES"};
    EXPECT_EQ(TForwardRule::FromText(rule.ToText()), rule);
}

TEST(ContainsIgnoringCase, FoldsAsciiOnly) {
    struct Case {
        const char* text;
        const char* needle;
        bool found;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"Re: [MEIWAKU] hello", "[meiwaku]", true},
             {"yes", "YES", true},
             {"no", "YES", false},
             {"", "a", false},
             {"a", "", true},
         })
        EXPECT_EQ(ContainsIgnoringCase(c.text, c.needle), c.found) << c.text << " / " << c.needle;
}

class RuleMatch : public ::testing::Test {
protected:
    void Header(std::initializer_list<const char*> lines) {
        for (const char* line : lines) message.Headers.Add(line);
        message.LoadHeaderFields();
    }
    TMailMessage message;
    TForwardRules rules{{{"X-Spam-Flag", "YES"}, {"Subject", "[meiwaku]"}, {"Subject", "広告"}}};
};

TEST_F(RuleMatch, TheFirstMatchingRuleIsNamed) {
    Header({"Subject: hello", "x-spam-flag: yes"});
    ASSERT_NE(rules.FirstMatch(message), nullptr);
    EXPECT_EQ(rules.FirstMatch(message)->ToText(), "X-Spam-Flag: YES");
}

TEST_F(RuleMatch, EncodedWordsAreDecodedAndFoldedLinesJoined) {
    // "=?ISO-2022-JP?B?GyRCOS05cBsoQg==?=" is "広告".
    Header({"Subject: Sale", " =?ISO-2022-JP?B?GyRCOS05cBsoQg==?="});
    ASSERT_NE(rules.FirstMatch(message), nullptr);
    EXPECT_EQ(rules.FirstMatch(message)->Text, "広告");
}

TEST_F(RuleMatch, ValuesInOtherCharsetsAndRawBytesAreReadToo) {
    // "=?UTF-8?B?5bqD5ZGK?=" is "広告" in UTF-8; the second line holds "広告" as raw code page 932.
    Header({"Subject: =?UTF-8?B?5bqD5ZGK?="});
    EXPECT_NE(rules.FirstMatch(message), nullptr);
    TMailMessage raw;
    raw.Headers.Add("Subject: 本日の広告");
    EXPECT_NE(rules.FirstMatch(raw), nullptr);
    // "ア" is 83 41 in code page 932: its second byte is "A", yet no rule about "a" matches it.
    TMailMessage trail;
    trail.Headers.Add("Subject: ア");
    EXPECT_EQ((TForwardRules{{{"Subject", "a"}}}.FirstMatch(trail)), nullptr);
}

TEST_F(RuleMatch, EveryLineOfARepeatedHeaderCountsAndOtherHeadersDoNot) {
    Header({"X-Spam-Flag: NO", "X-Spam-Flag: YES"});
    EXPECT_NE(rules.FirstMatch(message), nullptr);
    TMailMessage other;
    other.Headers.Add("X-Spam-Status: YES");
    other.Headers.Add("From: [meiwaku] <a@example.com>");
    EXPECT_EQ(rules.FirstMatch(other), nullptr);
    EXPECT_EQ(TForwardRules{}.FirstMatch(message), nullptr);
}

}  // namespace
}  // namespace tarnwick

namespace tarnwick {
namespace {

TEST(ForwardRuleText, MadeFromTwoFieldsOnlyWhenTheTextFormGivesItBack) {
    EXPECT_EQ(TForwardRule::Make(" Subject ", " [SPAM] "), (TForwardRule{"Subject", "[SPAM]"}));
    EXPECT_FALSE(TForwardRule::Make("X:Y", "YES"));  // the colon would end the name early
    EXPECT_FALSE(TForwardRule::Make("Subject", ""));
    EXPECT_FALSE(TForwardRule::Make("Subject", "a\nb"));
}

}  // namespace
}  // namespace tarnwick
