// RFC 2047 encoded words of received header values as UTF-8 (RFC 3629), with RFC 2231 languages.
#include "message/HeaderUnicode.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "message/HeaderCoding.h"
#include "message/MailMessage.h"
#include "platform/Exception.h"
#include "platform/Locale.h"

namespace tarnwick {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
// RFC 2047 allows 75 characters for a whole word; a longer charset name is no word.
constexpr size_t kMaxCharset = 75;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The code point of the well-formed UTF-8 sequence at i and its length; length 0 when the bytes
// there are no such sequence (overlong forms and surrogates included).
size_t Utf8At(std::string_view text, size_t i, char32_t& code) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    size_t length;
    char32_t min;
    if (b < 0x80) {
        code = b;
        return 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
        length = 2, code = b & 0x1F, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3, code = b & 0x0F, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4, code = b & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - i < length) return 0;
    for (size_t k = 1; k < length; ++k) {
        const unsigned char t = static_cast<unsigned char>(text[i + k]);
        if ((t & 0xC0) != 0x80) return 0;
        code = (code << 6) | (t & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

}  // namespace

bool IsUtf8(std::string_view text) {
    char32_t code;
    for (size_t i = 0, n; i < text.size(); i += n)
        if ((n = Utf8At(text, i, code)) == 0) return false;
    return true;
}

namespace {

// Valid UTF-8 on one line: a log line or a caption must not be split or faked by a header.
std::string OneLine(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    char32_t code;
    for (size_t i = 0, n; i < text.size(); i += n) {
        n = Utf8At(text, i, code);
        if (n == 0) {
            out += kReplacement;
            n = 1;
        } else if (code == '\r' || code == '\n' || code == '\t') {
            out += ' ';
        } else if (code < 0x20 || (code >= 0x7F && code <= 0x9F)) {
            out += kReplacement;
        } else {
            out.append(text, i, n);
        }
    }
    return out;
}

std::string JisToUtf8(const std::string& bytes) {
    std::string out;
    if (TryConvert("ISO-2022-JP", "UTF-8", bytes, out)) return out;
    // Mail from Windows puts the NEC and IBM extensions of code page 932 into ISO-2022-JP.
    return Cp932ToUtf8(JisToShiftJis(bytes));
}

bool HasJisEscape(std::string_view text) {
    return text.find("\x1b$") != std::string_view::npos || text.find("\x1b(") != std::string_view::npos;
}

// Header text outside encoded words.
std::string RawToUtf8(std::string_view text, bool utf8) {
    if (HasJisEscape(text) && IsAscii(text)) return JisToUtf8(std::string(text));
    if (utf8 || IsAscii(text)) return std::string(text);
    return Cp932ToUtf8(text);
}

// The iconv name for a charset label as mail uses it; empty for a label that cannot be one.
std::string IconvName(std::string_view label) {
    if (label.empty() || !std::all_of(label.begin(), label.end(), [](char c) {
            return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                   std::string_view("-_.:+").find(c) != std::string_view::npos;
        }))
        return {};
    const std::string upper = UpperCase(label);
    // glibc's SHIFT_JIS reads the backslash as a yen sign and lacks the NEC and IBM rows:
    // Shift-JIS in mail is what Windows writes.
    for (const char* name : {"SHIFT_JIS", "SHIFT-JIS", "SJIS", "X-SJIS", "MS932", "MS_KANJI", "WINDOWS-31J",
                             "CSWINDOWS31J", "CSSHIFTJIS", "CP932", "X-MS-CP932"})
        if (upper == name) return "CP932";
    // Labels whose text is written with a wider charset in practice.
    for (const char* name : {"KS_C_5601-1987", "KS_C_5601", "KS_C_5601-1989", "KSC5601", "EUC-KR", "CSEUCKR"})
        if (upper == name) return "CP949";
    for (const char* name : {"GB2312", "CSGB2312", "EUC-CN", "GBK", "X-GBK", "CP936"})
        if (upper == name) return "GB18030";
    if (upper == "ISO-8859-1" || upper == "LATIN1" || upper == "ISO_8859-1") return "WINDOWS-1252";
    if (upper == "ISO-8859-8-I") return "ISO-8859-8";
    if (upper == "ISO-8859-6-I") return "ISO-8859-6";
    return upper;
}

// The decoded bytes of one or more adjacent words of one charset.
std::string WordsToUtf8(std::string_view charset, const std::string& bytes) {
    const std::string name = IconvName(charset);
    if (name == "ISO-2022-JP") return JisToUtf8(bytes);
    // An ASCII label on 8-bit bytes, or a label iconv does not know: the bytes are read as raw
    // header text is.
    if (name.empty() || ((name == "US-ASCII" || name == "ASCII") && !IsAscii(bytes)))
        return RawToUtf8(bytes, IsUtf8(bytes));
    std::string out;
    if (!ConvertToUtf8(name, bytes, out)) return RawToUtf8(bytes, IsUtf8(bytes));
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Missing padding is forgiven (many mailers drop it); a stray character or a lone last
// character makes the word malformed.
bool DecodeB(std::string_view text, std::string& out) {
    while (!text.empty() && text.back() == '=') text.remove_suffix(1);
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        const int v = Base64Value(c);
        if (v < 0) return false;
        bits = (bits << 6) | static_cast<uint32_t>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return count < 6;
}

void DecodeQ(std::string_view text, std::string& out) {
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        int hi, lo;
        if (c == '_') {
            out += ' ';
        } else if (c == '=' && i + 2 < text.size() && (hi = HexValue(text[i + 1])) >= 0 &&
                   (lo = HexValue(text[i + 2])) >= 0) {
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else {
            out += c;  // an "=" that starts no escape stands for itself
        }
    }
}

struct TPiece {
    bool Word = false;
    std::string_view Text;  // raw text, or the charset of a word
    std::string Bytes;      // the decoded bytes of a word
};

// "=?charset?B|Q?text?=" at i, charset without its RFC 2231 language; end is just past it.
bool ParseWord(std::string_view text, size_t i, TPiece& word, size_t& end) {
    if (text.compare(i, 2, "=?") != 0) return false;
    size_t j = i + 2;
    while (j < text.size() && j < i + 2 + kMaxCharset && text[j] != '?' &&
           static_cast<unsigned char>(text[j]) > ' ' && static_cast<unsigned char>(text[j]) < 0x7F)
        ++j;
    if (j == i + 2 || j + 2 >= text.size() || text[j] != '?' || text[j + 2] != '?') return false;
    const char letter = text[j + 1];
    if (letter != 'B' && letter != 'b' && letter != 'Q' && letter != 'q') return false;
    // Encoded text is printable ASCII without "?" and without spaces, so no word spans another.
    size_t k = j + 3;
    while (k < text.size() && text[k] != '?' && static_cast<unsigned char>(text[k]) > ' ' &&
           static_cast<unsigned char>(text[k]) < 0x7F)
        ++k;
    if (k + 1 >= text.size() || text[k] != '?' || text[k + 1] != '=') return false;
    const std::string_view charset = text.substr(i + 2, j - (i + 2));
    word.Word = true;
    word.Text = charset.substr(0, charset.find('*'));
    word.Bytes.clear();
    const std::string_view encoded = text.substr(j + 3, k - (j + 3));
    if (letter == 'B' || letter == 'b') {
        if (!DecodeB(encoded, word.Bytes)) return false;
    } else {
        DecodeQ(encoded, word.Bytes);
    }
    if (word.Text.empty()) return false;
    end = k + 2;
    return true;
}

// Raw text and encoded words in order; the blanks between two words are left out, and adjacent
// words of one charset are joined, so a character split between them reads whole again.
std::vector<TPiece> SplitPieces(std::string_view text) {
    std::vector<TPiece> pieces;
    size_t rawStart = 0;
    size_t i = 0;
    TPiece word;
    while (i < text.size()) {
        size_t end;
        if (text[i] != '=' || !ParseWord(text, i, word, end)) {
            ++i;
            continue;
        }
        const std::string_view between = text.substr(rawStart, i - rawStart);
        const bool afterWord = !pieces.empty() && pieces.back().Word;
        if (afterWord && std::all_of(between.begin(), between.end(), IsBlank)) {
            if (SameText(pieces.back().Text, word.Text)) pieces.back().Bytes += word.Bytes;
            else pieces.push_back(word);
        } else {
            if (!between.empty()) pieces.push_back({false, between, {}});
            pieces.push_back(word);
        }
        rawStart = i = end;
    }
    if (rawStart < text.size()) pieces.push_back({false, text.substr(rawStart), {}});
    return pieces;
}

}  // namespace

std::string DecodeHeaderToUtf8(std::string_view rawHeaderValue) {
    const std::vector<TPiece> pieces = SplitPieces(rawHeaderValue);
    // One reading for all raw text of the header: a short run of code page 932 may pass for
    // UTF-8 by chance, the whole of it hardly.
    const bool utf8 = std::all_of(pieces.begin(), pieces.end(),
                                  [](const TPiece& p) { return p.Word || IsUtf8(p.Text); });
    std::string out;
    for (const TPiece& piece : pieces)
        out += piece.Word ? WordsToUtf8(piece.Text, piece.Bytes) : RawToUtf8(piece.Text, utf8);
    return OneLine(out);
}

std::string DecodedSubjectUtf8(const TMailMessage& message) {
    return DecodeHeaderToUtf8(message.Headers.GetHeaderValue("Subject"));
}

}  // namespace tarnwick
