#include <gtest/gtest.h>

#include <string>

#include "message/HeaderCoding.h"
#include "platform/Exception.h"

namespace tarnwick {
namespace {

const TCharSet kNoSpecials;

TEST(DecodeEncodedWords, IsoJapaneseWordBecomesShiftJis) {
    EXPECT_EQ("\x82\xc6\x82\xdf", DecodeEncodedWords("=?ISO-2022-JP?B?GyRCJEgkYRsoQg==?="));
    EXPECT_EQ("とめ", DecodeEncodedWords("=?iso-2022-jp?b?GyRCJEgkYRsoQg==?="));
    EXPECT_EQ("件名: とめ!", DecodeEncodedWords("件名: =?ISO-2022-JP?B?GyRCJEgkYRsoQg==?=!"));
}

TEST(DecodeEncodedWords, WordsOfEveryCharsetBecomeCodePage932) {
    EXPECT_EQ("件名: 日本語のメール", DecodeEncodedWords("件名: =?UTF-8?B?5pel5pys6Kqe44Gu44Oh44O844Or?="));
    EXPECT_EQ("日本語", DecodeEncodedWords("=?EUC-JP?B?xvzL3Ljs?="));
    EXPECT_EQ("とめ\\~", DecodeEncodedWords("=?Shift_JIS?B?gsaC31x+?="));  // backslash and tilde stay
    EXPECT_EQ("αβ", DecodeEncodedWords("=?ISO-8859-7?B?4eI=?="));
    EXPECT_EQ("中文 中文", DecodeEncodedWords("=?GB2312?B?1tDOxA==?= =?Big5?B?pKSk5Q==?="));
    EXPECT_EQ("ー", DecodeEncodedWords("=?utf-8*ja?b?44O8?="));
    // What code page 932 cannot hold, and bytes that are not text, show as the geta mark.
    EXPECT_EQ("〓〓", DecodeEncodedWords("=?KS_C_5601-1987?B?x9Gx2w==?="));
    EXPECT_EQ("絵文字〓", DecodeEncodedWords("=?UTF-8?B?57W15paH5a2X8J+YgA==?="));
    EXPECT_EQ("a〓b", DecodeEncodedWords("=?UTF-8?Q?a=FFb?="));
    EXPECT_EQ("Caf〓 au lait", DecodeEncodedWords("=?ISO-8859-1?Q?Caf=E9_au_lait?="));
    EXPECT_EQ("caf〓", DecodeEncodedWords("=?windows-1252?q?caf=e9?="));
    // A charset iconv does not know keeps its bytes.
    EXPECT_EQ("caf\xe9", DecodeEncodedWords("=?x-unknown?q?caf=e9?="));
    EXPECT_EQ("", DecodeEncodedWords("=?ISO-8859-1?Q?" "?="));
    EXPECT_EQ("[]", DecodeEncodedWords("[=?ISO-8859-1?Q?" "?=]"));
}

TEST(DecodeEncodedWords, AdjacentWordsKeepTheSpaceBetween) {
    EXPECT_EQ("とめ とめ",
              DecodeEncodedWords("=?ISO-2022-JP?B?GyRCJEgkYRsoQg==?= =?ISO-2022-JP?B?GyRCJEgkYRsoQg==?="));
    EXPECT_EQ("日本 \x1b$B$H$a\x1b(B",
              DecodeEncodedWords("=?ISO-2022-JP?B?GyRCRnxLXBsoQg==?= =?windows-1252?Q?=1B$B$H$a=1B(B?="));
}

TEST(DecodeEncodedWords, OtherCharsetsAndBrokenWordsStayUnchanged) {
    for (const char* same : {"=?UTF-8?B?w6k", "=? UTF-8?B?w6k=?=", "=?ISO-8859-1?Q?abc",
                             "=?windows-1252?Q?abc?", "=?ISO-8859-1", "=?ISO-8859-1?", "=?WINDOWS?x",
                             "plain text", "", "=?", "?=", "=?=?ISO?="})
        EXPECT_EQ(same, DecodeEncodedWords(same)) << same;
    // Raw ISO-2022-JP outside encoded words is left alone, escapes included.
    const std::string raw = "\x1b$B$H$a\x1b(B";
    EXPECT_EQ(raw, DecodeEncodedWords(raw));
    EXPECT_EQ("a =?ISO-8859-1?Q?b", DecodeEncodedWords("=?ISO-8859-1?Q?a?= =?ISO-8859-1?Q?b"));
}

TEST(DecodeEncodedWords, QWordWithNonHexEscapeKeepsItAndGoesOn) {
    EXPECT_EQ("a=ZZbA", DecodeEncodedWords("=?ISO-8859-1?Q?a=ZZb=41?="));
    EXPECT_EQ("=4G x", DecodeEncodedWords("=?ISO-8859-1?Q?=4G_x?="));
    EXPECT_EQ("\x82\xa0=\x82\xa0", DecodeEncodedWords("=?Shift_JIS?Q?=82=A0=\x82\xa0?="));
    // Too close to the end for an escape: the "=" is copied.
    EXPECT_EQ("x= ", DecodeEncodedWords("=?ISO-8859-1?Q?x=?= "));
    EXPECT_EQ("x=4", DecodeEncodedWords("=?ISO-8859-1?Q?x=4?="));
    // The rest of the header is decoded as well.
    EXPECT_EQ("=G1 とめ",
              DecodeEncodedWords("=?ISO-8859-1?Q?=G1?= =?ISO-2022-JP?B?GyRCJEgkYRsoQg==?="));
}

TEST(DecodeEncodedWords, BWordPaddingAndShortTails) {
    EXPECT_EQ("a", DecodeEncodedWords("=?ISO-8859-1?B?YQ==?="));
    EXPECT_EQ("a", DecodeEncodedWords("=?ISO-8859-1?B?YQ?="));   // read as if padded
    EXPECT_EQ("ab", DecodeEncodedWords("=?ISO-8859-1?B?YWI?="));
    EXPECT_EQ("", DecodeEncodedWords("=?ISO-8859-1?B?Y?="));
    EXPECT_EQ("", DecodeEncodedWords("=?ISO-8859-1?B?" "?="));
    // A letter other than Q means base64.
    EXPECT_EQ("a", DecodeEncodedWords("=?ISO-8859-1?X?YQ==?="));
}

TEST(DecodeEncodedWords, NulBytesGoAndDecodedTextIsNotDecodedAgain) {
    EXPECT_EQ("ab", DecodeEncodedWords(std::string_view("a\0b", 3)));
    EXPECT_EQ("ab", DecodeEncodedWords("=?ISO-8859-1?Q?a=00b?="));
    EXPECT_EQ("=?ISO-8859-1?Q?x?=", DecodeEncodedWords("=?ISO-8859-1?Q?=3D=3FISO-8859-1=3FQ=3Fx=3F=3D?="));
}

TEST(DecodeEncodedWords, LeadByteAtTheEndAndTruncatedEscapes) {
    EXPECT_EQ("a\x82", DecodeEncodedWords("a\x82"));
    EXPECT_EQ("\x82\xc6", DecodeEncodedWords("=?ISO-2022-JP?Q?=1B$B$H=1B?="));   // escape cut short
    EXPECT_EQ("\x82\xc6", DecodeEncodedWords("=?ISO-2022-JP?Q?=1B$B$H$?="));     // half a character
}

TEST(DecodeEncodedWords, LargeInputsStayLinear) {
    std::string many;
    std::string expected;
    for (int i = 0; i < 20000; ++i) {
        many += "=?ISO-8859-1?Q?a_b?= ";
        expected += "a b ";
    }
    EXPECT_TRUE(expected == DecodeEncodedWords(many));
    std::string starts;
    for (int i = 0; i < 200000; ++i) starts += "=?ISO";
    EXPECT_TRUE(starts == DecodeEncodedWords(starts));
    std::string tokens;
    for (int i = 0; i < 100000; ++i) tokens += "=?a";
    EXPECT_TRUE(tokens == DecodeEncodedWords(tokens));
    std::string unclosed;
    for (int i = 0; i < 100000; ++i) unclosed += "=?ISO-8859-1?Q?x";
    EXPECT_TRUE(unclosed == DecodeEncodedWords(unclosed));
}

TEST(JisToShiftJis, EscapesSwitchTheMode) {
    EXPECT_EQ("aとめb", JisToShiftJis("a\x1b$B$H$a\x1b(Bb"));
    EXPECT_EQ("ab", JisToShiftJis("a\x1b(Jb"));   // JIS X 0201 Roman: single bytes
    // The 1978 designation is two-byte mode as well, and JIS X 0201 Roman ends it.
    EXPECT_EQ("とめb", JisToShiftJis("\x1b$@$H$a\x1b(Jb"));
    EXPECT_EQ("a$", JisToShiftJis("a\x1b$"));     // ESC with one character after it
    EXPECT_EQ("a", JisToShiftJis("a\x1b"));
    EXPECT_EQ("と", JisToShiftJis("\x1b$B$H$"));  // odd byte at the end
    EXPECT_EQ("\xe9\x80", JisToShiftJis("\xe9\x80"));
}

TEST(ShiftJisToJis, WrapsDoubleByteRunsInEscapes) {
    EXPECT_EQ("\x1b$B$H$a\x1b(B", ShiftJisToJis("とめ"));
    EXPECT_EQ("a\x1b$B$H\x1b(Bb\x1b$B$a\x1b(B", ShiftJisToJis("aとbめ"));
    EXPECT_EQ("abc", ShiftJisToJis("abc"));
    EXPECT_EQ("", ShiftJisToJis(""));
}

TEST(ShiftJisToJis, InvalidBytesWriteNothing) {
    EXPECT_EQ("a", ShiftJisToJis("a\x82"));           // lead byte at the end
    EXPECT_EQ("ab", ShiftJisToJis("a\x82\x20" "b"));  // bad trail byte: both consumed, no mode switch
    EXPECT_EQ("ab", ShiftJisToJis("a\xf0\x40" "b"));  // user-defined area
    EXPECT_EQ("ab", ShiftJisToJis("a\x80\xa0\xfd\xfe\xff" "b"));
    EXPECT_EQ("", ShiftJisToJis("\xf0"));
}

TEST(ShiftJisToJis, HalfWidthKatakanaAndVoicedMarks) {
    EXPECT_EQ("\x1b$B%,\x1b(B", ShiftJisToJis("\xb6\xde"));        // ガ
    EXPECT_EQ("\x1b$B%Q\x1b(B", ShiftJisToJis("\xca\xdf"));        // パ
    EXPECT_EQ("\x1b$B%\"!+\x1b(B", ShiftJisToJis("\xb1\xde"));     // ア + voiced mark alone
    EXPECT_EQ("\x1b$B%t\x1b(B", ShiftJisToJis("\xb3\xde"));        // ヴ
    EXPECT_EQ("\x1b$B%+!,\x1b(B", ShiftJisToJis("\xb6\xdf"));      // カ has no semi-voiced form
    EXPECT_EQ("\x1b$B!+\x1b(B", ShiftJisToJis("\xde"));
    EXPECT_EQ("\x1b$B%]\x1b(B", ShiftJisToJis("\xce\xdf"));        // ポ
}

TEST(ShiftJisToJis, EveryDoubleByteCharacterRoundTrips) {
    for (int lead = 0x81; lead <= 0xEF; ++lead) {
        if (lead > 0x9F && lead < 0xE0) continue;
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail == 0x7F) continue;
            const std::string sjis{static_cast<char>(lead), static_cast<char>(trail)};
            ASSERT_EQ(sjis, JisToShiftJis(ShiftJisToJis(sjis))) << lead << " " << trail;
        }
    }
}

