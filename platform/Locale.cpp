#include "platform/Locale.h"

#include <iconv.h>

#include <cerrno>

namespace tarnwick {

bool SysLocaleFarEast() { return true; }
int SysLocalePrimaryLanguage() { return LANG_JAPANESE; }

TMbcsByteType ByteType(std::string_view text, size_t index) {
    if (index < 1 || index > text.size()) return TMbcsByteType::mbSingleByte;
    size_t i = 0;
    while (i < index - 1) {
        if (IsLeadByte(text[i]) && i + 1 < text.size()) i += 2;
        else i += 1;
    }
    if (i == index - 1) return IsLeadByte(text[i]) && i + 1 < text.size() ? TMbcsByteType::mbLeadByte
                                                                          : TMbcsByteType::mbSingleByte;
    return TMbcsByteType::mbTrailByte;
}

namespace {
// Converts with iconv; on a bad sequence writes the replacement and skips `skip` input bytes.
std::string Convert(const char* from, const char* to, std::string_view text, std::string_view replacement,
                    bool& clean) {
    clean = true;
    std::string out;
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        clean = false;
        return std::string(text);
    }
    out.reserve(text.size() * 2 + 8);
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char buf[4096];
    while (inLeft > 0) {
        char* o = buf;
        size_t oLeft = sizeof buf;
        size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        out.append(buf, static_cast<size_t>(o - buf));
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            clean = false;
            out += replacement;
            // Skip one input unit: a byte for code page input, a whole character for UTF-8 input.
            size_t skip = 1;
            if (to[0] != 'U') {
                unsigned char c = static_cast<unsigned char>(*in);
                skip = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            }
            if (skip > inLeft) skip = inLeft;
            in += skip;
            inLeft -= skip;
        }
    }
    char* o = buf;
    size_t oLeft = sizeof buf;
    iconv(cd, nullptr, nullptr, &o, &oLeft);
    out.append(buf, static_cast<size_t>(o - buf));
    iconv_close(cd);
    return out;
}
}  // namespace

std::string Cp932ToUtf8(std::string_view text) {
    bool clean;
    return Convert("CP932", "UTF-8", text, "\xEF\xBF\xBD", clean);
}

std::string Utf8ToCp932(std::string_view text) {
    bool clean;
    return Convert("UTF-8", "CP932", text, "?", clean);
}

bool ConvertToCp932(const std::string& charset, std::string_view text, std::string& out) {
    iconv_t probe = iconv_open("UTF-8", charset.c_str());
    if (probe == reinterpret_cast<iconv_t>(-1)) return false;
    iconv_close(probe);
    bool clean;
    // Through Unicode, so a bad byte of the source and a character missing from code page 932
    // both end up as one visible mark.
    const std::string unicode = Convert(charset.c_str(), "UTF-8", text, "\xEF\xBF\xBD", clean);
    out = Convert("UTF-8", "CP932", unicode, "\x81\xAC", clean);
    return true;
}

bool ConvertToUtf8(const std::string& charset, std::string_view text, std::string& out) {
    iconv_t probe = iconv_open("UTF-8", charset.c_str());
    if (probe == reinterpret_cast<iconv_t>(-1)) return false;
    iconv_close(probe);
    bool clean;
    out = Convert(charset.c_str(), "UTF-8", text, "\xEF\xBF\xBD", clean);
    return true;
}

bool TryConvert(const char* from, const char* to, std::string_view text, std::string& out) {
    bool clean;
    out = Convert(from, to, text, "", clean);
    return clean;
}

}  // namespace tarnwick
