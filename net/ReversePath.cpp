#include "net/ReversePath.h"

#include <algorithm>

namespace tarnwick {

namespace {

// RFC 5321 4.5.3.1.3, angle brackets included.
constexpr size_t kMaxPath = 256;

bool IsAlnum(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

bool IsAtext(char c) { return IsAlnum(c) || std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos; }

// atext runs joined by single dots.
bool IsDotString(std::string_view local) {
    if (local.empty() || local.front() == '.' || local.back() == '.') return false;
    for (size_t i = 0; i < local.size(); ++i) {
        if (local[i] == '.') {
            if (local[i + 1] == '.') return false;
        } else if (!IsAtext(local[i])) {
            return false;
        }
    }
    return true;
}

// Letters, digits and inner hyphens per label, or an address literal in brackets.
bool IsDomain(std::string_view domain) {
    if (domain.size() >= 2 && domain.front() == '[' && domain.back() == ']') {
        std::string_view inner = domain.substr(1, domain.size() - 2);
        return !inner.empty() && std::all_of(inner.begin(), inner.end(), [](char c) {
            return c > ' ' && c < 127 && c != '[' && c != ']' && c != '\\';
        });
    }
    size_t start = 0;
    for (;;) {
        size_t dot = domain.find('.', start);
        std::string_view label = domain.substr(start, dot == std::string_view::npos ? dot : dot - start);
        if (label.empty() || !IsAlnum(label.front()) || !IsAlnum(label.back())) return false;
        if (!std::all_of(label.begin(), label.end(), [](char c) { return IsAlnum(c) || c == '-'; })) return false;
        if (dot == std::string_view::npos) return true;
        start = dot + 1;
    }
}

TReversePath Null(std::string problem) { return {"<>", std::move(problem)}; }

std::string_view TrimBlanks(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

TReversePath ReversePathFor(std::string_view address) {
    if (address.empty()) return {"<>", ""};
    for (char c : address) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b < 32 || b == 127) return Null("control character in the address");
        if (b > 127) return Null("8-bit character in the address");
    }
    const size_t at = address.rfind('@');
    if (at == std::string_view::npos || at + 1 == address.size()) return Null("no domain");
    const std::string_view local = address.substr(0, at);
    const std::string_view domain = address.substr(at + 1);
    if (local.empty()) return Null("no local part");
    if (domain.find_first_of(" <>") != std::string_view::npos) return Null("space or angle bracket in the domain");
    if (!IsDomain(domain)) return Null("invalid domain");

    std::string path = "<";
    if (IsDotString(local)) {
        path.append(local);
    } else {
        path += '"';
        for (char c : local) {
            if (c == '"' || c == '\\') path += '\\';
            path += c;
        }
        path += '"';
    }
    path += '@';
    path.append(domain);
    path += '>';
    if (path.size() > kMaxPath) return Null("longer than 256 characters");
    return {std::move(path), ""};
}

// Only the form final delivery writes is read. A value with a comment, a second path or anything
// else did not come from it unchanged; rather than guess at it, the message goes out from its
// From address as it always did, so the worst case is today's behaviour.
std::optional<std::string> ReturnPathAddress(std::string_view value) {
    value = TrimBlanks(value);
    if (value.size() < 2 || value.front() != '<' || value.back() != '>') return std::nullopt;
    std::string_view path = TrimBlanks(value.substr(1, value.size() - 2));
    if (path.empty()) return std::string();
    // "@relay,@relay:mailbox" (RFC 5321 4.1.2): the route is ignored, as receivers must.
    if (path.front() == '@') {
        const size_t colon = path.find(':');
        if (colon == std::string_view::npos) return std::nullopt;
        path.remove_prefix(colon + 1);
    }
    std::string address;
    size_t at;
    if (!path.empty() && path.front() == '"') {
        size_t i = 1;
        for (; i < path.size() && path[i] != '"'; ++i) {
            if (path[i] == '\\' && i + 1 < path.size()) ++i;
            address += path[i];
        }
        if (i >= path.size()) return std::nullopt;
        at = i + 1;
    } else {
        at = path.rfind('@');
        if (at == std::string_view::npos || !IsDotString(path.substr(0, at))) return std::nullopt;
        address = path.substr(0, at);
    }
    if (at >= path.size() || path[at] != '@') return std::nullopt;
    address += path.substr(at);
    if (!ReversePathFor(address).Problem.empty()) return std::nullopt;
    return address;
}

}  // namespace tarnwick
