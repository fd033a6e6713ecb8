#pragma once
// Rules for mail that is not forwarded: "header name contains text", compared without regard to
// the case of ASCII letters, on the header's decoded value (as Unicode, whatever its charset).
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

class TMailMessage;

struct TForwardRule {
    std::string Header;  // a field name, e.g. "X-Spam-Flag"
    std::string Text;    // CP932 text the decoded value must contain

    bool operator==(const TForwardRule&) const = default;
    // "X-Spam-Flag: YES", for the settings file and the log.
    std::string ToText() const;
    // The inverse of ToText: the name up to the first colon and the text after it, both trimmed.
    // None without a colon, with an empty name or text, or with a name that is not a field name
    // (blanks, control or 8-bit bytes): such a rule could never match or would match everything.
    static std::optional<TForwardRule> FromText(std::string_view text);
    // A rule from the two fields of the dialog, trimmed; none when FromText would not give it back.
    static std::optional<TForwardRule> Make(std::string_view header, std::string_view text);
    // Whether any line of the header block named Header contains Text.
    bool Matches(const TMailMessage& header) const;
};

// Whether the UTF-8 text contains the UTF-8 needle, ASCII letters compared without case.
bool ContainsIgnoringCase(std::string_view utf8Text, std::string_view utf8Needle);

class TForwardRules {
public:
    std::vector<TForwardRule> Items;

    bool Empty() const { return Items.empty(); }
    // The first rule the header block matches, nullptr when none does.
    const TForwardRule* FirstMatch(const TMailMessage& header) const;
};

}  // namespace tarnwick
