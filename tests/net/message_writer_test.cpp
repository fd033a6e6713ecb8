// Writing messages as DATA content: the bytes a recording loopback server receives.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>

#include "message/MailMessage.h"
#include "message/MessageEncoders.h"
#include "message/MessageParts.h"
#include "net/MailMessageClient.h"
#include "platform/Streams.h"
#include "support/LoopbackClient.h"
#include "support/TempDir.h"
#include "support/Transcript.h"

using namespace tarnwick;
using tarnwick::test::ConnectTo;
using tarnwick::test::CrLf;
using tarnwick::test::ProcessTempDir;
using tarnwick::test::ScriptedServer;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

// What the client wrote, as the server saw it.
std::string Written(const std::function<void(TMailMessageClient&)>& write) {
    ScriptedServer server;
    TMailMessageClient client;
    ConnectTo(server, client);
    write(client);
    EXPECT_TRUE(client.DataAtLineStart());
    client.Disconnect();
    EXPECT_TRUE(server.Finish());
    EXPECT_THAT(server.Mismatches(), IsEmpty());
    return server.Received();
}

// The content after the header block's empty line.
std::string BodyOf(const std::string& data) {
    size_t end = data.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : data.substr(end + 4);
}

// An attachment of the message whose file holds content; the part owns (and deletes) the file.
TMailAttachment& AttachFile(TMailMessage& message, const std::string& content) {
    std::string path = ProcessTempDir() + "/attachment-" + std::to_string(content.size());
    {
        TFileStream file(path, TFileStream::fmCreate);
        file.WriteString(content);
    }
    TMailAttachment& part = message.MessageParts.Add<TMailAttachment>(path);
    part.OwnsFile = true;
    return part;
}

}  // namespace

// --- stored lines (NoEncode)

TEST(WriteMessage, NoEncodeSendsTheStoredLinesDotStuffed) {
    TMailMessage message;
    message.NoEncode = true;
    for (const char* line : {"From: a@example.com", "To: first@example.com", "Subject: hi", "X-Folded: a,", "\tb"})
        message.Headers.Add(line);
    message.ExtraHeaders.SetHeaderValue("X-Mailer", "agent");
    for (const char* line : {".", ".leading", "plain", "", "..two"}) message.Body.Add(line);
    message.Recipients.ParseAddresses("forward@example.com");
    EXPECT_EQ(Written([&](TMailMessageClient& c) { c.WriteMessage(message); }),
              CrLf({"From: a@example.com", "To: first@example.com", "Subject: hi", "X-Folded: a,", "\tb", "",
                     "..", "..leading", "plain", "", "...two"}));
}

TEST(WriteMessage, NoEncodeWithoutBodyAndHeadersOnly) {
    TMailMessage message;
    message.NoEncode = true;
    message.Headers.Add("Subject: s");
    EXPECT_EQ(Written([&](TMailMessageClient& c) { c.WriteMessage(message); }), CrLf({"Subject: s", ""}));
    message.Body.Add("not sent");
    EXPECT_EQ(Written([&](TMailMessageClient& c) { c.WriteMessage(message, true); }), CrLf({"Subject: s", ""}));
}

TEST(WriteMessage, NoLineOfTheContentCanEndTheData) {
    TMailMessage message;
    message.NoEncode = true;
    message.Headers.Add(".");
    message.Headers.Add("X-Evil: a\r\n.\r\nMAIL FROM:<x>");
    message.Body.Add("b\n.\nRSET");
    EXPECT_EQ(Written([&](TMailMessageClient& c) { c.WriteMessage(message); }),
              "..\r\nX-Evil: a\r\n..\r\nMAIL FROM:<x>\r\n\r\nb\n..\nRSET\r\n");
}

// --- generated headers and encoded body

TEST(WriteMessage, PlainBodyFollowsGeneratedHeadersInIso2022jp) {
    TMailMessage message;
    message.Subject = "subject";
    message.Recipients.ParseAddresses("to@example.com");
    message.ExtraHeaders.SetHeaderValue("X-Mailer", "agent");
    message.Body.Add("日本語");
    message.Body.Add(".dot");
    std::string data = Written([&](TMailMessageClient& c) { c.WriteMessage(message); });
    EXPECT_THAT(data, HasSubstr("Subject: subject\r\nTo: to@example.com\r\nDate: "));
    EXPECT_THAT(data, HasSubstr("X-Priority: 3\r\nX-Library: Tarnwick 1.01\r\nX-Mailer: agent\r\n\r\n"));
    EXPECT_EQ(BodyOf(data), "\x1b$BF|K\\8l\x1b(B\r\n..dot\r\n");
}

