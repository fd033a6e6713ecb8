#pragma once
// The system locale the program is made for: Japanese, code page 932 (Shift-JIS).
#include <string>
#include <string_view>

namespace tarnwick {

constexpr int SystemCodePage = 932;
constexpr int LANG_JAPANESE = 0x11;

// Lead bytes of a double-byte character: 0x81-0x9F and 0xE0-0xFC.
constexpr bool IsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
inline bool IsLeadByte(char c) { return IsLeadByte(static_cast<unsigned char>(c)); }

// Whether the system has double-byte lead bytes at all (a far-east locale).
bool SysLocaleFarEast();
int SysLocalePrimaryLanguage();

// 1-based: whether the byte at position index of text is a lead byte, a trail byte or a single byte.
enum class TMbcsByteType { mbSingleByte, mbLeadByte, mbTrailByte };
TMbcsByteType ByteType(std::string_view text, size_t index);

// Conversions at the boundary to Unicode (the window toolkit). Bytes that do not convert become
// U+FFFD (to UTF-8) or "?" (to code page 932); nothing is dropped silently.
std::string Cp932ToUtf8(std::string_view text);
std::string Utf8ToCp932(std::string_view text);
// Text in any charset iconv knows as code page 932; a character code page 932 cannot hold (or a
// byte that is not text in that charset) becomes the geta mark, so nothing vanishes unseen. False,
// and out untouched, when iconv does not know the charset.
bool ConvertToCp932(const std::string& charset, std::string_view text, std::string& out);
// Text in any charset iconv knows as UTF-8; a byte that is not text in that charset becomes
// U+FFFD. False, and out untouched, when iconv does not know the charset.
bool ConvertToUtf8(const std::string& charset, std::string_view text, std::string& out);
// Strict form: false when any byte or character does not convert.
bool TryConvert(const char* from, const char* to, std::string_view text, std::string& out);

}  // namespace tarnwick
