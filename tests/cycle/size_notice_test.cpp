// The notice sent instead of a message too big to forward: the exact bytes it goes out as.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <time.h>

#include <cstdlib>
#include <string>

#include "app/cycle/SizeNotice.h"
#include "message/Coders.h"
#include "message/HeaderCoding.h"
#include "message/HeaderUnicode.h"
#include "message/MailMessage.h"
#include "net/MailMessageClient.h"
#include "net/MailSMTP.h"
#include "platform/Locale.h"
#include "support/LoopbackClient.h"
#include "support/ScopedTimeZone.h"
#include "support/Transcript.h"

namespace tarnwick {
namespace {

using test::CrLf;

// The date lines depend on the local zone.
class TokyoTime : public ::testing::Test {
    test::ScopedTimeZone zone_{"Asia/Tokyo"};
};

// What the generating send path writes for the message.
std::string Written(TMailMessage& message) {
    test::ScriptedServer server;
    TMailMessageClient client;
    test::ConnectTo(server, client);
    client.WriteMessage(message);
    client.Disconnect();
    EXPECT_TRUE(server.Finish());
    return server.Received();
}

TEST_F(TokyoTime, NoticeOfAJapaneseMessageInExactBytes) {
    TMailMessage original;
    for (const char* line : {"From: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <yamada@example.jp>",
                             "Subject: =?ISO-2022-JP?B?GyRCPEw/PxsoQg==?=", "Date: Tue, 8 Dec 2026 21:05:09 +0900",
                             "Content-Type: multipart/mixed; boundary=x"})
        original.Headers.Add(line);
    original.LoadHeaderFields();
    TMailMessage notice;
    ComposeSizeNotice(original, 2'345'678, "me@phone.example", notice);
    // Subject "[サイズ超過] 写真"; the body lines read 大きすぎるため転送しなかったメールがあります。,
    // 差出人: "山田" <...>, 日付, 件名: 写真, サイズ: 2,291 KB (2,345,678 バイト).
    EXPECT_EQ(Written(notice),
              CrLf({"From: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <yamada@example.jp>",
                    "Subject: =?ISO-2022-JP?B?WxskQiU1JSQlOkQ2MmEbKEJdIBskQjxMPz8bKEI=?=",
                    "To: me@phone.example",
                    "Content-Type: text/plain;",
                    "\tcharset=\"ISO-2022-JP\"",
                    "Content-Transfer-Encoding: 7bit",
                    "Date: Tue, 8 Dec 2026 21:05:09 +0900",
                    "X-Priority: 3",
                    "X-Library: Tarnwick 1.01",
                    "MIME-Version: 1.0",
                    "",
                    "\x1B$BBg$-$9$.$k$?$aE>Aw$7$J$+$C$?%a!<%k$,$\"$j$^$9!#\x1B(B",
                    "",
                    "\x1B$B:9=P?M\x1B(B: \"\x1B$B;3ED\x1B(B\" <yamada@example.jp>",
                    "\x1B$BF|IU\x1B(B:   Tue, 8 Dec 2026 21:05:09 +0900",
                    "\x1B$B7oL>\x1B(B:   \x1B$B<L??\x1B(B",
                    "\x1B$B%5%$%:\x1B(B: 2,291 KB (2,345,678 \x1B$B%P%$%H\x1B(B)"}));
}

TEST_F(TokyoTime, AnEmptySubjectAndNoDateStillGiveACompleteNotice) {
    TMailMessage original;
    original.Headers.Add("From: a@example.com");
    original.LoadHeaderFields();
    TMailMessage notice;
    ComposeSizeNotice(original, 1, "me@phone.example", notice);
    EXPECT_EQ(notice.Subject, "[サイズ超過] ");
    EXPECT_THAT(notice.Body.Text(), ::testing::HasSubstr("件名:   (なし)"));
    EXPECT_THAT(notice.Body.Text(), ::testing::HasSubstr("サイズ: 1 KB (1 バイト)"));
}

// Base64 lines back to their bytes.
std::string Unbase64(const std::string& lines) {
    std::string joined;
    for (char c : lines)
        if (c != '\r' && c != '\n') joined += c;
    TMemoryStream out;
    TMailDecoderMIME().DecodeIntoStream(joined, out);
    return out.Data();
}

// A notice goes from whom the message itself would, always names a sender in From, keeps its
// subject whole (in UTF-8 when ISO-2022-JP lacks a character) and keeps its lines short.
TEST_F(TokyoTime, EnvelopeFromAndLinesOfNotices) {
    const std::string longJapanese = [] {
        std::string s;
        for (int i = 0; i < 480; ++i) s += "\x1B$B<L\x1B(B";  // 写
        return s;
    }();
    // 髙 é ① and an emoji, with an encoded line break between them.
    const std::string outside = "=?UTF-8?B?6auZIMOpIOKRoCDwn5iADQrmnKs=?=";
    struct Row {
        const char* what;
        std::vector<std::string> header;  // empty: no header block at all
        std::string mailFrom, from, charset, body;  // body: in the decoded text (UTF-8)
    };
    const Row rows[] = {
        {"bounce", {"Return-Path: <>", "From: MAILER-DAEMON@mx.example.jp", "Subject: Undelivered"}, "<>",
         "From: MAILER-DAEMON@mx.example.jp", "ISO-2022-JP", "Undelivered"},
        {"list post", {"Return-Path: <ml-bounces@lists.example.org>", "From: author@example.com", "Subject: hi"},
         "<ml-bounces@lists.example.org>", "From: author@example.com", "ISO-2022-JP", "hi"},
        {"untrusted Return-Path", {"Return-Path: a@b, c@d", "From: author@example.com"}, "<author@example.com>",
         "From: author@example.com", "ISO-2022-JP", ""},
        {"no From", {"Subject: hi"}, "<>", "From: taro@docomo.ne.jp", "ISO-2022-JP", "hi"},
        {"no header block", {}, "<>", "From: taro@docomo.ne.jp", "ISO-2022-JP", ""},
        {"long subject", {"From: a@example.jp", "Subject: " + longJapanese}, "<a@example.jp>", "From: a@example.jp",
         "ISO-2022-JP", "\xE5\x86\x99\xE5\x86\x99"},
        {"outside ISO-2022-JP", {"From: a@example.jp", "Subject: " + outside}, "<a@example.jp>", "From: a@example.jp",
         "UTF-8", "\xE9\xAB\x99 \xC3\xA9 \xE2\x91\xA0 \xF0\x9F\x98\x80  \xE6\x9C\xAB"},
    };
    for (const Row& row : rows) {
        TMailMessage original;
        for (const std::string& line : row.header) original.Headers.Add(line);
        original.LoadHeaderFields();
        TMailMessage notice;
        ComposeSizeNotice(original, 5'000'000, "taro@docomo.ne.jp", notice);
        EXPECT_EQ(TMailSMTP().ReversePathOf(notice).Path, row.mailFrom) << row.what;
        const std::string written = Written(notice);
        const size_t blank = written.find("\r\n\r\n");
        const std::string head = "\r\n" + written.substr(0, blank + 2), body = written.substr(blank + 4);
        EXPECT_NE(head.find("\r\n" + row.from + "\r\n"), std::string::npos) << row.what << head;
        // The envelope is steered without a Return-Path line, which only final delivery writes.
        EXPECT_EQ(head.find("\r\nReturn-Path:"), std::string::npos) << row.what;
        EXPECT_NE(head.find("charset=\"" + row.charset + "\""), std::string::npos) << row.what;
        const std::string text = row.charset == "UTF-8" ? Unbase64(body) : Cp932ToUtf8(JisToShiftJis(body));
        EXPECT_NE(text.find(row.body), std::string::npos) << row.what << text;
        TMailMessage back;
        for (size_t at = 2, end; (end = head.find("\r\n", at)) != std::string::npos; at = end + 2)
            back.Headers.Add(head.substr(at, end - at));
        EXPECT_NE(DecodedSubjectUtf8(back).find(row.body), std::string::npos) << row.what << head;
        for (const std::string& lines : {body, text}) {
            size_t longest = 0;
            for (size_t at = 0, end; at < lines.size(); at = end + 2) {
                end = lines.find("\r\n", at);
                if (end == std::string::npos) end = lines.size();
                // Columns of the decoded text: a character beyond ASCII takes two.
                size_t width = 0;
                for (size_t i = at; i < end; ++i)
                    if ((static_cast<unsigned char>(lines[i]) & 0xC0) != 0x80) width += lines[i] & 0x80 ? 2 : 1;
                longest = std::max(longest, &lines == &body ? end - at : width);
            }
            EXPECT_LE(longest, SizeNoticeLineLimit) << row.what;
        }
    }
}

}  // namespace
}  // namespace tarnwick
