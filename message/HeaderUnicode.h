#pragma once
// RFC 2047 encoded words (and raw 8-bit text) of received header values as UTF-8, for display.
#include <string>
#include <string_view>

namespace tarnwick {

class TMailMessage;

// The header value (unfolded, as received) as UTF-8 text to show: encoded words of any charset
// iconv knows keep their characters, white space between adjacent encoded words goes, raw 8-bit
// text is read as UTF-8 when it is valid UTF-8, else as code page 932. A malformed word stays as
// it stands; bytes that are no text in their charset become U+FFFD, and so do control characters
// (CR, LF and TAB become spaces), so the result is one line of valid UTF-8. Never throws.
std::string DecodeHeaderToUtf8(std::string_view rawHeaderValue);

// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates).
bool IsUtf8(std::string_view text);

// The message's Subject header, as received, decoded by DecodeHeaderToUtf8.
std::string DecodedSubjectUtf8(const TMailMessage& message);

}  // namespace tarnwick
