// RFC 2047 encoded words: decoding of received header values, encoding of generated ones.
#include "message/HeaderCoding.h"

#include <algorithm>

#include "platform/Exception.h"
#include "platform/Locale.h"

namespace tarnwick {

namespace {

constexpr std::string_view kBase64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHexDigits[] = "0123456789ABCDEF";
// RFC 2047 limit for one encoded word.
constexpr size_t kMaxEncodedWord = 75;

constexpr int kLangChinese = 0x04;
constexpr int kLangKorean = 0x12;
constexpr int kSubLangChineseSimplified = 0x02;

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

unsigned Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned>(c - 'A');
    if (c >= 'a' && c <= 'z') return static_cast<unsigned>(c - 'a' + 26);
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0' + 52);
    if (c == '+') return 62;
    if (c == '/') return 63;
    return 0;  // pad and stray characters alike
}

bool StartsWith(std::string_view text, size_t at, std::string_view prefix) {
    return text.size() - at >= prefix.size() && text.compare(at, prefix.size(), prefix) == 0;
}

// "=?charset?x?" at i: a charset token without blanks, then a one-letter encoding. A charset name
// is short; the bound keeps a header full of "=?" linear.
bool LooksLikeWordStart(std::string_view text, size_t i) {
    constexpr size_t kMaxCharset = 64;
    if (!StartsWith(text, i, "=?")) return false;
    size_t j = i + 2;
    while (j < text.size() && j < i + 2 + kMaxCharset && text[j] != '?' &&
           static_cast<unsigned char>(text[j]) > ' ' && static_cast<unsigned char>(text[j]) < 0x7F)
        ++j;
    return j > i + 2 && j + 2 < text.size() && text[j] == '?' && text[j + 2] == '?';
}

// Next encoded word start in the upper-cased header at or after from, walking whole characters
// so that nothing inside a double-byte character is taken for a word start.
size_t FindWordStart(std::string_view upper, size_t from) {
    static const bool multiByte = SysLocaleFarEast();
    size_t i = from;
    while (i < upper.size()) {
        if (upper[i] == '=' && (StartsWith(upper, i, "=?ISO") || StartsWith(upper, i, "=?WINDOWS") ||
                                LooksLikeWordStart(upper, i)))
            return i;
        i += (multiByte && IsLeadByte(upper[i]) && i + 1 < upper.size()) ? 2 : 1;
    }
    return std::string_view::npos;
}

// The bytes of a word in its charset as code page 932 text. Shift-JIS under any of its names is
// taken as code page 932 itself (iconv's SHIFT_JIS would turn the backslash into a yen sign);
// a charset iconv does not know leaves the bytes as they are.
std::string DecodedToCp932(std::string_view charsetField, const std::string& bytes) {
    // RFC 2231 lets a language follow the charset: "utf-8*ja".
    std::string charset(charsetField.substr(0, charsetField.find('*')));
    if (SameText(charset, "ISO-2022-JP")) return JisToShiftJis(bytes);
    // Plain ASCII reads the same in every charset that keeps ASCII as it is.
    const std::string upper = UpperCase(charset);
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }) &&
        !upper.starts_with("UTF-16") && !upper.starts_with("UTF-32") && !upper.starts_with("UTF-7") &&
        !upper.starts_with("UCS") && !upper.starts_with("ISO-2022"))
        return bytes;
    for (const char* own : {"SHIFT_JIS", "SHIFT-JIS", "SJIS", "X-SJIS", "CP932", "MS932", "WINDOWS-31J", "CSSHIFTJIS"})
        if (SameText(charset, own)) return bytes;
    // Names mail uses that iconv knows under a wider charset.
    if (SameText(charset, "KS_C_5601-1987") || SameText(charset, "KS_C_5601") || SameText(charset, "EUC-KR"))
        charset = "CP949";
    else if (SameText(charset, "GB2312") || SameText(charset, "X-GBK"))
        charset = "GBK";
    else if (SameText(charset, "ISO-8859-8-I"))
        charset = "ISO-8859-8";
    std::string out;
    if (!ConvertToCp932(charset, bytes, out)) return bytes;
    return out;
}

std::string DecodeQ(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '_') {
            out += ' ';
            ++i;
        } else if (c == '=' && i + 2 < text.size()) {
            const int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
            if (hi >= 0 && lo >= 0) out += static_cast<char>(hi * 16 + lo);
            else out.append(text, i, 3);  // not an escape: kept as it stands
            i += 3;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

// Groups of four from text (which ends with the closing "?="); a short tail is dropped.
std::string DecodeB(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i + 4 <= text.size(); i += 4) {
        const unsigned x1 = Base64Value(text[i]), x2 = Base64Value(text[i + 1]);
        const unsigned x3 = Base64Value(text[i + 2]), x4 = Base64Value(text[i + 3]);
        out += static_cast<char>(((x1 << 2) | (x2 >> 4)) & 0xFF);
        out += static_cast<char>((((x2 & 15) << 4) | (x3 >> 2)) & 0xFF);
        out += static_cast<char>((((x3 & 3) << 6) | x4) & 0xFF);
    }
    return out;
}

