#include "message/ShownText.h"

#include <cstdio>

#include "message/HeaderUnicode.h"
#include "platform/Locale.h"

namespace tarnwick {

namespace {

// The length of the UTF-8 sequence that starts with b (the text is known to be valid).
size_t SequenceLength(unsigned char b) { return b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4; }

}  // namespace

std::string ShownText(std::string_view outside, size_t maxChars) {
    const std::string utf8 = IsUtf8(outside) ? std::string(outside) : Cp932ToUtf8(outside);
    std::string out;
    out.reserve(utf8.size() < 4 * maxChars ? utf8.size() : 4 * maxChars);
    size_t shown = 0;
    for (size_t i = 0, n; i < utf8.size(); i += n) {
        const unsigned char b = static_cast<unsigned char>(utf8[i]);
        n = SequenceLength(b);
        if (shown == maxChars) {
            out += "\xE2\x80\xA6";  // the ellipsis, in UTF-8 whatever the literals' code page
            break;
        }
        ++shown;
        // U+0080-U+009F are C2 80 to C2 9F.
        const bool c1 = b == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) <= 0x9F;
        if (b < 0x20 || b == 0x7F || c1) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c1 ? static_cast<unsigned char>(utf8[i + 1]) : b);
            out += hex;
        } else {
            out.append(utf8, i, n);
        }
    }
    return out;
}

std::string ShownCp932(std::string_view outside, size_t maxChars) {
    return Utf8ToCp932(ShownText(outside, maxChars));
}

}  // namespace tarnwick
