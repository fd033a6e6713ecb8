#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "message/MailGlobal.h"
#include "message/MailMessage.h"
#include "message/MessageEncoderInfo.h"
#include "platform/Exception.h"
#include "platform/Streams.h"

namespace tarnwick {
namespace {

void SetHeaders(TMailMessage& message, std::initializer_list<const char*> lines) {
    for (const char* line : lines) message.Headers.Add(line);
    message.LoadHeaderFields();
}

std::vector<std::string> Names(const TMailHeaderList& list) {
    std::vector<std::string> names;
    for (int i = 0; i < list.Count(); ++i)
        if (!list[i].empty() && list[i][0] != ' ' && list[i][0] != '\t') names.push_back(list.LineName(i));
    return names;
}

std::string TempFileWith(const std::string& content) {
    std::string path = NewTempFileName("");
    TFileStream file(path, TFileStream::fmCreate);
    file.WriteString(content);
    return path;
}

TEST(MessageLifecycle, ClearResetsFieldsButKeepsTheSwitches) {
    TMailMessage message;
    message.NoEncode = true;
    message.SetEncoding(TMailMessageEncoding::meUU);
    SetHeaders(message, {"From: A <a@b.c>", "To: x@y.z", "Cc: c@d.e", "Subject: hi", "Message-Id: <id@host>",
                         "Date: Fri, 7 Sep 2001 12:00:00 +0900", "X-Priority: 1",
                         "Content-Type: multipart/mixed; boundary=\"abc\""});
    message.Body.Add("line");
    message.MessageParts.Add<TMailText>();
    message.Flags.set(static_cast<size_t>(TMailMessageFlag::mfSeen));

    message.Clear();
    EXPECT_TRUE(message.NoEncode);
    EXPECT_EQ(message.AttachmentEncoding(), "UUE");
    EXPECT_EQ(message.MessageId, "<id@host>");
    EXPECT_TRUE(message.UseNowForDate());
    EXPECT_EQ(message.Priority, TMailMessagePriority::mpNormal);
    EXPECT_TRUE(message.Headers.Empty() && message.Body.Empty() && message.MessageParts.Empty());
    EXPECT_TRUE(message.Recipients.Empty() && message.CCList.Empty() && message.Flags.none());
    EXPECT_EQ(message.From.Text() + message.Subject + message.MIMEBoundary.Boundary(), "");
}

TEST(MessageLifecycle, ClearDeletesOwnedAttachmentFilesOnly) {
    std::string owned = TempFileWith("owned");
    std::string kept = TempFileWith("kept");
    {
        TMailMessage message;
        message.MessageParts.Add<TMailAttachment>(owned).OwnsFile = true;
        message.MessageParts.Add<TMailAttachment>(kept);
        message.Clear();
        EXPECT_FALSE(FileExists(owned));
        EXPECT_TRUE(FileExists(kept));
        message.MessageParts.Add<TMailAttachment>(kept).OwnsFile = true;
        message.MessageParts.Delete(0);
    }
    EXPECT_FALSE(FileExists(kept));
}

TEST(MessageEncodingSettings, EncodingDrivesTheAttachmentEncoder) {
    TMailMessage message;
    message.SetEncoding(TMailMessageEncoding::meUU);
    EXPECT_EQ(message.AttachmentEncoding(), "UUE");
    message.SetAttachmentEncoding("xxe");
    EXPECT_EQ(message.AttachmentEncoding(), "xxe");
    try {
        message.SetAttachmentEncoding("BinHex");
        FAIL() << "no error";
    } catch (const EMailException& e) {
        EXPECT_EQ(e.Message(), "Message encoder not found: BinHex");
    }
    EXPECT_EQ(message.AttachmentEncoding(), "xxe");
    EXPECT_EQ(&message.MessageParts.EncoderInfo(), &FindEncoder("XXE"));
}

TEST(HeaderFieldLoading, CharsetFromContentType) {
    TMailMessage message;
    message.ContentType = "text/plain; charset=iso-2022-jp";
    EXPECT_EQ(message.CharsetFromContentType(), "ISO-2022-JP");
    message.ContentType = "text/plain; charset=\"shift_jis\"; format=flowed";
    EXPECT_EQ(message.CharsetFromContentType(), "SHIFT_JIS");
    message.ContentType = "text/plain";
    EXPECT_EQ(message.CharsetFromContentType(), "");
    message.ContentType = "text/plain; charset=\"unclosed";
    EXPECT_EQ(message.CharsetFromContentType(), "UNCLOSED");
}

TEST(HeaderFieldLoading, BoundaryIsPushedOnceInUpperCase) {
    TMailMessage message;
    SetHeaders(message, {"Content-Type: multipart/mixed;", "\tboundary=\"abc\""});
    EXPECT_EQ(message.MIMEBoundary.Boundary(), "ABC");
    message.LoadHeaderFields();
    EXPECT_EQ(message.MIMEBoundary.Count(), 1);
    EXPECT_EQ(TMailMessage::ExtractBoundary("multipart/mixed; boundary=xy;z"), "XY;Z");
    EXPECT_EQ(TMailMessage::ExtractBoundary("text/plain"), "");
}

TEST(HeaderFieldLoading, Priority) {
    using P = TMailMessagePriority;
    EXPECT_EQ(TMailMessage::PriorityFromText("1 (Highest)"), P::mpHighest);
    EXPECT_EQ(TMailMessage::PriorityFromText("high"), P::mpNormal);
    EXPECT_EQ(TMailMessage::PriorityFromText("Non-Priority"), P::mpLow);
    // Numbers outside 1 to 5 name no priority.
    EXPECT_EQ(TMailMessage::PriorityFromText("0"), P::mpNormal);
    EXPECT_EQ(TMailMessage::PriorityFromText("9"), P::mpNormal);

    TMailMessage message;
    SetHeaders(message, {"X-Priority: 5", "Priority: URGENT"});
    EXPECT_EQ(message.Priority, P::mpHigh);
}

TEST(HeaderFieldLoading, FieldsFromReceivedLines) {
    TMailMessage message;
    SetHeaders(message, {"Received: from somewhere", "From: =?ISO-2022-JP?B?GyRCJEgkYRsoQg==?= <taro@example.jp>",
                         "To: a@x.com,", " \"Doe, John\" <john@example.com>", "Cc: Group: c@d.e, f@g.h;",
                         "Subject: =?ISO-8859-1?Q?Caf=E9_au_lait?=", "Newsgroups: comp.lang, \"odd, group\",, misc", "Reply-To: r@s.t",
                         "Return-Receipt-To: rr@s.t", "Sender: Snd <snd@s.t>",
                         "Content-Type: text/plain; charset=ISO-2022-JP",
                         "Date: Fri, 7 Sep 2001 12:34:56 +0900"});
    EXPECT_EQ(message.From.Name, "\x82\xc6\x82\xdf");  // the two kana of the encoded word
    EXPECT_EQ(message.From.Address, "taro@example.jp");
    ASSERT_EQ(message.Recipients.Count(), 2);
    EXPECT_EQ(message.Recipients[1].Name, "Doe, John");
    ASSERT_EQ(message.CCList.Count(), 2);
    EXPECT_EQ(message.CCList[1].Address, "f@g.h");
    EXPECT_EQ(message.Subject, "Caf〓 au lait");  // é has no place in code page 932
    ASSERT_EQ(message.NewsGroups.Count(), 3);
    EXPECT_EQ(message.NewsGroups[1], "\"odd, group\"");
    EXPECT_EQ(message.ReplyTo[0].Address, "r@s.t");
    EXPECT_EQ(message.ReceiptRecipient.Address, "rr@s.t");
    EXPECT_EQ(message.Sender.Name, "Snd");
    EXPECT_EQ(message.CharSet, "ISO-2022-JP");
    EXPECT_EQ(message.Date, InternetDateToLocal("Fri, 7 Sep 2001 12:34:56 +0900"));
    EXPECT_FALSE(message.UseNowForDate());
    EXPECT_EQ(message.Headers.Count(), 12);  // not changed by loading
}

TEST(MalformedHeaders, BadAddressFieldKeepsWhatParsedAndLoadingGoesOn) {
    TMailMessage message;
    EXPECT_NO_THROW(SetHeaders(message, {"From: <first@a.com> second@b.com", "To: x@y.z, <a@b.c> d@e.f, q@r.s",
                                         "Cc: <c@c.c> e@e.e", "Reply-To: <r@r.r> s@s.s", "Sender: <s@a.b> t@c.d",
                                         "Disposition-Notification-To: <n@a.b> m@c.d", "Subject: still read",
                                         "X-Priority: 1"}));
    EXPECT_EQ(message.From.Address, "first@a.com");
    ASSERT_EQ(message.Recipients.Count(), 2);
    EXPECT_EQ(message.Recipients[0].Address, "x@y.z");
    EXPECT_EQ(message.Recipients[1].Address, "a@b.c");
    ASSERT_EQ(message.CCList.Count(), 1);
    EXPECT_EQ(message.CCList[0].Address, "c@c.c");
    EXPECT_EQ(message.ReplyTo[0].Address, "r@r.r");
    EXPECT_EQ(message.Sender.Address, "s@a.b");
    EXPECT_EQ(message.ReceiptRecipient.Address, "n@a.b");
    EXPECT_EQ(message.Subject, "still read");
    EXPECT_EQ(message.Priority, TMailMessagePriority::mpHighest);
}

TEST(MalformedHeaders, BadDateEncodedWordsAndContentTypeDoNotRaise) {
    TMailMessage message;
    EXPECT_NO_THROW(SetHeaders(message, {"Date: 31 Feb 2001 99:99:99 +9999", "Subject: =?ISO-8859-1?Q?bad=ZZ?=",
                                         "Content-Type: multipart/mixed; boundary=\"", "X-Priority: lots",
                                         "To: =?ISO-8859-1?Q?x=Z?= <to@x.y>"}));
    EXPECT_EQ(message.Date, 0);
    EXPECT_TRUE(message.UseNowForDate());
    EXPECT_NE(message.Subject.find("bad"), std::string::npos);
    EXPECT_EQ(message.MIMEBoundary.Boundary(), "");
    EXPECT_EQ(message.Priority, TMailMessagePriority::mpNormal);
    ASSERT_EQ(message.Recipients.Count(), 1);
    EXPECT_EQ(message.Recipients[0].Address, "to@x.y");

    message.Clear();
    SetHeaders(message, {"Subject: no date"});
    EXPECT_EQ(message.Date, 0);
}

TEST(HeaderGeneration, FreshMessageWritesOnlyWhatIsSet) {
    TMailMessage message;
    message.Subject = "Hello";
    message.Recipients.ParseAddresses("to@example.com");
    auto lines = message.BuildHeaderLines();
    EXPECT_EQ(Names(*lines), (std::vector<std::string>{"SUBJECT", "TO", "DATE", "X-PRIORITY", "X-LIBRARY"}));
    EXPECT_EQ(lines->GetHeaderValue("X-Priority"), "3");
    EXPECT_EQ(lines->GetHeaderValue("X-Library"), "Tarnwick 1.01");
}

TEST(HeaderGeneration, ReceivedLinesKeepTheirPlace) {
    TMailMessage message;
    SetHeaders(message, {"Received: by relay", "Subject: old", " subject tail", "X-Custom: keep me",
                         "To: a@b.c", "MIME-Version: 1.0", "Date: Fri, 7 Sep 2001 12:34:56 +0900"});
    message.Subject = "new";
    message.ExtraHeaders.Add("X-Mailer: test");
    auto lines = message.BuildHeaderLines();
    EXPECT_EQ((*lines)[0], "Received: by relay");
    EXPECT_EQ((*lines)[1], "Subject: new");
    EXPECT_EQ((*lines)[2], "X-Custom: keep me");
    EXPECT_EQ((*lines)[3], "To: a@b.c");
    EXPECT_EQ((*lines)[4], "MIME-Version: 1.0");  // not set without parts, so left alone
    EXPECT_EQ(lines->LineName(5), "DATE");
    EXPECT_EQ((*lines)[lines->Count() - 1], "X-Mailer: test");
    EXPECT_EQ((*lines)[lines->Count() - 2], "X-Library: Tarnwick 1.01");
    EXPECT_EQ(message.Headers[1], "Subject: old");  // the message's own lines are untouched
}

TEST(HeaderGeneration, MimeContentTypeFromParts) {
    TMailMessage message;
    message.MessageParts.Add<TMailAttachment>("/tmp/file.bin");
    message.CharSet = "ISO-2022-JP";
    auto lines = message.BuildHeaderLines();
    EXPECT_EQ(message.ContentType, "multipart/mixed; boundary=\"=_NextPart_2rfktarnsadvnqw3nerasdf\";\r\n\t"
                                   "charset=\"ISO-2022-JP\"");
    EXPECT_EQ(lines->GetHeaderValue("Content-Type"),
              "multipart/mixed; boundary=\"=_NextPart_2rfktarnsadvnqw3nerasdf\"; charset=\"ISO-2022-JP\"");
    EXPECT_EQ(lines->GetHeaderValue("MIME-Version"), "1.0");
    for (int i = 0; i < lines->Count(); ++i) EXPECT_FALSE((*lines)[i].empty());

    TMailMessage related;
    related.MessageParts.Add<TMailAttachment>().ExtraHeaders.SetHeaderValue("Content-ID", "<img1>");
    related.MessageParts.Add<TMailText>();
    related.BuildHeaderLines();
    EXPECT_EQ(related.ContentType, "multipart/related; type=\"multipart/alternative\"; "
                                   "boundary=\"=_NextPart_2relrfksadvnqtarnw3nerasdf\"");
    EXPECT_EQ(related.MessageParts.RelatedCount + related.MessageParts.TextCount, 2);
}

TEST(HeaderGeneration, UuRefusesTextParts) {
    TMailMessage message;
    message.SetEncoding(TMailMessageEncoding::meUU);
    message.MessageParts.Add<TMailAttachment>();
    EXPECT_NO_THROW(message.BuildHeaderLines());
    message.MessageParts.Add<TMailText>();
    try {
        message.BuildHeaderLines();
        FAIL() << "no error";
    } catch (const EMailMessageException& e) {
        EXPECT_EQ(e.Message(), "Invalid Encoding. UU only allows Body and Attachments");
    }
}

TEST(HeaderGeneration, InitializeIsoHandlerChoosesTheCharset) {
    TMailMessage message;
    message.Subject = "\x83\x5C";
    bool called = false;
    message.OnInitializeISO = [&](TTransfer& transfer, char& letter, std::string& charset) {
        called = true;
        EXPECT_EQ(charset, "ISO-2022-JP");
        transfer = TTransfer::bit8;
        letter = 'Q';
        charset = "SHIFT_JIS";
    };
    auto lines = message.BuildHeaderLines();
    EXPECT_TRUE(called);
    EXPECT_EQ(lines->GetHeaderValue("Subject"), "=?SHIFT_JIS?Q?=83\\?=");
}

TEST(HeaderGeneration, AddressHeadersAndFixedDate) {
    TMailMessage message;
    message.From.SetText("Me <me@example.com>");
    message.Sender.SetText("J. Doe <jd@example.com>");
    message.NewsGroups.Add("comp.lang");
    message.NewsGroups.Add("odd group");
    message.Priority = TMailMessagePriority::mpLowest;
    message.Date = EncodeDate(2026, 12, 6) + EncodeTime(21, 5, 9, 0);
    auto lines = message.BuildHeaderLines();
    EXPECT_EQ(lines->GetHeaderValue("From"), "\"Me\" <me@example.com>");
    EXPECT_EQ(lines->GetHeaderValue("Sender"), "\"J. Doe\" <jd@example.com>");
    EXPECT_EQ(lines->GetHeaderValue("Newsgroups"), "comp.lang,\"odd group\"");
    EXPECT_EQ(lines->GetHeaderValue("X-Priority"), "5");
    EXPECT_EQ(lines->GetHeaderValue("Date").rfind("Sun, 6 Dec 2026 21:05:09 ", 0), 0u);
}

TEST(MessageParts, BaseClassCannotBeMade) {
    try {
        TMailMessagePart part;
        FAIL() << "no error";
    } catch (const EMailCanNotCreateMessagePart& e) {
        EXPECT_EQ(e.Message(), "TMailMessagePart can not be created.  Use descendant classes. ");
    }
}

TEST(MessageParts, AssignCopiesWithinTheSameClassOnly) {
    TStringList body;
    body.Add("hello");
    TMailText source(body), target;
    source.SetContentType("text/html");
    target.Assign(source);
    EXPECT_EQ(target.ContentType() + "|" + target.Body.Text(), "text/html|hello\r\n");

    TMailAttachment file("/some/dir/report.pdf"), copy;
    file.SetContentDisposition("attachment");
    copy.Assign(file);
    EXPECT_EQ(copy.FileName + "|" + copy.ContentDisposition(), "report.pdf|attachment");
    EXPECT_EQ(copy.StoredPath, "");  // the file stays with its one owner
    EXPECT_THROW(copy.Assign(source), EConvertError);
}

class RecordingEncoder : public TMailMessageEncoder {
public:
    void EncodeContent(TStream& source, TStream& destination) override {
        std::string bytes(static_cast<size_t>(source.Size()), '\0');
        source.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
        destination.WriteString("[" + Filename + "|" + std::to_string(PermissionCode) + "|" + bytes + "]");
    }
};

TEST(EncoderRegistry, StartupEncodersAndTheMakerHook) {
    EXPECT_EQ(FindEncoder("mime").Name(), "MIME");
    EXPECT_EQ(FindEncoder("UUE").Name(), "UUE");
    EXPECT_EQ(FindEncoder("xXe").Name(), "XXE");
    EXPECT_THROW(FindEncoder("none"), EMailException);

    TMailMessageEncoderInfo& uue = FindEncoder("UUE");
    auto previous = uue.EncoderFactory();
    uue.SetEncoderFactory(nullptr);
    EXPECT_THROW(uue.CreateEncoder(), EMailException);
    uue.SetEncoderFactory([]() -> std::unique_ptr<TMailMessageEncoder> { return std::make_unique<RecordingEncoder>(); });

    TMailMessage message;
    message.SetEncoding(TMailMessageEncoding::meUU);
    std::string path = TempFileWith("payload");
    TMailAttachment& part = message.MessageParts.Add<TMailAttachment>(path);
    part.OwnsFile = true;
    part.FileName = "notes.txt";
    TMemoryStream out;
    part.SaveContentTo(out);
    EXPECT_EQ(out.Data(), "[notes.txt|660|payload]");

    part.StoredPath = path + ".missing";
    part.OwnsFile = false;
    EXPECT_THROW(part.SaveContentTo(out), EFOpenError);
    uue.SetEncoderFactory(previous);
    DeleteFile(path);
}

}  // namespace
}  // namespace tarnwick