bool IsWordSeparator(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

bool AlwaysEncoded(unsigned char c) { return c < 32 || c >= 127; }

constexpr std::string_view kJisTwoByte = "\x1b$B";
constexpr std::string_view kJisAscii = "\x1b(B";

class EncodedRunWriter {
public:
    EncodedRunWriter(std::string& out, std::string_view charset, char encoding, const TCharSet& specials, bool jis)
        : out_(out), encoding_(encoding), specials_(specials), jis_(jis) {
        opening_ = "=?";
        opening_ += charset;
        opening_ += '?';
        opening_ += encoding;
        opening_ += '?';
    }

    void Write(std::string_view run) {
        out_ += opening_;
        if (jis_) WriteJis(run);
        else WriteWord(run);
        out_ += "?=";
    }

private:
    bool IsQ() const { return encoding_ == 'Q' || encoding_ == 'q'; }

    void WriteWord(std::string_view bytes) {
        count_ = opening_.size() + 2;
        if (IsQ()) WriteQ(bytes);
        else WriteB(bytes);
    }

    size_t QPieceLength(char c) const {
        const unsigned char b = static_cast<unsigned char>(c);
        return c != ' ' && (AlwaysEncoded(b) || specials_.Contains(b) || c == '=' || c == '?' || c == '_') ? 3 : 1;
    }

    size_t EncodedSize(std::string_view bytes) const {
        if (!IsQ()) return (bytes.size() + 2) / 3 * 4;
        size_t size = 0;
        for (char c : bytes) size += QPieceLength(c);
        return size;
    }

    // ISO-2022-JP: every encoded word must decode alone, so each is cut between characters and
    // carries its own escapes: two-byte mode is selected inside the word and left before its end.
    void WriteJis(std::string_view run) {
        const size_t room = kMaxEncodedWord - (opening_.size() + 2);
        std::string word;
        bool wordTwoByte = false;  // the mode at the end of word
        bool twoByte = false;      // the mode of the run at i
        bool first = true;
        auto flush = [&] {
            if (wordTwoByte) word += kJisAscii;
            if (!first) {
                out_ += "?=\r\n\t";
                out_ += opening_;
            }
            WriteWord(word);
            first = false;
            word.clear();
            wordTwoByte = false;
        };
        size_t i = 0;
        while (i < run.size()) {
            if (run[i] == '\x1b' && i + 2 < run.size() && (run[i + 1] == '$' || run[i + 1] == '(')) {
                twoByte = run[i + 1] == '$';
                i += 3;
                continue;
            }
            const size_t length = twoByte && i + 1 < run.size() ? 2 : 1;
            std::string piece;
            if (twoByte != wordTwoByte) piece = twoByte ? kJisTwoByte : kJisAscii;
            piece.append(run.substr(i, length));
            const std::string_view closing = twoByte ? kJisAscii : std::string_view();
            if (!word.empty() && EncodedSize(word + piece + std::string(closing)) > room) {
                flush();
                piece = twoByte ? std::string(kJisTwoByte) : std::string();
                piece.append(run.substr(i, length));
            }
            word += piece;
            wordTwoByte = twoByte;
            i += length;
        }
        if (!word.empty() || first) flush();
    }

    void Room(size_t needed) {
        if (count_ + needed > kMaxEncodedWord) {
            out_ += "?=\r\n\t";
            out_ += opening_;
            count_ = opening_.size() + 2;
        }
    }

    void WriteQ(std::string_view run) {
        for (char c : run) {
            const unsigned char b = static_cast<unsigned char>(c);
            char piece[3];
            size_t length = 1;
            if (c == ' ') {
                piece[0] = '_';
            } else if (AlwaysEncoded(b) || specials_.Contains(b) || c == '=' || c == '?' || c == '_') {
                piece[0] = '=';
                piece[1] = kHexDigits[b >> 4];
                piece[2] = kHexDigits[b & 15];
                length = 3;
            } else {
                piece[0] = c;
            }
            Room(length);
            out_.append(piece, length);
            count_ += length;
        }
    }

    void WriteB(std::string_view run) {
        // Groups of three bytes, cut where the word is full (ISO-2022-JP text is cut before).
        for (size_t i = 0; i < run.size(); i += 3) {
            Room(4);
            const size_t left = std::min<size_t>(3, run.size() - i);
            const unsigned b1 = static_cast<unsigned char>(run[i]);
            const unsigned b2 = left > 1 ? static_cast<unsigned char>(run[i + 1]) : 0u;
            const unsigned b3 = left > 2 ? static_cast<unsigned char>(run[i + 2]) : 0u;
            out_ += kBase64[b1 >> 2];
            out_ += kBase64[((b1 & 3) << 4) | (b2 >> 4)];
            out_ += left > 1 ? kBase64[((b2 & 15) << 2) | (b3 >> 6)] : '=';
            out_ += left > 2 ? kBase64[b3 & 63] : '=';
            count_ += 4;
        }
    }

    std::string& out_;
    std::string opening_;
    char encoding_;
    const TCharSet& specials_;
    bool jis_;
    size_t count_ = 0;
};

}  // namespace

