#pragma once
// Text that goes into a protocol command line must not be able to end that line early.
#include <string>
#include <string_view>

#include "message/MailException.h"

namespace tarnwick {

// Raises EMailException "Invalid character (CR, LF or NUL) in <what>." when text holds one.
inline void CheckCommandText(std::string_view text, std::string_view what) {
    if (text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
        throw EMailException("Invalid character (CR, LF or NUL) in " + std::string(what) + ".");
}

}  // namespace tarnwick
