// Reading messages in the POP3 transfer form from memory: header, body lines and decoded parts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "message/Coders.h"
#include "message/MailMessage.h"
#include "message/MessageDecoders.h"
#include "message/MessageReader.h"
#include "message/StreamLines.h"
#include "platform/Streams.h"
#include "support/Raised.h"
#include "support/TempDir.h"
#include "support/Transcript.h"

using namespace tarnwick;
using tarnwick::test::CrLf;
using tarnwick::test::FilesIn;
using tarnwick::test::Items;
using tarnwick::test::ProcessTempDir;
using tarnwick::test::Raised;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const bool tempDirReady = !ProcessTempDir().empty();

std::string FileContent(const std::string& path) {
    TFileStream file(path, TFileStream::fmOpenRead);
    std::string data(static_cast<size_t>(file.Size()), '\0');
    file.ReadBuffer(data.data(), static_cast<int64_t>(data.size()));
    return data;
}

class Reader : public ::testing::Test {
protected:
    // Reads header and body as the POP3 client does; returns the line that ended the header.
    std::string Read(const std::string& text, TMailReadLimits limits = {}) {
        source = std::make_unique<TReadOnlyMemoryStream>(wire = text);
        std::string ended = ReadMessageHeaderFrom(*source, message, "", limits);
        if (ended.empty()) ReadMessageBodyFrom(*source, message, ".", limits, endReached);
        return ended;
    }
    TMailText& Text(int i) { return dynamic_cast<TMailText&>(message.MessageParts[i]); }
    TMailAttachment& Attachment(int i) { return dynamic_cast<TMailAttachment&>(message.MessageParts[i]); }

    void TearDown() override {
        message.Clear();
        EXPECT_THAT(FilesIn(ProcessTempDir()), IsEmpty()) << "temporary files left behind";
    }

    std::string wire;
    std::unique_ptr<TStream> source;
    TMailMessage message;
    bool endReached = false;
};

}  // namespace

// --- header

TEST_F(Reader, HeaderLinesAreKeptAsReceivedAndFieldsLoaded) {
    Read(CrLf({"Subject: =?ISO-2022-JP?B?GyRCJEgkRiRiGyhC?=", "To: a@example.com,", " b@example.com",
                "..Odd: dotted", "", "body", "."}));
    EXPECT_THAT(Items(message.Headers), ElementsAre("Subject: =?ISO-2022-JP?B?GyRCJEgkRiRiGyhC?=",
                                                    "To: a@example.com,", " b@example.com", ".Odd: dotted"));
    EXPECT_EQ(message.Subject, "とても");
    EXPECT_EQ(message.Recipients.Count(), 2);
    EXPECT_THAT(Items(message.Body), ElementsAre("body"));
    EXPECT_TRUE(endReached);
}

TEST_F(Reader, AMessageWithoutBodyEndsAtTheDotAfterItsHeader) {
    EXPECT_EQ(Read(CrLf({"Subject: x", "."})), ".");
    EXPECT_EQ(message.Subject, "x");
    EXPECT_EQ(source->Position(), static_cast<int64_t>(wire.size()));
}

// --- plain bodies

TEST_F(Reader, PlainBodyLinesLoseTheTransferDotOnly) {
    Read(CrLf({"Subject: s", "", "..", "...x", ".single", "--", "", "last", "."}));
    EXPECT_THAT(Items(message.Body), ElementsAre(".", "..x", ".single", "--", "", "last"));
    EXPECT_TRUE(message.MessageParts.Empty());
}

TEST_F(Reader, NoDecodeKeepsEveryBodyLine) {
    message.NoDecode = true;
    Read(CrLf({"Content-Transfer-Encoding: base64", "", "aGVsbG8=", "begin 644 a.txt", "..x", "."}));
    EXPECT_THAT(Items(message.Body), ElementsAre("aGVsbG8=", "begin 644 a.txt", ".x"));
    EXPECT_TRUE(message.MessageParts.Empty());
}

TEST_F(Reader, KeepBodyTextKeepsTheBodyAsOneText) {
    message.NoDecode = true;
    message.KeepBodyText = true;
    Read(CrLf({"Subject: s", "", "", "a", "..x", "."}));
    EXPECT_EQ(message.BodyText, "\r\na\r\n.x\r\n");
    EXPECT_TRUE(message.Body.Empty());
    message.Clear();
    EXPECT_EQ(message.BodyText.capacity(), std::string().capacity());
}

