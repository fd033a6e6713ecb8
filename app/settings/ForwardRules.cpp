#include "app/settings/ForwardRules.h"

#include "message/HeaderUnicode.h"
#include "message/MailMessage.h"
#include "platform/Exception.h"
#include "platform/Locale.h"

namespace tarnwick {

namespace {

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
    return text;
}

bool IsFieldName(std::string_view name) {
    if (name.empty()) return false;
    for (char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= ' ' || b >= 0x7F || c == ':') return false;
    }
    return true;
}

std::string AsciiLowered(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

}  // namespace

bool ContainsIgnoringCase(std::string_view utf8Text, std::string_view utf8Needle) {
    // In UTF-8 no byte of a multi-byte character is an ASCII letter, so folding ASCII bytes alone
    // never makes a match inside a character.
    return AsciiLowered(utf8Text).find(AsciiLowered(utf8Needle)) != std::string::npos;
}

std::string TForwardRule::ToText() const { return Header + ": " + Text; }

std::optional<TForwardRule> TForwardRule::FromText(std::string_view text) {
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    TForwardRule rule{std::string(Trimmed(text.substr(0, colon))), std::string(Trimmed(text.substr(colon + 1)))};
    if (!IsFieldName(rule.Header) || rule.Text.empty()) return std::nullopt;
    for (char c : rule.Text)
        if (c == '\r' || c == '\n' || c == '\0') return std::nullopt;
    return rule;
}

std::optional<TForwardRule> TForwardRule::Make(std::string_view header, std::string_view text) {
    TForwardRule rule{std::string(Trimmed(header)), std::string(Trimmed(text))};
    if (FromText(rule.ToText()) != rule) return std::nullopt;
    return rule;
}

bool TForwardRule::Matches(const TMailMessage& header) const {
    // Compared as Unicode: a value in encoded words of any charset (or raw UTF-8) is read whole.
    const std::string wanted = Cp932ToUtf8(Text);
    const TMailHeaderList& lines = header.Headers;
    for (int i = 0; i < lines.Count(); ++i) {
        if (!SameText(lines.LineName(i), Header)) continue;
        if (ContainsIgnoringCase(DecodeHeaderToUtf8(lines.LineValue(i)), wanted)) return true;
    }
    return false;
}

const TForwardRule* TForwardRules::FirstMatch(const TMailMessage& header) const {
    for (const TForwardRule& rule : Items)
        if (rule.Matches(header)) return &rule;
    return nullptr;
}

}  // namespace tarnwick
