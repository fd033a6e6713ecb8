#include "app/cycle/SizeNotice.h"

#include <vector>

#include "message/Coders.h"
#include "message/HeaderCoding.h"
#include "message/HeaderUnicode.h"
#include "message/MailMessage.h"
#include "net/ReversePath.h"
#include "platform/Exception.h"
#include "platform/Locale.h"

namespace tarnwick {

namespace {

// Continuation lines line up under the values.
constexpr const char* kIndent = "        ";

std::string OrNone(const std::string& text) { return text.empty() ? std::string("(なし)") : text; }

// 1234567 -> "1,234,567"
std::string Grouped(int64_t value) {
    const std::string digits = IntToStr(value < 0 ? 0 : value);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

// A header value shown on one body line: line ends of a decoded value must not start new lines.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
    return text;
}

// Code page 932 characters that ISO-2022-JP lacks: the NEC row, the IBM extensions and the
// user-defined area.
bool OutsideJis(const std::string& cp932) {
    for (size_t i = 0; i < cp932.size(); ++i) {
        const auto b = static_cast<unsigned char>(cp932[i]);
        if (b == 0x87 || b == 0xED || b == 0xEE || b >= 0xF0) return true;
        if (IsLeadByte(b)) ++i;
    }
    return false;
}

// The text in code page 932 when every character has an ISO-2022-JP form.
bool InJis(const std::string& utf8, std::string& cp932) {
    return TryConvert("UTF-8", "CP932", utf8, cp932) && !OutsideJis(cp932);
}

// Splits a code page 932 line so that each piece, written in ISO-2022-JP, has at most limit
// octets: one octet for ASCII, two for any other character, three for each switch of character
// set and for the switch back at the end of a piece.
std::vector<std::string> WrapJis(const std::string& line, size_t limit) {
    std::vector<std::string> pieces;
    std::string piece;
    bool empty = true;  // no character in the piece yet (the indent aside)
    size_t octets = 0;
    bool doubleByte = false;
    for (size_t i = 0; i < line.size();) {
        const size_t bytes = IsLeadByte(line[i]) && i + 1 < line.size() ? 2 : 1;
        const bool twoOctets = static_cast<unsigned char>(line[i]) >= 0x80;
        const size_t cost = (twoOctets ? 2 : 1) + (twoOctets != doubleByte ? 3 : 0);
        if (!empty && octets + cost + (twoOctets ? 3 : 0) > limit) {
            pieces.push_back(piece);
            piece = kIndent;
            octets = piece.size();
            doubleByte = false;
            empty = true;
            continue;
        }
        piece.append(line, i, bytes);
        octets += cost;
        doubleByte = twoOctets;
        empty = false;
        i += bytes;
    }
    pieces.push_back(piece);
    return pieces;
}

// The same for UTF-8 text, by display width: one column for ASCII, two for any other character.
std::vector<std::string> WrapUtf8(const std::string& line, size_t limit) {
    std::vector<std::string> pieces;
    std::string piece;
    bool empty = true;
    size_t columns = 0;
    for (size_t i = 0; i < line.size();) {
        size_t bytes = 1;
        while (i + bytes < line.size() && (static_cast<unsigned char>(line[i + bytes]) & 0xC0) == 0x80) ++bytes;
        const size_t width = static_cast<unsigned char>(line[i]) < 0x80 ? 1 : 2;
        if (!empty && columns + width > limit) {
            pieces.push_back(piece);
            piece = kIndent;
            columns = piece.size();
            empty = true;
            continue;
        }
        piece.append(line, i, bytes);
        columns += width;
        empty = false;
        i += bytes;
    }
    pieces.push_back(piece);
    return pieces;
}

// Encoded words of at most 45 octets of whole UTF-8 characters each (RFC 2047), one blank apart.
std::string Utf8Words(const std::string& utf8) {
    std::string out;
    for (size_t at = 0; at < utf8.size();) {
        size_t end = std::min(utf8.size(), at + 45);
        while (end > at + 1 && end < utf8.size() && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) --end;
        out += (out.empty() ? "" : " ") + ("=?UTF-8?B?" + EncodeTextWith<TMailEncoderMIME>(utf8.substr(at, end - at)) + "?=");
        at = end;
    }
    return out;
}

// Base64 lines of 76 characters.
void AddBase64(const std::string& bytes, TStringList& body) {
    for (size_t at = 0; at < bytes.size(); at += 57) body.Add(EncodeTextWith<TMailEncoderMIME>(bytes.substr(at, 57)));
}

// The envelope sender follows the original's: its Return-Path when the SMTP client would take it,
// else its From; the null sender when it has no From, as an unknown sender is no one to bounce to.
void KeepEnvelope(const TMailMessage& original, TMailMessage& notice) {
    if (std::optional<std::string> path = ReturnPathAddress(original.Headers.GetHeaderValue("Return-Path")))
        notice.EnvelopeSender = *path;
    else
        notice.EnvelopeSender = original.From.Address;
}

}  // namespace

void ComposeSizeNotice(const TMailMessage& original, int64_t size, const std::string& forwardAddress,
                       TMailMessage& notice, const std::string& ownAddress) {
    notice.Clear();
    notice.NoEncode = false;
    KeepEnvelope(original, notice);
    if (original.From.Address.empty()) notice.From.Address = ownAddress.empty() ? forwardAddress : ownAddress;
    else notice.From.Assign(original.From);
    notice.Date = original.Date;
    notice.Recipients.Add().SetText(forwardAddress);
    notice.ContentType = "text/plain";
    notice.ExtraHeaders.Add("MIME-Version: 1.0");

    const std::string subjectUtf8 = DecodedSubjectUtf8(original);
    const std::string fromUtf8 = DecodeHeaderToUtf8(original.Headers.GetHeaderValue("From"));
    const std::string dateUtf8 = DecodeHeaderToUtf8(original.Headers.GetHeaderValue("Date"));
    const int64_t kilobytes = (size + 1023) / 1024;
    const std::string sizeLine = "サイズ: " + Grouped(kilobytes) + " KB (" + Grouped(size) + " バイト)";
    std::string subject, date, unused;
    if (InJis(subjectUtf8, subject) && InJis(fromUtf8, unused) && InJis(dateUtf8, date)) {
        notice.Subject = SizeNoticeSubjectTag + subject;
        notice.CharSet = "ISO-2022-JP";
        notice.ContentTransferEncoding = "7bit";
        for (const std::string& line : {std::string("大きすぎるため転送しなかったメールがあります。"), std::string(),
                                        "差出人: " + OrNone(OneLine(original.From.Text())), "日付:   " + OrNone(date),
                                        "件名:   " + OrNone(subject), sizeLine})
            for (const std::string& piece : WrapJis(line, SizeNoticeLineLimit)) notice.Body.Add(piece);
        return;
    }
    // Characters ISO-2022-JP lacks (an emoji, an accent, 髙, ①) are kept in UTF-8.
    notice.Subject = Utf8Words(Cp932ToUtf8(SizeNoticeSubjectTag) + subjectUtf8);
    notice.CharSet = "UTF-8";
    notice.ContentTransferEncoding = "base64";
    const std::string none = Cp932ToUtf8("(なし)");
    std::string text;
    for (const std::string& line :
         {Cp932ToUtf8("大きすぎるため転送しなかったメールがあります。"), std::string(),
          Cp932ToUtf8("差出人: ") + (fromUtf8.empty() ? none : fromUtf8),
          Cp932ToUtf8("日付:   ") + (dateUtf8.empty() ? none : dateUtf8),
          Cp932ToUtf8("件名:   ") + (subjectUtf8.empty() ? none : subjectUtf8), Cp932ToUtf8(sizeLine)})
        for (const std::string& piece : WrapUtf8(line, SizeNoticeLineLimit)) text += piece + "\r\n";
    AddBase64(text, notice.Body);
}

void SetShortText(TMailMessage& message, const std::string& subjectUtf8, const std::vector<std::string>& linesUtf8) {
    message.ContentType = "text/plain";
    std::string subject;
    std::vector<std::string> lines(linesUtf8.size());
    bool jis = InJis(subjectUtf8, subject);
    for (size_t i = 0; jis && i < linesUtf8.size(); ++i) jis = InJis(linesUtf8[i], lines[i]);
    if (jis) {
        message.Subject = subject;
        message.CharSet = "ISO-2022-JP";
        message.ContentTransferEncoding = "7bit";
        for (const std::string& line : lines)
            for (const std::string& piece : WrapJis(line, SizeNoticeLineLimit)) message.Body.Add(piece);
        return;
    }
    message.Subject = Utf8Words(subjectUtf8);
    message.CharSet = "UTF-8";
    message.ContentTransferEncoding = "base64";
    std::string text;
    for (const std::string& line : linesUtf8)
        for (const std::string& piece : WrapUtf8(line, SizeNoticeLineLimit)) text += piece + "\r\n";
    AddBase64(text, message.Body);
}

}  // namespace tarnwick