TEST(EncodeHeaderText, PrintableAsciiIsUnchanged) {
    const std::string text = "  Hello,\tworld  (really) ";
    EXPECT_EQ(text, EncodeHeaderText(text, kNoSpecials, 'B', TTransfer::iso2022jp, "ISO-2022-JP"));
    EXPECT_EQ(text, EncodeHeaderText(text, kNoSpecials, 'Q', TTransfer::bit8, "ISO-8859-1"));
    EXPECT_EQ("", EncodeHeaderText("", kNoSpecials, 'B', TTransfer::iso2022jp, "ISO-2022-JP"));
}

TEST(EncodeHeaderText, JapaneseWordThenAscii) {
    EXPECT_EQ("=?ISO-2022-JP?B?GyRCRnxLXBsoQg==?= test",
              EncodeHeaderText("日本 test", kNoSpecials, 'B', TTransfer::iso2022jp, "ISO-2022-JP"));
    const std::string subject = "Re: お知らせ 会議室 B (3F)";
    EXPECT_EQ(subject,
              DecodeEncodedWords(EncodeHeaderText(subject, kNoSpecials, 'B', TTransfer::iso2022jp, "ISO-2022-JP")));
}

TEST(EncodeHeaderText, NeighbouringWordsShareOneRun) {
    EXPECT_EQ("=?ISO-8859-1?Q?Caf=E9?= au lait",
              EncodeHeaderText("Caf\xe9 au lait", kNoSpecials, 'Q', TTransfer::bit8, "ISO-8859-1"));
    EXPECT_EQ(" =?ISO-8859-1?Q?=E9_=E8?= x ",
              EncodeHeaderText(" \xe9 \xe8 x ", kNoSpecials, 'Q', TTransfer::bit8, "ISO-8859-1"));
    EXPECT_EQ("=?ISO-8859-1?Q?a=3D=3F=5F=01=E9?=",
              EncodeHeaderText("a=?_\x01\xe9", kNoSpecials, 'Q', TTransfer::bit8, "ISO-8859-1"));
    // A TAB separates words; inside a run it is escaped.
    EXPECT_EQ("a=?_\t=?ISO-8859-1?Q?=E9?=",
              EncodeHeaderText("a=?_\t\xe9", kNoSpecials, 'Q', TTransfer::bit8, "ISO-8859-1"));
    EXPECT_EQ("=?ISO-8859-1?Q?=E9=09=E9?=",
              EncodeHeaderText("\xe9\t\xe9", kNoSpecials, 'Q', TTransfer::bit8, "ISO-8859-1"));
}

