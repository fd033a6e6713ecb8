// Messages of every shape the reader handles, retrieved from the local Dovecot with the POP3
// client and sent on through the local Postfix with the SMTP client, as the forwarding cycle
// does; what Postfix delivers is compared with what the clients read.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "message/MailMessage.h"
#include "net/MailExceptions.h"
#include "net/MailPOP3.h"
#include "net/MailSMTP.h"
#include "platform/Streams.h"
#include "support/MailServers.h"
#include "support/TempDir.h"
#include "support/Transcript.h"

namespace tarnwick::test {
namespace {

using ::testing::ElementsAre;

const bool tempDirReady = !ProcessTempDir().empty();
const std::string kForward = "fwd@docomo.ne.jp";

std::string FileContent(const std::string& path) {
    TFileStream file(path, TFileStream::fmOpenRead);
    std::string data(static_cast<size_t>(file.Size()), '\0');
    file.ReadBuffer(data.data(), static_cast<int64_t>(data.size()));
    return data;
}

// The header lines and body lines with LF ends, as Postfix stores what the client sent.
std::string Stored(const TStringList& headers, const TStringList& body) {
    std::string text;
    for (const std::string& line : headers) text += line + "\n";
    text += "\n";
    for (const std::string& line : body) text += line + "\n";
    return text;
}

std::string Joined(const TStringList& lines) {
    std::string out;
    for (int i = 0; i < lines.Count(); ++i) out += (i > 0 ? "|" : "") + lines[i];
    return out;
}

// Subject, Body lines and parts on one line: "subject / body|lines [text|lines] [file: content]".
std::string Described(TMailMessage& m) {
    std::string out = m.Subject + " / " + Joined(m.Body);
    for (int i = 0; i < m.MessageParts.Count(); ++i) {
        if (auto* text = dynamic_cast<TMailText*>(&m.MessageParts[i])) out += " [" + Joined(text->Body) + "]";
        if (auto* file = dynamic_cast<TMailAttachment*>(&m.MessageParts[i]))
            out += " [" + file->FileName + ": " + FileContent(file->StoredPath) + "]";
    }
    return out;
}

struct Shape {
    const char* name;
    std::string message;  // LF line ends, as dropped into the mailbox
    std::string read;     // Described() of the retrieved message
};

const std::string kHeader = "From: Sender <sender@example.jp>\nTo: first@example.jp\nDate: Mon, 1 Jun 2026 10:00:00 +0900\n"
                            "Message-ID: <shape@example.jp>\n";

std::vector<Shape> Shapes() {
    return {
        {"PlainTextWithDotLines", kHeader + "Subject: plain\n\nfirst\n.one dot\n..two dots\n.\n--\n\nlast\n",
         "plain / first|.one dot|..two dots|.|--||last"},
        {"Iso2022jpSubjectAndBody",
         kHeader + "Subject: =?ISO-2022-JP?B?GyRCJEgkRiRiGyhC?=\nMIME-Version: 1.0\n"
                   "Content-Type: text/plain; charset=ISO-2022-JP\nContent-Transfer-Encoding: 7bit\n\n\x1b$B$H$F$b\x1b(B\n",
         "とても / \x1b$B$H$F$b\x1b(B"},
        {"Base64SinglePart",
         kHeader + "Subject: b64\nContent-Type: text/plain\nContent-Transfer-Encoding: base64\n\n"
                   "aGVsbG8gd29ybGQNCi5kb3QNCg==\n",
         "b64 /  [hello world|.dot]"},
        {"QuotedPrintableSinglePart",
         kHeader + "Subject: qp\nContent-Type: text/plain; charset=iso-8859-1\n"
                   "Content-Transfer-Encoding: quoted-printable\n\ncaf=E9 =\nsoft\n.dotted line\n",
         "qp /  [caf\xE9 soft|.dotted line]"},
        {"MultipartMixedWithAttachment",
         kHeader + "Subject: mixed\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"XyZ\"\n\n"
                   "preamble\n--XyZ\nContent-Type: text/plain\n\nthe text\n--XyZ\n"
                   "Content-Type: application/octet-stream; name=\"data.bin\"\nContent-Transfer-Encoding: base64\n"
                   "Content-Disposition: attachment; filename=\"data.bin\"\n\nQUJD\n--XyZ--\nepilogue\n",
         "mixed / preamble|epilogue [the text] [data.bin: ABC]"},
        {"NestedAlternative",
         kHeader + "Subject: nested\nContent-Type: multipart/mixed; boundary=out\n\n--out\n"
                   "Content-Type: multipart/alternative; boundary=in\n\n--in\nContent-Type: text/plain\n\nplain\n"
                   "--in\nContent-Type: text/html\n\n<b>html</b>\n--in--\n\n--out\n"
                   "Content-Type: text/plain; name=n.txt\n\nnote\n--out--\n",
         "nested /  [] [plain] [<b>html</b>] [n.txt: note\r\n]"},
        {"UuencodedBlock", kHeader + "Subject: uu\n\nsee below\nbegin 644 abc.txt\n#86)C\n`\nend\nbye\n",
         "uu / see below|bye [abc.txt: abc]"},
    };
}

class Forwarding : public ::testing::TestWithParam<std::tuple<int, bool>> {
protected:
    const Shape& TheShape() const {
        static const std::vector<Shape> shapes = Shapes();
        return shapes[static_cast<size_t>(std::get<0>(GetParam()))];
    }
};

std::string ShapeName(const ::testing::TestParamInfo<std::tuple<int, bool>>& info) {
    static const std::vector<Shape> shapes = Shapes();
    return std::string(shapes[static_cast<size_t>(std::get<0>(info.param))].name) +
           (std::get<1>(info.param) ? "_Apop" : "_UserPass");
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(EveryShape, Forwarding,
                         ::testing::Combine(::testing::Range(0, static_cast<int>(Shapes().size())), ::testing::Bool()),
                         ShapeName);

TEST_P(Forwarding, RetrievedDecodedAndSentOnWithTheStoredLines) {
    TARNWICK_REQUIRE_MAIL_SERVERS(servers);
    const Shape& shape = TheShape();
    servers->DropPop3Message(shape.message);

    TMailPOP3 pop3;
    pop3.SetHost(servers->pop3Host);
    pop3.SetPort(servers->pop3Port);
    pop3.Username = servers->pop3User;
    pop3.Password = servers->pop3Pass;
    pop3.APOP = std::get<1>(GetParam());
    pop3.Connect(2000);
    TStringList listing;
    ASSERT_TRUE(pop3.ListUniqueIds(listing));
    ASSERT_EQ(listing.Count(), 1);
    EXPECT_EQ(listing[0].substr(0, 2), "1 ");

    TMailMessage message;
    message.Clear();
    message.NoEncode = true;
    ASSERT_TRUE(pop3.RetrieveMessage(1, message));
    pop3.Disconnect();
    EXPECT_EQ(Described(message), shape.read);
    EXPECT_EQ(Stored(message.Headers, TStringList()), shape.message.substr(0, shape.message.find("\n\n") + 2));

    message.Recipients.Clear();
    message.CCList.Clear();
    message.Recipients.ParseAddresses(kForward);
    TMailSMTP smtp;
    smtp.SetHost(servers->smtpHost);
    smtp.SetPort(servers->smtpPort);
    smtp.Connect(2000);
    smtp.SendMail(message);
    smtp.Disconnect();

    std::vector<DeliveredMessage> got = servers->WaitForDelivered(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].OriginalTo(), kForward);
    EXPECT_EQ(got[0].ReturnPath(), "sender@example.jp");
    // The received header lines (the "To" still naming the first recipient), an empty line and
    // the lines no part took.
    EXPECT_EQ(got[0].WithoutDeliveryTrace(), Stored(message.Headers, message.Body));
}

TEST(ForwardingWhole, WithoutDecodingTheMessageArrivesAsItWasStored) {
    TARNWICK_REQUIRE_MAIL_SERVERS(servers);
    std::vector<Shape> shapes = Shapes();
    for (const Shape& shape : shapes) servers->DropPop3Message(shape.message);

    TMailPOP3 pop3;
    pop3.SetHost(servers->pop3Host);
    pop3.SetPort(servers->pop3Port);
    pop3.Username = servers->pop3User;
    pop3.Password = servers->pop3Pass;
    pop3.MaxContentLineLength = 16 * 1024 * 1024;
    pop3.Connect(2000);
    TMailSMTP smtp;
    smtp.SetHost(servers->smtpHost);
    smtp.SetPort(servers->smtpPort);
    smtp.Connect(2000);
    TMailMessage message;
    for (int number = 1; number <= static_cast<int>(shapes.size()); ++number) {
        message.Clear();
        message.NoEncode = true;
        message.NoDecode = true;
        ASSERT_TRUE(pop3.RetrieveMessage(number, message));
        EXPECT_TRUE(message.MessageParts.Empty());
        message.Recipients.Clear();
        message.Recipients.ParseAddresses(kForward);
        smtp.SendMail(message);
    }
    pop3.Disconnect();
    smtp.Disconnect();

    std::vector<DeliveredMessage> got = servers->WaitForDelivered(shapes.size());
    ASSERT_EQ(got.size(), shapes.size());
    std::vector<std::string> delivered, expected;
    for (const DeliveredMessage& m : got) delivered.push_back(m.WithoutDeliveryTrace());
    for (const Shape& shape : shapes) expected.push_back(shape.message);
    std::sort(delivered.begin(), delivered.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(delivered, expected);
}

TEST(ForwardingWhole, LongLinesPassWithTheContentLimitAndRefusalsCarryTheirCode) {
    TARNWICK_REQUIRE_MAIL_SERVERS(servers);
    const std::string longLine(200000, 'L');
    servers->DropPop3Message(kHeader + "Subject: long\n\n" + longLine + "\n");

    TMailPOP3 pop3;
    pop3.SetHost(servers->pop3Host);
    pop3.SetPort(servers->pop3Port);
    pop3.Username = servers->pop3User;
    pop3.Password = servers->pop3Pass;
    pop3.Connect(2000);
    TMailMessage message;
    message.NoDecode = true;
    EXPECT_THROW(pop3.RetrieveMessage(1, message), EMailReadLnMaxLineLengthExceeded);
    EXPECT_FALSE(pop3.IsConnected());
    pop3.Disconnect();

    pop3.MaxContentLineLength = 16 * 1024 * 1024;
    pop3.Connect(2000);
    message.Clear();
    message.NoDecode = true;
    ASSERT_TRUE(pop3.RetrieveMessage(1, message));
    EXPECT_THAT(Items(message.Body), ElementsAre(longLine));
    EXPECT_FALSE(pop3.RetrieveMessage(2, message));
    pop3.Disconnect();

    TMailSMTP smtp;
    smtp.SetHost(servers->smtpHost);
    smtp.SetPort(servers->smtpPort);
    smtp.Connect(2000);
    message.NoEncode = true;
    message.Recipients.Clear();
    message.Recipients.ParseAddresses("not an address@@");
    try {
        smtp.SendMail(message);
        ADD_FAILURE() << "recipient accepted";
    } catch (const EMailProtocolReplyError& e) {
        EXPECT_EQ(e.ReplyCode / 100, 5) << e.Message();
    }
    message.Recipients.Clear();
    message.Recipients.ParseAddresses(kForward);
    smtp.SendMail(message);
    smtp.Disconnect();
    std::vector<DeliveredMessage> got = servers->WaitForDelivered(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].WithoutDeliveryTrace(), kHeader + "Subject: long\n\n" + longLine + "\n");
}

}  // namespace tarnwick::test