// --- uuencode and xxencode

TEST_F(Reader, UuencodedBlockBecomesAnAttachmentAndLeavesNoTraceInBody) {
    const std::string data(100, 'A');
    TMailReadMemoryStream in(data);
    TMailEncoderUUE uue;
    std::vector<std::string> encoded;
    while (in.Position() < in.Size()) encoded.push_back(uue.EncodeFromStream(in, 45));
    Read(CrLf({"Subject: s", "", "before", "begin 644 notes.txt", encoded[0], encoded[1], encoded[2], "`", "end",
                "after", "."}));
    EXPECT_THAT(Items(message.Body), ElementsAre("before", "after"));
    ASSERT_EQ(message.MessageParts.Count(), 1);
    TMailAttachment& part = Attachment(0);
    EXPECT_EQ(part.FileName, "notes.txt");
    EXPECT_TRUE(part.OwnsFile);
    EXPECT_EQ(FileContent(part.StoredPath), data);
}

TEST_F(Reader, ShortBlocksAndXxencodeAreDecodedToo) {
    // 14 bytes: the uuencode count character is "." and arrives doubled.
    const std::string fourteen = "fourteen bytes";
    TMailReadMemoryStream in(fourteen);
    std::string uueLine = TMailEncoderUUE().EncodeFromStream(in, 45);
    ASSERT_EQ(uueLine[0], '.');
    in.SetPosition(0);
    std::string xxeLine = TMailEncoderXXE().EncodeFromStream(in, 45);
    Read(CrLf({"", "begin 600 a.bin", "." + uueLine, "`", "end", "begin 600 b.bin", xxeLine, "+", "end", "."}));
    ASSERT_EQ(message.MessageParts.Count(), 2);
    EXPECT_EQ(FileContent(Attachment(0).StoredPath), fourteen);
    EXPECT_EQ(FileContent(Attachment(1).StoredPath), fourteen);
    EXPECT_TRUE(message.Body.Empty());
}

TEST_F(Reader, BeginLinesWithoutAModeStayInTheBody) {
    Read(CrLf({"", "begin abc notes.txt", "begin 000 x.txt", "Begin 644x y.txt", "."}));
    EXPECT_EQ(message.Body.Count(), 3);
    EXPECT_TRUE(message.MessageParts.Empty());
}

TEST_F(Reader, BlocksThatStopEarlyEndInOrder) {
    // No "end" before the end of the message: the block ends with it.
    Read(CrLf({"", "begin 644 a", "#86)C", "."}));
    ASSERT_EQ(message.MessageParts.Count(), 1);
    EXPECT_EQ(FileContent(Attachment(0).StoredPath), "abc");
    EXPECT_TRUE(endReached);
    message.Clear();
    // "end" right away: an empty file.
    Read(CrLf({"", "begin 644 b", "end", "tail", "."}));
    ASSERT_EQ(message.MessageParts.Count(), 1);
    EXPECT_EQ(FileContent(Attachment(0).StoredPath), "");
    EXPECT_THAT(Items(message.Body), ElementsAre("tail"));
}

TEST_F(Reader, UnknownSchemeFailsAndLeavesNoFile) {
    for (const std::string& first : {std::string(), std::string("{{{{")}) {
        message.Clear();
        auto e = Raised<EMailException>([&] { Read(CrLf({"", "text", "begin 644 a", first, "rest", "."})); });
        ASSERT_TRUE(e);
        EXPECT_EQ(e->Message(), "Unrecognized UUE encoding scheme.");
        EXPECT_FALSE(endReached);
        EXPECT_THAT(Items(message.Body), ElementsAre("text"));
        EXPECT_TRUE(message.MessageParts.Empty());
        EXPECT_THAT(FilesIn(ProcessTempDir()), IsEmpty());
    }
}

// --- single-part MIME bodies

TEST_F(Reader, Base64BodyBecomesOneTextPart) {
    Read(CrLf({"Content-Transfer-Encoding: BASE64", "", "aGVsbG8gd29y", "bGQNCnNlY29uZA==", "", "."}));
    EXPECT_TRUE(message.Body.Empty());
    ASSERT_EQ(message.MessageParts.Count(), 1);
    EXPECT_THAT(Items(Text(0).Body), ElementsAre("hello world", "second"));
    EXPECT_EQ(Text(0).ContentType(), "");
}