TEST(EncodeHeaderText, SpecialsForceEncoding) {
    EXPECT_EQ("=?ISO-8859-1?Q?a=2Eb?= c", EncodeHeaderText("a.b c", AddressSpecials, 'Q', TTransfer::bit8, "ISO-8859-1"));
    EXPECT_EQ("=?X?B?YS5i?=", EncodeHeaderText("a.b", AddressSpecials, 'B', TTransfer::bit8, "X"));
    EXPECT_EQ("a.b", EncodeHeaderText("a.b", kNoSpecials, 'Q', TTransfer::bit8, "ISO-8859-1"));
}

TEST(EncodeHeaderText, LetterEightOnlyConverts) {
    EXPECT_EQ("\x1b$B$H$a\x1b(B", EncodeHeaderText("とめ", kNoSpecials, '8', TTransfer::iso2022jp, "ISO-2022-JP"));
    EXPECT_EQ("とめ", EncodeHeaderText("とめ", kNoSpecials, '8', TTransfer::bit8, "ISO-2022-JP"));
}

// The encoded words of a folded header value, in order.
std::vector<std::string> Words(const std::string& header) {
    std::vector<std::string> words;
    size_t pos = 0;
    while ((pos = header.find("=?", pos)) != std::string::npos) {
        size_t end = header.find("?=", header.find('?', header.find('?', pos + 2) + 1) + 1);
        words.push_back(header.substr(pos, end + 2 - pos));
        pos = end + 2;
    }
    return words;
}

