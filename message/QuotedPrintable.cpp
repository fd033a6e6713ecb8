// Quoted-printable (RFC 2045, section 6.7).
#include <string>

#include "message/Coders.h"

namespace tarnwick {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
// Longer lines get a soft break.
constexpr size_t kMaxLine = 71;

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

void AppendEscaped(std::string& line, unsigned char b) {
    line += '=';
    line += kHexDigits[b >> 4];
    line += kHexDigits[b & 15];
}

}  // namespace

void TMailDecoderQuotedPrintable::DecodeIntoStream(std::string_view text, TStream& destination) {
    // Trailing blanks go, but the line breaks among them stay, in their order.
    size_t end = text.size();
    std::string breaks;
    while (end > 0) {
        const char c = text[end - 1];
        if (c == ' ' || c == '\t') {
            --end;
        } else if (IsLineBreak(c)) {
            breaks += c;
            --end;
        } else {
            break;
        }
    }
    std::string input(text.substr(0, end));
    input.append(breaks.rbegin(), breaks.rend());

    std::string out;
    out.reserve(input.size());
    size_t i = 0;
    const size_t n = input.size();
    while (i < n) {
        const size_t eq = input.find('=', i);
        if (eq == std::string::npos) {
            out.append(input, i, std::string::npos);
            break;
        }
        out.append(input, i, eq - i);
        i = eq + 1;
        if (i >= n) break;  // a lone "=" at the very end
        int value = 0, digits = 0;
        while (digits < 2 && i < n && HexValue(input[i]) >= 0) {
            value = value * 16 + HexValue(input[i]);
            ++digits;
            ++i;
        }
        bool skipBreaks = digits == 0;  // a soft line break, or "=" before something else
        if (digits > 0) {
            if (value == ' ' && i < n && IsLineBreak(input[i])) {
                out += " \r\n";
                skipBreaks = true;
            } else {
                out += static_cast<char>(value);
            }
        }
        if (skipBreaks) {
            for (int k = 0; k < 2 && i < n && IsLineBreak(input[i]); ++k) ++i;
        }
    }
    if (!out.empty()) destination.WriteBuffer(out.data(), static_cast<int64_t>(out.size()));
}

std::string TMailEncoderQuotedPrintable::EncodeFromStream(TStream& source, int64_t byteLimit) {
    int64_t n = source.Size() - source.Position();
    if (byteLimit < n) n = byteLimit;
    if (n <= 0) return {};
    std::string data(static_cast<size_t>(n), '\0');
    source.ReadBuffer(data.data(), n);

    std::string result;
    result.reserve(data.size() + data.size() / 8);
    std::string line;
    for (size_t i = 0; i < data.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(data[i]);
        if (b == ' ' || b == '\t') {
            // A blank at the end of a line (or of the data) would be lost in transport.
            if (i + 1 >= data.size() || IsLineBreak(data[i + 1])) AppendEscaped(line, b);
            else line += static_cast<char>(b);
        } else if (b == '=') {
            AppendEscaped(line, b);
        } else if ((b >= 0x21 && b <= 0x7E) || b == '\r' || b == '\n') {
            line += static_cast<char>(b);
        } else {
            AppendEscaped(line, b);
        }
        if (line.size() > kMaxLine) {
            line += '=';
            if (!result.empty()) result += "\r\n";
            result += line;
            line.clear();
        }
    }
    if (!line.empty()) {
        if (!result.empty()) result += "\r\n";
        result += line;
    } else if (!result.empty() && result.back() == '=') {
        // A soft break with no data after it would swallow the start of whatever the caller writes
        // next (a 70-byte line plus CR LF ends exactly there).
        result.pop_back();
    }
    return result;
}

}  // namespace tarnwick
