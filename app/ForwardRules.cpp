#include "app/ForwardRules.h"

#include "message/HeaderCoding.h"
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

// ASCII letters of single-byte characters lowered; double-byte characters left as they are.
std::string Folded(std::string_view text, std::vector<bool>* starts = nullptr) {
    std::string out(text);
    if (starts) starts->assign(text.size() + 1, false);
    for (size_t i = 0; i < out.size(); ++i) {
        if (starts) (*starts)[i] = true;
        if (IsLeadByte(out[i]) && i + 1 < out.size()) {
            ++i;
            continue;
        }
        if (out[i] >= 'A' && out[i] <= 'Z') out[i] = static_cast<char>(out[i] - 'A' + 'a');
    }
    return out;
}

}  // namespace

bool ContainsIgnoringCase(std::string_view text, std::string_view needle) {
    if (needle.empty()) return true;
    std::vector<bool> starts;
    const std::string haystack = Folded(text, &starts);
    const std::string wanted = Folded(needle);
    for (size_t at = haystack.find(wanted); at != std::string::npos; at = haystack.find(wanted, at + 1))
        if (starts[at]) return true;
    return false;
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
    const TMailHeaderList& lines = header.Headers;
    for (int i = 0; i < lines.Count(); ++i) {
        if (!SameText(lines.LineName(i), Header)) continue;
        if (ContainsIgnoringCase(DecodeEncodedWords(lines.LineValue(i)), Text)) return true;
    }
    return false;
}

const TForwardRule* TForwardRules::FirstMatch(const TMailMessage& header) const {
    for (const TForwardRule& rule : Items)
        if (rule.Matches(header)) return &rule;
    return nullptr;
}

}  // namespace tarnwick
