// ISO-2022-JP (RFC 1468) <-> Shift-JIS (code page 932).
#include <cstdint>
#include <string>

#include "message/HeaderCoding.h"

namespace tarnwick {

namespace {

constexpr char kEsc = 27;

// Half-width katakana 0xA1..0xDF to their JIS X 0208 codes.
constexpr uint16_t kKatakana[63] = {
    0x2123, 0x2156, 0x2157, 0x2122, 0x2126, 0x2572, 0x2521, 0x2523,  // A1-A8
    0x2525, 0x2527, 0x2529, 0x2563, 0x2565, 0x2567, 0x2543, 0x213C,  // A9-B0
    0x2522, 0x2524, 0x2526, 0x2528, 0x252A, 0x252B, 0x252D, 0x252F,  // B1-B8
    0x2531, 0x2533, 0x2535, 0x2537, 0x2539, 0x253B, 0x253D, 0x253F,  // B9-C0
    0x2541, 0x2544, 0x2546, 0x2548, 0x254A, 0x254B, 0x254C, 0x254D,  // C1-C8
    0x254E, 0x254F, 0x2552, 0x2555, 0x2558, 0x255B, 0x255E, 0x255F,  // C9-D0
    0x2560, 0x2561, 0x2562, 0x2564, 0x2566, 0x2568, 0x2569, 0x256A,  // D1-D8
    0x256B, 0x256C, 0x256D, 0x256F, 0x2573, 0x212B, 0x212C,          // D9-DF
};

constexpr unsigned char kVoicedMark = 0xDE;
constexpr unsigned char kSemiVoicedMark = 0xDF;

// The voiced (dakuten) form of a half-width katakana byte, 0 when it has none.
uint16_t VoicedForm(unsigned char b) {
    static constexpr uint16_t kB6toC4[15] = {0x252C, 0x252E, 0x2530, 0x2532, 0x2534, 0x2536, 0x2538, 0x253A,
                                             0x253C, 0x253E, 0x2540, 0x2542, 0x2545, 0x2547, 0x2549};
    static constexpr uint16_t kCAtoCE[5] = {0x2550, 0x2553, 0x2556, 0x2559, 0x255C};
    if (b == 0xB3) return 0x2574;
    if (b >= 0xB6 && b <= 0xC4) return kB6toC4[b - 0xB6];
    if (b >= 0xCA && b <= 0xCE) return kCAtoCE[b - 0xCA];
    return 0;
}

class JisWriter {
public:
    void Single(char c) {
        if (twoByte_) {
            out_ += kEsc;
            out_ += "(B";
            twoByte_ = false;
        }
        out_ += c;
    }
    void Double(unsigned j1, unsigned j2) {
        if (!twoByte_) {
            out_ += kEsc;
            out_ += "$B";
            twoByte_ = true;
        }
        out_ += static_cast<char>(j1);
        out_ += static_cast<char>(j2);
    }
    void Double(uint16_t code) { Double(code >> 8, code & 0xFF); }
    std::string Finish() {
        if (twoByte_) {
            out_ += kEsc;
            out_ += "(B";
        }
        return std::move(out_);
    }

private:
    std::string out_;
    bool twoByte_ = false;
};

}  // namespace

std::string JisToShiftJis(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool twoByte = false;
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        if (text[i] == kEsc) {
            if (i + 2 < n) {
                const char set = text[i + 2];
                // JIS X 0208 in its 1983 and 1978 forms; ASCII and JIS X 0201 Roman. Any other
                // designation is skipped.
                if (text[i + 1] == '$' && (set == 'B' || set == '@')) twoByte = true;
                else if (text[i + 1] == '(' && (set == 'B' || set == 'J')) twoByte = false;
                i += 3;
            } else {
                ++i;
            }
            continue;
        }
        if (!twoByte) {
            out += text[i++];
            continue;
        }
        if (i + 1 >= n) break;  // half a character
        const unsigned j1 = static_cast<unsigned char>(text[i]);
        const unsigned j2 = static_cast<unsigned char>(text[i + 1]);
        i += 2;
        // (j1 - 1) / 2 truncates toward zero, so j1 = 0 gives 0 like j1 = 1.
        const int half = (static_cast<int>(j1) - 1) / 2;
        const unsigned s1 = static_cast<unsigned>(half) + (j1 < 0x5F ? 0x71u : 0xB1u);
        unsigned s2;
        if (j1 & 1) s2 = j2 + (j2 < 0x60 ? 0x1Fu : 0x20u);
        else s2 = j2 + 0x7Eu;
        out += static_cast<char>(s1 & 0xFF);
        out += static_cast<char>(s2 & 0xFF);
    }
    return out;
}

std::string ShiftJisToJis(std::string_view text) {
    JisWriter writer;
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            writer.Single(static_cast<char>(b));
            ++i;
        } else if ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xEF)) {
            if (i + 1 >= n) break;  // a lead byte without its trail byte
            const unsigned t = static_cast<unsigned char>(text[i + 1]);
            i += 2;
            const unsigned base = b <= 0x9F ? 0x21u + 2u * (b - 0x81u) : 0x5Fu + 2u * (b - 0xE0u);
            if (t >= 0x40 && t <= 0x7E) writer.Double(base, t - 0x1F);
            else if (t >= 0x80 && t <= 0x9E) writer.Double(base, t - 0x20);
            else if (t >= 0x9F && t <= 0xFC) writer.Double(base + 1, t - 0x7E);
            // Any other trail byte is no character: nothing is written.
        } else if (b >= 0xA1 && b <= 0xDF) {
            ++i;
            const unsigned char next = i < n ? static_cast<unsigned char>(text[i]) : 0;
            const uint16_t voiced = VoicedForm(b);
            if (next == kVoicedMark && voiced != 0) {
                writer.Double(voiced);
                ++i;
            } else if (next == kSemiVoicedMark && voiced >= 0x2550 && voiced <= 0x255C) {
                writer.Double(static_cast<uint16_t>(voiced + 1));
                ++i;
            } else {
                writer.Double(kKatakana[b - 0xA1]);
            }
        } else if (b >= 0xF0 && b <= 0xFC) {
            i += 2;  // user-defined characters have no JIS code
        } else {
            ++i;  // 0x80, 0xA0, 0xFD-0xFF
        }
    }
    return writer.Finish();
}

}  // namespace tarnwick