std::string DecodeEncodedWords(std::string_view header) {
    const std::string upper = UpperCase(header);
    std::string out;
    out.reserve(header.size());
    size_t copied = 0;  // header bytes before this are in out
    size_t from = 0;
    for (;;) {
        const size_t a = FindWordStart(upper, from);
        if (a == std::string_view::npos) break;
        const size_t q1 = header.find('?', a + 5);
        const size_t q2 = q1 == std::string_view::npos ? q1 : header.find('?', q1 + 1);
        const size_t c = q2 == std::string_view::npos ? q2 : header.find("?=", q2 + 1);
        // Every later word would lack its pieces as well, so this one ends the search.
        if (c == std::string_view::npos) break;

        const std::string_view charset = header.substr(a + 2, q1 - (a + 2));
        const char letter = header[q1 + 1];
        std::string decoded;
        if (letter == 'Q' || letter == 'q') decoded = DecodeQ(header.substr(q2 + 1, c - (q2 + 1)));
        else decoded = DecodeB(header.substr(q2 + 1, c + 2 - (q2 + 1)));
        decoded = DecodedToCp932(charset, decoded);

        out.append(header, copied, a - copied);
        out += decoded;
        // Decoded text is never searched again for words.
        copied = from = c + 2;
    }
    out.append(header, copied, std::string_view::npos);
    std::erase(out, '\0');
    return out;
}

std::string EncodeHeaderText(std::string_view text, const TCharSet& specials, char encoding, TTransfer transfer,
                             std::string_view charset) {
    std::string converted;
    if (transfer == TTransfer::iso2022jp) converted = ShiftJisToJis(text);
    const std::string_view s = transfer == TTransfer::iso2022jp ? std::string_view(converted) : text;
    if (encoding == '8') return std::string(s);

    std::string out;
    out.reserve(s.size() + s.size() / 2);
    EncodedRunWriter writer(out, charset, encoding, specials, transfer == TTransfer::iso2022jp);
    bool runOpen = false;
    size_t runStart = 0;
    size_t i = 0;
    while (i < s.size()) {
        // A word: leading separators, then everything up to the next separator.
        const size_t wordStart = i;
        while (i < s.size() && IsWordSeparator(s[i])) ++i;
        const size_t bodyStart = i;
        bool needsEncoding = false;
        while (i < s.size() && !IsWordSeparator(s[i])) {
            const unsigned char b = static_cast<unsigned char>(s[i]);
            if (AlwaysEncoded(b) || specials.Contains(b)) needsEncoding = true;
            ++i;
        }
        if (needsEncoding) {
            if (!runOpen) {
                out.append(s, wordStart, bodyStart - wordStart);
                runStart = bodyStart;
                runOpen = true;
            }
        } else {
            if (runOpen) {
                writer.Write(s.substr(runStart, wordStart - runStart));
                runOpen = false;
            }
            out.append(s, wordStart, i - wordStart);
        }
    }
    if (runOpen) writer.Write(s.substr(runStart));
    return out;
}

void ChooseHeaderCharsetFor(int primaryLanguage, int subLanguage, TTransfer& transfer, char& encoding,
                            std::string& charset) {
    transfer = TTransfer::bit8;
    encoding = 'B';
    switch (primaryLanguage) {
        case kLangChinese:
            charset = subLanguage == kSubLangChineseSimplified ? "GB2312" : "Big5";
            break;
        case LANG_JAPANESE:
            charset = "ISO-2022-JP";
            transfer = TTransfer::iso2022jp;
            break;
        case kLangKorean:
            charset = "EUC-KR";
            break;
        default:
            charset = "ISO-8859-1";
            encoding = 'Q';
            break;
    }
}

void ChooseHeaderCharset(TTransfer& transfer, char& encoding, std::string& charset) {
    // The locale layer knows only the primary language; the sub-language matters for Chinese alone.
    ChooseHeaderCharsetFor(SysLocalePrimaryLanguage(), 0, transfer, encoding, charset);
}

}  // namespace tarnwick