TEST(EncodeHeaderText, LongRunsSplitIntoWordsOfAtMost75) {
    std::string kanji;
    for (int i = 0; i < 30; ++i) kanji += "日";
    const std::string header = EncodeHeaderText(kanji, kNoSpecials, 'B', TTransfer::iso2022jp, "ISO-2022-JP");
    const auto words = Words(header);
    ASSERT_EQ(2u, words.size());
    EXPECT_NE(std::string::npos, header.find("?=\r\n\t=?ISO-2022-JP?B?"));
    // Each word stands alone: its own escapes around whole characters (18 of the 30 fit in 42 bytes).
    std::string decoded;
    for (const auto& w : words) {
        EXPECT_LE(w.size(), 75u);
        const std::string jis = DecodeEncodedWords("=?ISO-8859-1?B?" + w.substr(16));
        EXPECT_EQ(jis.substr(0, 3), "\x1b$B") << w;
        EXPECT_EQ(jis.substr(jis.size() - 3), "\x1b(B") << w;
        decoded += DecodeEncodedWords(w);
    }
    EXPECT_EQ(kanji.substr(0, 36), DecodeEncodedWords(words[0]));
    EXPECT_EQ(kanji, decoded);
    // Mixed text cut anywhere still decodes word by word; Q words follow the same rule.
    const std::string mixed = "件名ab日本語テキストcd" + kanji + "x";
    for (char letter : {'B', 'Q'}) {
        decoded.clear();
        for (const auto& w : Words(EncodeHeaderText(mixed, kNoSpecials, letter, TTransfer::iso2022jp, "ISO-2022-JP"))) {
            EXPECT_LE(w.size(), 75u);
            decoded += DecodeEncodedWords(w);
        }
        EXPECT_EQ(mixed, decoded) << letter;
    }

    const std::string q = EncodeHeaderText(std::string(100, '\xe9'), kNoSpecials, 'Q', TTransfer::bit8, "ISO-8859-1");
    decoded.clear();
    for (const auto& w : Words(q)) {
        EXPECT_LE(w.size(), 75u);
        decoded += DecodeEncodedWords(w);
    }
    // é has no place in code page 932: each comes back as the geta mark, none lost at a split.
    std::string marks;
    for (int i = 0; i < 100; ++i) marks += "〓";
    EXPECT_EQ(marks, decoded);
}

TEST(ChooseHeaderCharset, FollowsTheSystemLanguage) {
    TTransfer transfer;
    char letter;
    std::string charset;
    ChooseHeaderCharset(transfer, letter, charset);
    EXPECT_EQ(TTransfer::iso2022jp, transfer);
    EXPECT_EQ('B', letter);
    EXPECT_EQ("ISO-2022-JP", charset);
    ChooseHeaderCharsetFor(0x04, 0x02, transfer, letter, charset);
    EXPECT_EQ("GB2312", charset);
    ChooseHeaderCharsetFor(0x09, 0x01, transfer, letter, charset);
    EXPECT_EQ("ISO-8859-1", charset);
    EXPECT_EQ('Q', letter);
    EXPECT_EQ(TTransfer::bit8, transfer);
}

}  // namespace
}  // namespace tarnwick
