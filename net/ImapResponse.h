#pragma once
// One IMAP server response (RFC 9051 section 7 and its formal syntax, RFC 3501 servers in mind):
// tagged or untagged status with its response code, untagged data, or a continuation request.
// The reader is fed the response's lines and literals as they arrive and knows nothing of
// sockets; everything it keeps is bounded.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "message/MailException.h"

namespace tarnwick {

// A response that does not follow the protocol's syntax.
class EMailIMAPSyntax : public EMailException {
public:
    explicit EMailIMAPSyntax(const std::string& what) : EMailException("Malformed IMAP response: " + what) {}
};

struct TImapValue {
    enum class TKind : uint8_t { Atom, String, Nil, List };
    TKind Kind = TKind::Atom;
    // Atom text (a number is an atom), or a string's content (quoted or literal).
    std::string Text;
    std::vector<TImapValue> Items;  // List

    bool IsAtom(std::string_view name) const;  // ignoring case
    // An atom of digits only that fits; false otherwise.
    bool Number(uint64_t& value) const;
};

struct TImapResponse {
    enum class TType : uint8_t { Untagged, Tagged, Continuation };
    TType Type = TType::Untagged;
    std::string Tag;
    // OK, NO, BAD, PREAUTH or BYE (upper case); empty for data.
    std::string Status;
    // The response code in brackets: its name upper-cased and the text after it.
    std::string Code;
    std::string CodeText;
    // A status response's or continuation's text.
    std::string Text;
    // Data: "* 3 EXISTS" has Number 3 and Name "EXISTS"; "* CAPABILITY ..." has Name only.
    bool HasNumber = false;
    uint32_t Number = 0;
    std::string Name;  // upper case
    std::vector<TImapValue> Items;  // the values after the name

    bool IsStatus() const { return !Status.empty(); }
};

struct TImapLimits {
    // Text of one response outside its literals.
    size_t MaxText = 8 * 1024 * 1024;
    // One literal, and all literals of a response together (0 = no limit).
    int64_t MaxLiteral = 64 * 1024 * 1024;
    // Values in one response, lists included, and how deep lists nest.
    size_t MaxValues = 2000000;
    size_t MaxDepth = 32;
};

// Builds one response: Begin with its first line, then, as long as the last call returned a
// count, that many literal bytes and the line that follows them with Continue. Lines come
// without their CR LF. A response beyond the limits raises (a literal over MaxLiteral:
// EMailMessageTooLarge) before its bytes are asked for; Finish raises EMailIMAPSyntax for one
// that does not parse.
class TImapResponseReader {
public:
    explicit TImapResponseReader(const TImapLimits& limits = {}) : limits_(limits) {}

    // The byte count of the literal that follows the line, or -1 when the response is complete.
    int64_t Begin(std::string line);
    int64_t Continue(std::string literal, std::string line);
    TImapResponse Finish();

private:
    int64_t AfterLine();

    TImapLimits limits_;
    // Text and literals alternate: texts_[i] is followed by literals_[i] when there is one.
    std::vector<std::string> texts_;
    std::vector<std::string> literals_;
    size_t textBytes_ = 0;
    int64_t literalBytes_ = 0;
    bool mayHaveLiterals_ = false;
};

// Whole responses from text holding literals as "{n}\r\n" followed by n bytes (for tests and
// the fuzz target): the responses, in order.
std::vector<TImapResponse> ParseImapResponses(std::string_view bytes, const TImapLimits& limits = {});

// A string as a quoted command argument; false when it must go as a literal instead (it holds a
// control or 8-bit byte, a quote or a backslash, which some servers do not take escaped).
bool ImapQuoted(const std::string& text, std::string& quoted);

}  // namespace tarnwick