TEST_F(Reader, QuotedPrintableBodyIsDecodedWithTheTransferDotRemoved) {
    Read(CrLf({"Content-Type: text/plain", "Content-Transfer-Encoding: quoted-printable", "", "caf=E9 soft=",
                "break", "..dot line", "."}));
    ASSERT_EQ(message.MessageParts.Count(), 1);
    EXPECT_THAT(Items(Text(0).Body), ElementsAre("caf\xE9 softbreak", ".dot line"));
}

TEST_F(Reader, NamedSinglePartIsAnAttachment) {
    Read(CrLf({"Content-Type: application/pdf; name=\"r.pdf\"", "Content-Transfer-Encoding: base64", "",
                "JVBERg==", "."}));
    ASSERT_EQ(message.MessageParts.Count(), 1);
    EXPECT_EQ(Attachment(0).FileName, "r.pdf");
    EXPECT_EQ(FileContent(Attachment(0).StoredPath), "%PDF");
}

// --- multipart

TEST_F(Reader, MultipartMixedGivesPreambleTextAndAttachments) {
    Read(CrLf({"Content-Type: multipart/mixed; boundary=\"b1\"", "", "preamble", "--B1",
                "Content-Type: text/plain; charset=us-ascii", "", "hello", "..dot", "--b1",
                "Content-Type: application/octet-stream", "Content-Transfer-Encoding: base64",
                "Content-Disposition: attachment;", "\tfilename=\"a b.bin\"", "", "AAEC", "--b1",
                "Content-Type: application/octet-stream; name=c.bin", "Content-Transfer-Encoding: base64", "",
                "AwQF", "--b1", "Content-Type: image/png", "Content-Disposition: attachment; filename=d.png", "",
                "--b1--", "epilogue", "."}));
    EXPECT_THAT(Items(message.Body), ElementsAre("preamble", "epilogue"));
    ASSERT_EQ(message.MessageParts.Count(), 4);
    EXPECT_THAT(Items(Text(0).Body), ElementsAre("hello", ".dot"));
    EXPECT_EQ(Text(0).ContentType(), "text/plain; charset=us-ascii");
    EXPECT_EQ(Attachment(1).FileName, "a b.bin");
    EXPECT_EQ(Attachment(1).ContentDisposition(), "attachment; filename=\"a b.bin\"");
    EXPECT_EQ(FileContent(Attachment(1).StoredPath), std::string("\0\1\2", 3));
    EXPECT_EQ(Attachment(2).FileName, "c.bin");
    EXPECT_EQ(FileContent(Attachment(2).StoredPath), "\3\4\5");
    EXPECT_EQ(Attachment(3).FileName, "d.png");
    EXPECT_EQ(message.MIMEBoundary.Count(), 0);
}

TEST_F(Reader, NestedAlternativeIsFlattened) {
    Read(CrLf({"Content-Type: multipart/mixed; boundary=outer", "", "--outer",
                "Content-Type: multipart/alternative;", " boundary=\"inner\"", "", "--inner",
                "Content-Type: text/plain", "", "plain", "--inner", "Content-Type: text/html", "", "<p>html</p>",
                "--inner--", "", "--outer", "Content-Type: text/plain; name=n.txt", "", "file", "--outer--", "."}));
    ASSERT_EQ(message.MessageParts.Count(), 4);
    EXPECT_TRUE(Text(0).Body.Empty());  // the container, without preamble
    EXPECT_THAT(Items(Text(1).Body), ElementsAre("plain"));
    EXPECT_THAT(Items(Text(2).Body), ElementsAre("<p>html</p>"));
    EXPECT_EQ(Attachment(3).FileName, "n.txt");
    EXPECT_EQ(FileContent(Attachment(3).StoredPath), "file\r\n");
    EXPECT_THAT(Items(message.Body), ElementsAre(""));
}

TEST_F(Reader, EightBitMultipartTakesPartHeadersAsContent) {
    Read(CrLf({"Content-Type: multipart/mixed; boundary=b", "Content-Transfer-Encoding: 8bit", "", "--b",
                "Content-Type: text/plain", "", "text", "--b--", "."}));
    ASSERT_EQ(message.MessageParts.Count(), 1);
    EXPECT_THAT(Items(Text(0).Body), ElementsAre("Content-Type: text/plain", "", "text"));
}