TEST(WriteMessage, OneAttachmentWithoutTextParts) {
    TMailMessage message;
    message.Body.Add("see attached");
    TMailAttachment& part = AttachFile(message, "hello");
    part.FileName = "dir/hello.txt";
    std::string data = Written([&](TMailMessageClient& c) { c.WriteMessage(message); });
    EXPECT_THAT(data, HasSubstr("Content-Type: multipart/mixed; boundary=\"=_NextPart_2rfktarnsadvnqw3nerasdf\""));
    EXPECT_THAT(data, HasSubstr("MIME-Version: 1.0\r\n"));
    EXPECT_EQ(BodyOf(data), CrLf({"This is a multi-part message in MIME format", "",
                                   "--=_NextPart_2rfktarnsadvnqw3nerasdf", "Content-Type: text/plain",
                                   "Content-Transfer-Encoding: 7bit", "", "see attached", "",
                                   "--=_NextPart_2rfktarnsadvnqw3nerasdf",
                                   "Content-Type: application/octet-stream;", "        name=\"hello.txt\"",
                                   "Content-Transfer-Encoding: base64", "Content-Disposition: attachment;",
                                   "        filename=\"hello.txt\"", "", "aGVsbG8=", "",
                                   "--=_NextPart_2rfktarnsadvnqw3nerasdf--"}));
    // The defaults went into the part.
    EXPECT_EQ(part.ContentTransfer(), "base64");
    EXPECT_EQ(part.ContentDisposition(), "attachment");
}

TEST(WriteMessage, AttachmentContentUsesTheMessageEncoderAndLongFilesSplitAt76) {
    TMailMessage message;
    TMailAttachment& part = AttachFile(message, std::string(60, 'z'));
    part.SetContentTransfer("quoted-printable");
    part.SetContentType("text/plain");
    std::string body = BodyOf(Written([&](TMailMessageClient& c) { c.WriteMessage(message); }));
    EXPECT_THAT(body, HasSubstr("Content-Transfer-Encoding: quoted-printable\r\n"));
    std::string full;
    for (int i = 0; i < 19; ++i) full += "enp6";
    EXPECT_THAT(body, HasSubstr("\r\n\r\n" + full + "\r\nenp6\r\n\r\n"));
}

TEST(WriteMessage, UuencodedAttachmentsFollowTheBodyWithTheirDotsDoubled) {
    TMailMessage message;
    message.SetEncoding(TMailMessageEncoding::meUU);
    message.Body.Add("text");
    // 14 bytes give a line whose count character is ".".
    TMailAttachment& part = AttachFile(message, "fourteen bytes");
    part.FileName = "f.txt";
    std::string body = BodyOf(Written([&](TMailMessageClient& c) { c.WriteMessage(message); }));
    EXPECT_EQ(body, "text\r\n\r\nbegin 660 f.txt\r\n..9F]U<G1E96X@8GET97,`\r\n`\r\nend\r\n\r\n");
}

TEST(WriteMessage, TwoTextPartsAreWrittenAsAlternatives) {
    TMailMessage message;
    message.Body.Add("not written");
    TMailText& plain = message.MessageParts.Add<TMailText>();
    plain.Body.Add(std::string(72, 'a') + ".b");
    plain.Body.Add(".x");
    TMailText& html = message.MessageParts.Add<TMailText>();
    html.SetContentType("text/html");
    html.SetContentTransfer("7bit");
    html.Body.Add(".<p>");
    std::string body = BodyOf(Written([&](TMailMessageClient& c) { c.WriteMessage(message); }));
    EXPECT_EQ(body, CrLf({"This is a multi-part message in MIME format", "", "--=_NextPart_2rfktarnsadvnqw3nerasdf",
                           "Content-Type: text/plain", "Content-Transfer-Encoding: quoted-printable", "",
                           std::string(72, 'a') + "=", "..b", "..x", "", "--=_NextPart_2rfktarnsadvnqw3nerasdf",
                           "Content-Type: text/html", "Content-Transfer-Encoding: 7bit", "", "..<p>", "",
                           "--=_NextPart_2rfktarnsadvnqw3nerasdf--"}));
}

TEST(WriteMessage, TextPartsWithAnAttachmentNestAnAlternative) {
    TMailMessage message;
    message.MessageParts.Add<TMailText>().Body.Add("one");
    message.MessageParts.Add<TMailText>().Body.Add("two");
    TMailAttachment& part = AttachFile(message, "x");
    part.ExtraHeaders.Add("Content-ID: <id@x>");
    std::string body = BodyOf(Written([&](TMailMessageClient& c) { c.WriteMessage(message); }));
    const std::string rel = "--=_NextPart_2relrfksadvnqtarnw3nerasdf";
    const std::string alt = "--=_NextPart_2altrfktarnsadvnqw3nerasdf";
    EXPECT_EQ(body, CrLf({"This is a multi-part message in MIME format", "", rel,
                           "Content-Type: multipart/alternative; ",
                           "        boundary=\"=_NextPart_2altrfktarnsadvnqw3nerasdf\"", "", alt,
                           "Content-Type: text/plain", "Content-Transfer-Encoding: quoted-printable", "", "one", "", "",
                           alt, "Content-Type: text/plain", "Content-Transfer-Encoding: quoted-printable", "", "two", "",
                           "", alt + "--", "", rel, "Content-Type: application/octet-stream;", "        name=\"attachment-1\"",
                           "Content-Transfer-Encoding: base64", "Content-Disposition: attachment;",
                           "        filename=\"attachment-1\"", "Content-ID: <id@x>", "", "eA==", "", rel + "--"}));
}

TEST(WriteMessage, UuLayoutRefusesTextPartsBeforeWritingAnything) {
    TMailMessage message;
    message.SetEncoding(TMailMessageEncoding::meUU);
    message.MessageParts.Add<TMailText>();
    EXPECT_EQ(Written([&](TMailMessageClient& c) {
                  EXPECT_THROW(c.WriteMessage(message), EMailMessageException);
              }),
              "");
}
