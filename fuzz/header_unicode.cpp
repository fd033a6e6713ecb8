// Header values come straight from the POP3 server; their decoded form goes to the window and
// to standard output.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "message/HeaderUnicode.h"

namespace {

// One line of well-formed UTF-8 without control characters.
bool Displayable(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        if (b < 0x20 || b == 0x7F) return false;
        const size_t n = b < 0x80                  ? 1
                         : b >= 0xC2 && b <= 0xDF ? 2
                         : b >= 0xE0 && b <= 0xEF ? 3
                         : b >= 0xF0 && b <= 0xF4 ? 4
                                                  : 0;
        if (n == 0 || text.size() - i < n) return false;
        char32_t code = n == 1 ? b : b & (0x7F >> n);
        for (size_t k = 1; k < n; ++k) {
            const unsigned char t = static_cast<unsigned char>(text[i + k]);
            if ((t & 0xC0) != 0x80) return false;
            code = (code << 6) | (t & 0x3F);
        }
        const char32_t min[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < min[n] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) || (code >= 0x80 && code <= 0x9F))
            return false;
        i += n;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view header(reinterpret_cast<const char*>(data), size);
    const std::string shown = tarnwick::DecodeHeaderToUtf8(header);
    if (!Displayable(shown)) __builtin_trap();
    // Printable ASCII without encoded words or escapes shows as it is.
    bool plain = header.find("=?") == std::string_view::npos;
    for (char c : header) plain = plain && c >= 0x20 && c < 0x7F;
    if (plain && shown != header) __builtin_trap();
    return 0;
}