TEST_F(Reader, MessageEndingInsidePartHeadersFailsAfterItsEnd) {
    auto e = Raised<EMailException>([&] {
        Read(CrLf({"Content-Type: multipart/mixed; boundary=b", "", "--b", "Content-Type: text/plain", "."}));
    });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "Unknown Message Part Type.");
    EXPECT_TRUE(endReached);
}

// --- hostile input

TEST_F(Reader, DeepNestingAndUnclosedBoundariesEndWithTheMessage) {
    std::string text = "Content-Type: multipart/mixed; boundary=b0\r\n\r\n";
    for (int i = 0; i < 1000; ++i)
        text += "--b" + std::to_string(i) + "\r\nContent-Type: multipart/mixed; boundary=b" + std::to_string(i + 1) +
                "\r\n\r\n";
    text += "deepest\r\n.\r\n";
    Read(text);
    EXPECT_TRUE(endReached);
    EXPECT_EQ(message.MessageParts.Count(), 1000);
    EXPECT_THAT(Items(Text(999).Body), ElementsAre("deepest"));
}

TEST_F(Reader, TooManyPartsAreRefused) {
    std::string text = "Content-Type: multipart/mixed; boundary=b\r\n\r\n";
    for (int i = 0; i < 20; ++i) text += "--b\r\nContent-Disposition: attachment\r\n\r\nx\r\n";
    text += ".\r\n";
    TMailReadLimits limits;
    limits.MaxParts = 5;
    auto e = Raised<EMailException>([&] { Read(text, limits); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "Too many message parts.");
    EXPECT_EQ(message.MessageParts.Count(), 5);
}

TEST_F(Reader, TooManyHeaderLinesAreRefused) {
    TMailReadLimits limits;
    limits.MaxHeaderLines = 3;
    Read(CrLf({"A: 1", "B: 2", "C: 3", "", "."}), limits);
    message.Clear();
    auto e = Raised<EMailHeaderTooLarge>([&] { Read(CrLf({"A: 1", "B: 2", "C: 3", "D: 4", "", "."}), limits); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "Message header longer than 3 lines.");
    EXPECT_EQ(TMailReadLimits().MaxHeaderLines, 100000);
}

TEST_F(Reader, AStreamThatEndsBeforeTheMessageRaisesAndDropsThePartialFile) {
    auto e = Raised<EMailEndOfStream>([&] { Read(CrLf({"", "begin 644 a", "#86)C"})); });
    ASSERT_TRUE(e);
    EXPECT_FALSE(endReached);
    EXPECT_TRUE(message.MessageParts.Empty());
}

TEST_F(Reader, AHeaderLineEndingAcrossTwoChunksDoesNotEndTheHeader) {
    const std::string subject = "Subject: " + std::string(2047 - 9, 's');
    Read(CrLf({subject, "From: a@example.jp", "", "body", "."}));
    EXPECT_THAT(Items(message.Headers), ElementsAre(subject, "From: a@example.jp"));
    EXPECT_THAT(Items(message.Body), ElementsAre("body"));
}

TEST_F(Reader, LongLinesAreCutAtTheLimitOnPlainStreams) {
    TMailReadLimits limits;
    limits.MaxLineLength = 10;
    Read(CrLf({"", std::string(25, 'x'), "."}), limits);
    EXPECT_THAT(Items(message.Body), ElementsAre(std::string(10, 'x'), std::string(10, 'x'), "xxxxx"));
}

// --- part classification

TEST(ClassifyPart, DispositionAndNamesDecideTheKindAndFileName) {
    TMailMessage message;
    TMailMessageDecoderMIME decoder(message);
    decoder.ClassifyPart("text/plain", "inline");
    EXPECT_EQ(decoder.PartKind, TMailPartKind::pkText);
    decoder.ClassifyPart("text/plain", "Attachment; filename=\"=?ISO-2022-JP?B?GyRCJEgkRiRiGyhC?=.txt\"");
    EXPECT_EQ(decoder.PartKind, TMailPartKind::pkAttachment);
    EXPECT_EQ(decoder.Filename, "とても.txt");
    decoder.ClassifyPart("application/x; name=\"unterminated", "");
    EXPECT_EQ(decoder.Filename, "unterminated");
    decoder.Filename.clear();
    decoder.ClassifyPart("application/x", "attachment");
    EXPECT_EQ(decoder.PartKind, TMailPartKind::pkAttachment);
    EXPECT_EQ(decoder.Filename, "");
}
