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

}  // namespace tarnwick
