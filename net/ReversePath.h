#pragma once
// RFC 5321 (4.1.2, 4.5.3.1): the reverse-path of "MAIL FROM" formed from a bare address.
#include <string>
#include <string_view>

namespace tarnwick {

struct TReversePath {
    // What follows "MAIL FROM:": "<mailbox>", or "<>".
    std::string Path;
    // Why the address could not be used and "<>" stands instead; empty when it was used (or was
    // empty to begin with).
    std::string Problem;
};

// The reverse-path for a bare address (local part as read, unquoted; "@"; domain). A local part
// that is no dot-atom is quoted with backslash escapes. An address that cannot be a mailbox (no
// domain, a domain that is no host name or address literal, control or 8-bit bytes, too long)
// gives "<>" and the reason: a header anyone can write must never add or break SMTP parameters.
TReversePath ReversePathFor(std::string_view address);

}  // namespace tarnwick
