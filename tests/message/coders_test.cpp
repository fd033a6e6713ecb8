#include <gtest/gtest.h>

#include <string>

#include "message/Coders.h"

namespace tarnwick {
namespace {

template <class Decoder>
std::string Decode(std::string_view text) {
    Decoder decoder;
    TMemoryStream out;
    decoder.DecodeIntoStream(text, out);
    return out.Data();
}

std::string AllBytes() {
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
    return bytes;
}

// Encodes data line by line, as the message writer does, and decodes the lines again.
template <class Encoder, class Decoder>
std::string RoundTrip(const std::string& data, int64_t lineBytes, size_t maxLine) {
    TMailReadMemoryStream source(data);
    Encoder encoder;
    Decoder decoder;
    TMemoryStream decoded;
    while (source.Position() < source.Size()) {
        const std::string line = encoder.EncodeFromStream(source, lineBytes);
        EXPECT_LE(line.size(), maxLine);
        decoder.DecodeIntoStream(line, decoded);
    }
    return decoded.Data();
}

TEST(Base64, EncodesGroupsAndPadding) {
    EXPECT_EQ("", EncodeTextWith<TMailEncoderMIME>(""));
    EXPECT_EQ("TWFu", EncodeTextWith<TMailEncoderMIME>("Man"));
    EXPECT_EQ("TWE=", EncodeTextWith<TMailEncoderMIME>("Ma"));
    EXPECT_EQ("TQ==", EncodeTextWith<TMailEncoderMIME>("M"));
    EXPECT_EQ("dXNlcg==", EncodeTextWith<TMailEncoderMIME>("user"));
    EXPECT_EQ("//79", EncodeTextWith<TMailEncoderMIME>("\xff\xfe\xfd"));
}

TEST(Base64, DecodesGroupsAndPadding) {
    EXPECT_EQ("Man", Decode<TMailDecoderMIME>("TWFu"));
    EXPECT_EQ("Ma", Decode<TMailDecoderMIME>("TWE="));
    EXPECT_EQ("M", Decode<TMailDecoderMIME>("TQ=="));
    EXPECT_EQ("", Decode<TMailDecoderMIME>(""));
}

TEST(LineCoders, RoundTripEveryByte) {
    const std::string data = AllBytes() + AllBytes() + "x";
    EXPECT_EQ(data, (RoundTrip<TMailEncoderMIME, TMailDecoderMIME>(data, 57, 76)));
    EXPECT_EQ(data, (RoundTrip<TMailEncoderUUE, TMailDecoderUUE>(data, 45, 61)));
    EXPECT_EQ(data, (RoundTrip<TMailEncoderXXE, TMailDecoderXXE>(data, 45, 61)));
}

TEST(Base64, UnevenTextFailsAndWritesNothing) {
    TMailDecoderMIME decoder;
    TMemoryStream out;
    try {
        decoder.DecodeIntoStream("TWFuT", out);
        FAIL() << "no exception";
    } catch (const EMailException& e) {
        EXPECT_EQ("Uneven size in DecodeToStream.", e.Message());
    }
    EXPECT_EQ(0, out.Size());
}

TEST(Base64, ByteLimitMustBeWholeGroups) {
    TMailEncoderMIME encoder;
    TMailReadMemoryStream source(std::string_view("abcdefg"));
    try {
        encoder.EncodeFromStream(source, 4);
        FAIL() << "no exception";
    } catch (const EMailException& e) {
        EXPECT_EQ("Uneven size in Encode.", e.Message());
    }
    EXPECT_EQ("YWJj", encoder.EncodeFromStream(source, 3));
    EXPECT_EQ("ZGVmZw==", encoder.EncodeFromStream(source, MailNoByteLimit));
    EXPECT_EQ("", encoder.EncodeFromStream(source, MailNoByteLimit));
}

TEST(Base64, ForeignCharactersGarbleInsteadOfFailing) {
    // Nothing is rejected; out-of-table characters spoil their group's bits.
    EXPECT_EQ(3u, Decode<TMailDecoderMIME>("T!Fu").size());
    EXPECT_EQ(3u, Decode<TMailDecoderMIME>(std::string_view("\0\x80\xff~", 4)).size());
}

TEST(UUEncode, LinesCarryTheirByteCount) {
    EXPECT_EQ("#0V%T", EncodeTextWith<TMailEncoderUUE>("Cat"));
    EXPECT_EQ("!80``", EncodeTextWith<TMailEncoderUUE>("a"));
    EXPECT_EQ("`", EncodeTextWith<TMailEncoderUUE>(""));
    const std::string line = EncodeTextWith<TMailEncoderUUE>(std::string(45, 'x'));
    EXPECT_EQ('M', line[0]);
    EXPECT_EQ(61u, line.size());
}

TEST(UUEncode, DecodesToTheAnnouncedLength) {
    EXPECT_EQ("Cat", Decode<TMailDecoderUUE>("#0V%T"));
    EXPECT_EQ("a", Decode<TMailDecoderUUE>("!80``"));
    EXPECT_EQ("a", Decode<TMailDecoderUUE>("!80xxxxxxxx"));  // beyond the count is ignored
    EXPECT_EQ("a", Decode<TMailDecoderUUE>("!80  "));       // spaces mean zero
    EXPECT_EQ("", Decode<TMailDecoderUUE>(""));
    EXPECT_EQ("", Decode<TMailDecoderUUE>("`"));
}

TEST(UUEncode, ShortLineIsPaddedWithZeros) {
    EXPECT_EQ(std::string("C`\0", 3), Decode<TMailDecoderUUE>("#0V"));
    EXPECT_EQ(std::string(3, '\0'), Decode<TMailDecoderUUE>("#"));
    // A count character outside the table still decodes to a bounded line.
    EXPECT_EQ(255u, Decode<TMailDecoderUUE>("a").size());
}

TEST(UUEncode, OverlongLineIsRefused) {
    TMailEncoderUUE encoder;
    EXPECT_THROW(encoder.EncodeText(std::string(64, 'x')), EMailException);
    EXPECT_NO_THROW(encoder.EncodeText(std::string(63, 'x')));
}

TEST(XXEncode, LinesCarryTheirByteCount) {
    EXPECT_EQ("1Eq3o", EncodeTextWith<TMailEncoderXXE>("Cat"));
    EXPECT_EQ("-ME++", EncodeTextWith<TMailEncoderXXE>("a"));
    const std::string line = EncodeTextWith<TMailEncoderXXE>(std::string(45, 'x'));
    EXPECT_EQ('h', line[0]);
    EXPECT_EQ("Cat", Decode<TMailDecoderXXE>("1Eq3o"));
    EXPECT_EQ("a", Decode<TMailDecoderXXE>("-ME++"));
}

TEST(QuotedPrintableDecode, EscapesAndSoftBreaks) {
    EXPECT_EQ("a=b", Decode<TMailDecoderQuotedPrintable>("a=3Db"));
    EXPECT_EQ("\xe9t\xe9", Decode<TMailDecoderQuotedPrintable>("=E9t=e9"));
    EXPECT_EQ("joined line\r\n", Decode<TMailDecoderQuotedPrintable>("joined =\r\nline\r\n"));
    EXPECT_EQ("soft\n", Decode<TMailDecoderQuotedPrintable>("so=\nft\n"));
    // An encoded space before a line break keeps both.
    EXPECT_EQ("end \r\nnext", Decode<TMailDecoderQuotedPrintable>("end=20\r\nnext"));
    EXPECT_EQ("end \r\nnext", Decode<TMailDecoderQuotedPrintable>("end=20\nnext"));
}


TEST(QuotedPrintableDecode, MalformedEscapes) {
    EXPECT_EQ("\x04q", Decode<TMailDecoderQuotedPrintable>("=4q"));  // one digit, then a letter
    EXPECT_EQ("q", Decode<TMailDecoderQuotedPrintable>("=q"));       // "=" before a non-digit vanishes
    EXPECT_EQ("abc", Decode<TMailDecoderQuotedPrintable>("abc="));
    EXPECT_EQ("", Decode<TMailDecoderQuotedPrintable>("="));
    EXPECT_EQ("\x0f", Decode<TMailDecoderQuotedPrintable>("=F"));
}

TEST(QuotedPrintableDecode, TrailingBlanksGoButLineBreaksStay) {
    EXPECT_EQ("abc\r\n", Decode<TMailDecoderQuotedPrintable>("abc \t \r\n"));
    EXPECT_EQ("abc\r\n", Decode<TMailDecoderQuotedPrintable>("abc \r \n  "));
    EXPECT_EQ("a b", Decode<TMailDecoderQuotedPrintable>("a b   "));
    TMailDecoderQuotedPrintable decoder;
    TMemoryStream out;
    decoder.DecodeIntoStream("   ", out);
    EXPECT_EQ(0, out.Size());
}

TEST(QuotedPrintableEncode, LongLinesGetSoftBreaks) {
    const std::string letters(100, 'a');
    EXPECT_EQ(std::string(72, 'a') + "=\r\n" + std::string(28, 'a'),
              EncodeTextWith<TMailEncoderQuotedPrintable>(letters));
    // An escape is never split by the soft break.
    EXPECT_EQ(std::string(71, 'a') + "=E9=\r\nb",
              EncodeTextWith<TMailEncoderQuotedPrintable>(std::string(71, 'a') + "\xe9" + "b"));
}

TEST(QuotedPrintableEncode, NoSoftBreakDanglesAtTheEnd) {
    // A soft break with nothing after it would join whatever the caller writes next.
    EXPECT_EQ(std::string(72, 'a'), EncodeTextWith<TMailEncoderQuotedPrintable>(std::string(72, 'a')));
    const std::string line = std::string(70, 'a') + "\r\n";
    EXPECT_EQ(line, EncodeTextWith<TMailEncoderQuotedPrintable>(line));
    // Lines written one after another still decode to the lines.
    const std::string next = "DEAD beef\r\n";
    const std::string wire = EncodeTextWith<TMailEncoderQuotedPrintable>(line) +
                             EncodeTextWith<TMailEncoderQuotedPrintable>(next);
    EXPECT_EQ(line + next, Decode<TMailDecoderQuotedPrintable>(wire));
    const std::string longer = std::string(71, 'a') + "\r\n";
    EXPECT_EQ(longer, Decode<TMailDecoderQuotedPrintable>(EncodeTextWith<TMailEncoderQuotedPrintable>(longer)));
}

TEST(QuotedPrintableEncode, EscapesWhatIsNotPrintable) {
    EXPECT_EQ("=E9", EncodeTextWith<TMailEncoderQuotedPrintable>("\xe9"));
    EXPECT_EQ("a=3Db", EncodeTextWith<TMailEncoderQuotedPrintable>("a=b"));
    EXPECT_EQ("a=20\r\nb", EncodeTextWith<TMailEncoderQuotedPrintable>("a \r\nb"));
    EXPECT_EQ("a=09\nb", EncodeTextWith<TMailEncoderQuotedPrintable>("a\t\nb"));
    EXPECT_EQ("a b\r\n", EncodeTextWith<TMailEncoderQuotedPrintable>("a b\r\n"));
    EXPECT_EQ("=00=7F=80", EncodeTextWith<TMailEncoderQuotedPrintable>(std::string("\0\x7f\x80", 3)));
    EXPECT_EQ("", EncodeTextWith<TMailEncoderQuotedPrintable>(""));
}


TEST(QuotedPrintable, RoundTripsEveryByte) {
    const std::string data = AllBytes() + "x";
    const std::string encoded = EncodeTextWith<TMailEncoderQuotedPrintable>(data);
    EXPECT_EQ(data, Decode<TMailDecoderQuotedPrintable>(encoded));
}

}  // namespace
}  // namespace tarnwick
