#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "message/HeaderUnicode.h"
#include "message/MailMessage.h"

namespace tarnwick {
namespace {

// Expected texts are written as UTF-8 literals; plain literals with Japanese are code page 932.
std::string U(std::u8string_view text) { return std::string(text.begin(), text.end()); }

struct TCase {
    const char* what;
    std::string raw;
    std::string shown;
};

const TCase kCases[] = {
    {"plain ASCII", "Re: meeting at 10", "Re: meeting at 10"},
    {"empty", "", ""},
    // Charsets
    {"UTF-8 B", "=?UTF-8?B?w6k=?=", U(u8"\u00E9")},
    {"UTF-8 Q emoji, lower-case letter", "=?utf-8?q?=F0=9F=98=80!?=", U(u8"\U0001F600!")},
    {"RFC 2231 language", "=?utf-8*ja?b?44O8?=", U(u8"\u30FC")},
    {"ISO-8859-1", "=?ISO-8859-1?Q?Caf=E9_au_lait?=", U(u8"Caf\u00E9 au lait")},
    {"windows-1252 euro", "=?windows-1252?Q?=80?=", U(u8"\u20AC")},
    {"ISO-8859-7", "=?ISO-8859-7?B?4eI=?=", U(u8"\u03B1\u03B2")},
    {"ISO-2022-JP", "=?ISO-2022-JP?B?GyRCJEgkYRsoQg==?=", U(u8"\u3068\u3081")},
    {"ISO-2022-JP with an NEC character", "=?ISO-2022-JP?B?GyRCLSEbKEI=?=", U(u8"\u2460")},
    {"Shift_JIS keeps backslash and tilde", "=?Shift_JIS?B?gsaC31x+?=", U(u8"\u3068\u3081\\~")},
    {"SJIS label read as code page 932", "=?SJIS?B?h0A=?=", U(u8"\u2460")},
    {"EUC-JP", "=?EUC-JP?B?xvzL3Ljs?=", U(u8"\u65E5\u672C\u8A9E")},
    {"GB2312", "=?GB2312?B?1tDOxA==?=", U(u8"\u4E2D\u6587")},
    {"Big5", "=?Big5?B?pKSk5Q==?=", U(u8"\u4E2D\u6587")},
    {"KS_C_5601-1987", "=?KS_C_5601-1987?B?x9Gx2w==?=", U(u8"\uD55C\uAE00")},
    {"unknown charset read as raw text", "=?x-unknown?q?caf=C3=A9?=", U(u8"caf\u00E9")},
    {"ASCII label on 8-bit bytes", "=?us-ascii?q?caf=C3=A9?=", U(u8"caf\u00E9")},
    {"B without padding", "=?UTF-8?B?w6k?=", U(u8"\u00E9")},
    // White space between words
    {"adjacent words join", "=?UTF-8?Q?a?= =?UTF-8?Q?b?=", "ab"},
    {"folded words join", "=?UTF-8?Q?a?=\r\n\t =?ISO-8859-1?Q?b?=", "ab"},
    {"character split between words", "=?UTF-8?B?4oI=?= =?utf-8?B?rA==?=", U(u8"\u20AC")},
    {"text between words stays", "=?UTF-8?Q?a?= - =?UTF-8?Q?b?=", "a - b"},
    {"words amid text", "Re: =?UTF-8?B?w6k=?= [list]", U(u8"Re: \u00E9 [list]")},
    {"word glued to text", "Re:=?UTF-8?B?w6k=?=!", U(u8"Re:\u00E9!")},
    // Raw 8-bit text
    {"raw UTF-8", U(u8"\u4EF6\u540D caf\u00E9"), U(u8"\u4EF6\u540D caf\u00E9")},
    {"raw code page 932", "件名 ～", U(u8"\u4EF6\u540D \uFF5E")},
    {"raw code page 932 beside a word", "件名 =?UTF-8?B?w6k=?=", U(u8"\u4EF6\u540D \u00E9")},
    {"raw ISO-2022-JP", "\x1b$B$H$a\x1b(B!", U(u8"\u3068\u3081!")},
    // Malformed words stay as text
    {"no closing", "=?UTF-8?B?w6k", "=?UTF-8?B?w6k"},
    {"unknown letter", "=?UTF-8?X?abc?=", "=?UTF-8?X?abc?="},
    {"stray base64 character", "=?UTF-8?B?w!k=?=", "=?UTF-8?B?w!k=?="},
    {"lone base64 character", "=?UTF-8?B?w6kAB?=", "=?UTF-8?B?w6kAB?="},
    {"no charset", "=??Q?abc?=", "=??Q?abc?="},
    {"space inside", "=?UTF-8?Q?a b?=", "=?UTF-8?Q?a b?="},
    {"blank before a malformed word stays", "=?UTF-8?Q?a?= =?UTF-8?B?!?=", "a =?UTF-8?B?!?="},
    {"Q escape that is none", "=?UTF-8?Q?a=ZZ=4?=", "a=ZZ=4"},
    // Bytes that are no text, and control characters
    {"invalid UTF-8 in a word", "=?UTF-8?Q?a=FFb?=", U(u8"a\uFFFDb")},
    {"surrogate in a word", "=?UTF-8?Q?=ED=A0=80?=", U(u8"\uFFFD\uFFFD\uFFFD")},
    {"invalid code page 932", "a\xff", U(u8"a\uFFFD")},
    {"line break in a word", "=?UTF-8?Q?a=0D=0AFrom:_x?=", "a  From: x"},
    {"NUL and escape in a word", "=?UTF-8?Q?a=00=1Bb?=", U(u8"a\uFFFD\uFFFDb")},
    {"C1 control", "=?ISO-8859-15?Q?a=85?=", U(u8"a\uFFFD")},
};

TEST(DecodeHeaderToUtf8, Table) {
    for (const TCase& c : kCases) EXPECT_EQ(c.shown, DecodeHeaderToUtf8(c.raw)) << c.what;
}

TEST(DecodeHeaderToUtf8, SubjectOfAMessageLeavesTheCodePage932SubjectAlone) {
    TMailMessage message;
    message.Headers.Add("Subject: =?UTF-8?B?5pel5pys6Kqe?=");
    message.Headers.Add(" =?UTF-8?B?8J+YgA==?=");
    message.LoadHeaderFields();
    EXPECT_EQ(U(u8"\u65E5\u672C\u8A9E\U0001F600"), DecodedSubjectUtf8(message));
    EXPECT_EQ("日本語 \x81\xac", message.Subject);  // the older decoding keeps the space
}

}  // namespace
}  // namespace tarnwick
