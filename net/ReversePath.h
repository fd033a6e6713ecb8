#pragma once
// RFC 5321 (4.1.2, 4.4, 4.5.3.1, 4.5.5), RFC 5322 (3.6.7): the reverse-path of "MAIL FROM"
// formed from a bare address, and the one a received message's Return-Path names.
#include <optional>
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

// The bare address of a Return-Path header value that is exactly one path, "<mailbox>" or "<>",
// white space around it allowed: the mailbox (local part unquoted, a source route dropped), or
// empty for the null path. Nothing for any other value, and for a mailbox ReversePathFor would
// not take.
std::optional<std::string> ReturnPathAddress(std::string_view value);

}  // namespace tarnwick
