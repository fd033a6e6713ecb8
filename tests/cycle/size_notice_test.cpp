// The notice sent instead of a message too big to forward: the exact bytes it goes out as.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <time.h>

#include <cstdlib>
#include <string>

#include "app/cycle/SizeNotice.h"
#include "message/MailMessage.h"
#include "net/MailMessageClient.h"
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

}  // namespace
}  // namespace tarnwick
