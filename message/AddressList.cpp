#include "message/AddressList.h"

#include <algorithm>

#include "message/MailGlobal.h"
#include "platform/Exception.h"
#include "platform/Locale.h"

namespace tarnwick {

namespace {

constexpr std::string_view kBlanks = " \t";

bool IsBlankText(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) <= ' '; });
}

std::string_view TrimLeftView(std::string_view text) {
    size_t b = 0;
    while (b < text.size() && static_cast<unsigned char>(text[b]) <= ' ') ++b;
    return text.substr(b);
}

// Trimmed and stripped of spaces and TABs, the way address pieces are taken.
std::string Stripped(std::string_view text) { return TrimChars(kBlanks, Trim(text)); }

// The same in place: a name that is stripped again at every "<" must not be copied every time.
void StripInPlace(std::string& text) {
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.pop_back();
    size_t b = 0;
    while (b < text.size() && static_cast<unsigned char>(text[b]) <= ' ') ++b;
    if (b > 0) text.erase(0, b);
}

// Quotes text against an allowed set, starting at the 1-based position i of its first byte
// outside the set: a backslash goes before each quote and backslash. The closing quote is the
// caller's. A double-byte character is copied whole, so a trail byte that equals a backslash
// gets no escape of its own (that would split the character and garble the name).
std::string QuoteFrom(std::string_view allowed, std::string_view text, size_t i) {
    std::string out = "\"";
    out.reserve(text.size() + 8);
    while (i > 0) {
        out.append(text.substr(0, i - 1));
        char c = text[i - 1];
        if (IsLeadByte(c) && i < text.size()) {
            out += c;
            out += text[i];
            text.remove_prefix(i + 1);
        } else {
            if (QuotedSpecials.find(c) != std::string_view::npos) out += '\\';
            out += c;
            text.remove_prefix(i);
        }
        i = FirstNotIn(allowed, text);
    }
    out.append(text);
    return out;
}

// 0-based index of the last "@" that is a character of its own (not a trail byte), npos if none.
size_t LastAt(std::string_view text) {
    size_t found = std::string_view::npos;
    for (size_t i = 0; i < text.size(); ++i) {
        if (IsLeadByte(text[i])) {
            ++i;
            continue;
        }
        if (text[i] == '@') found = i;
    }
    return found;
}

}  // namespace

size_t FirstOfAny(std::string_view chars, std::string_view text) {
    // An ASCII needle can never match the lead byte left at the end of a cut prefix, so the
    // search can look at a growing prefix: the cost follows the distance to the hit rather than
    // the length of the text, which keeps the front-consuming parsers linear.
    bool ascii = std::all_of(chars.begin(), chars.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    size_t window = ascii ? 64 : text.size();
    for (;;) {
        std::string_view part = text.substr(0, window);
        size_t best = 0;
        for (char c : chars) {
            size_t p = TextPos(std::string_view(&c, 1), best ? part.substr(0, best - 1) : part);
            if (p != 0) best = p;
        }
        if (best != 0 || part.size() == text.size()) return best;
        window *= 2;
    }
}

size_t FirstNotIn(std::string_view chars, std::string_view text) {
    if (chars.empty()) return 1;
    for (size_t i = 0; i < text.size(); ++i)
        if (TextPos(std::string_view(&text[i], 1), chars) == 0) return i + 1;
    return 0;
}

std::string TrimChars(std::string_view chars, std::string_view text) {
    size_t b = 0, e = text.size();
    while (b < e && chars.find(text[b]) != std::string_view::npos) ++b;
    while (e > b && chars.find(text[e - 1]) != std::string_view::npos) --e;
    return std::string(text.substr(b, e - b));
}

// ---- TMailAddressItem ----

void TMailAddressItem::Assign(const TMailAddressItem& source) {
    if (&source == this) return;
    Address = source.Address;
    Name = source.Name;
}

std::string TMailAddressItem::AddressForHeader() const {
    if (Address.empty()) return Name.empty() ? std::string() : std::string("<>");
    std::string_view whole = Address;
    size_t at = LastAt(whole);
    // Without an "@" the whole address counts as the local part.
    std::string_view local = at == std::string_view::npos ? whole : whole.substr(0, at);
    std::string_view domain = at == std::string_view::npos ? std::string_view() : whole.substr(at);
    size_t i = FirstNotIn(AtomChars, local);
    if (i > 0 && local[i - 1] != '.') {
        std::string out = "<";
        out += QuoteFrom(AtomChars, local, i);
        out += '"';
        out.append(domain);
        out += '>';
        return out;
    }
    if (Name.empty()) return Address;
    return "<" + Address + ">";
}

std::string TMailAddressItem::Text() const {
    if (Name.empty() || Name == UpperCase(Address)) return AddressForHeader();
    size_t i = FirstNotIn(AtomCharsSpace, Name);
    if (i == 0) return Name + " " + AddressForHeader();
    return QuoteFrom(AtomCharsSpace, Name, i) + "\" " + AddressForHeader();
}

void TMailAddressItem::SetText(std::string_view value) {
    Address.clear();
    Name.clear();
    const std::string trimmed = Trim(value);
    std::string_view s = trimmed;
    if (s.empty()) return;

    constexpr std::string_view startSet = "(\"< @\t";
    size_t p = FirstOfAny(startSet, s);
    if (p == 0) {
        Address = trimmed;
        return;
    }
    int depth = 0;
    bool inQuote = false, inAddress = false, angle = false, afterAt = false;
    size_t quoteStart = 0;  // where the open quote's text begins in Name
    while (p > 0) {
        const char c = s[p - 1];
        const std::string_view before = s.substr(0, p - 1);
        switch (c) {
        case ' ':
        case '\t':
            if (p > 1) {
                if (afterAt) Address += Trim(before);
                else Name.append(s.substr(0, p));
            }
            s.remove_prefix(p);
            break;
        case '(':
            ++depth;
            // Inside a comment everything up to its end is dropped, nested comments included.
            if (p > 1 && depth == 1) {
                if (inAddress) Address += Trim(before);
                else Name.append(before);
            }
            s.remove_prefix(p);
            break;
        case ')':
            --depth;
            s.remove_prefix(p);  // the comment's text goes with it
            break;
        case '"':
            if (inQuote) {
                if (angle) {
                    Address += before;  // a quoted local part is taken as it stands
                } else if (p < s.size() && s[p] == '@') {
                    // A quoted local part without brackets: what the quote gathered is no name.
                    Address += Name.substr(quoteStart);
                    Address += before;
                    Name.resize(quoteStart);
                } else {
                    Name += Trim(before);
                }
                s.remove_prefix(p);
                inQuote = false;
            } else {
                inQuote = true;
                quoteStart = Name.size();
                s.remove_prefix(1);
            }
            break;
        case '<':
            Name.append(before);
            StripInPlace(Name);
            angle = inAddress = true;
            s.remove_prefix(p);
            break;
        case '>':
            inAddress = afterAt = false;
            Address += Stripped(before);
            s.remove_prefix(p);
            break;
        case '@':
            afterAt = true;
            if (!inAddress) {
                if (angle) throw EMailAddressParseError("@ Outside address");
                inAddress = true;
            }
            Address.append(s.substr(0, p));
            s.remove_prefix(p);
            break;
        case '.':
            if (angle) {
                // White space around the dots of a bracketed domain is allowed.
                Address += Stripped(before);
                Address += '.';
                s = TrimLeftView(s.substr(p));
            } else {
                Address.append(s.substr(0, p));
                s.remove_prefix(p);
            }
            break;
        case '\\': {
            size_t cut = std::min(p + 1, s.size());
            if (inQuote) {
                std::string& target = inAddress ? Address : Name;
                target.append(before);
                if (p < s.size()) target += s[p];
            }
            s.remove_prefix(cut);
            break;
        }
        default:
            s.remove_prefix(p);
            break;
        }

        std::string_view set;
        if (depth > 0) set = "()\\";
        else if (inQuote) set = "\"\\";
        else if (afterAt && angle) set = ".>(";
        else if (afterAt) set = ".( ";
        else if (inAddress) set = "\"(@>";
        else set = startSet;
        p = FirstOfAny(set, s);
    }
    // The text of a comment left open is no part of the address.
    if (inAddress && !angle && depth == 0) Address += Stripped(s);
}

// ---- TMailAddressList ----

TMailAddressItem& TMailAddressList::Add() {
    items_.push_back(std::make_unique<TMailAddressItem>(this));
    return *items_.back();
}

void TMailAddressList::Delete(int index) {
    if (index < 0 || index >= Count()) throw EStringListError(Format("List index out of bounds (%d)", index));
    items_.erase(items_.begin() + index);
}

void TMailAddressList::Assign(const TMailAddressList& source) {
    if (&source == this) return;
    Clear();
    for (const auto& item : source.items_) Add().Assign(*item);
}

void TMailAddressList::AddFromText(std::string_view text, bool keepEmpty) {
    if (Count() >= MaxHeaderListItems) throw EMailAddressParseError("Too many addresses.");
    TMailAddressItem& item = Add();
    item.SetText(text);  // on failure the item stays with what was read
    if (keepEmpty) return;
    std::string back = Trim(item.Text());
    if (back.empty() || back == "<>") items_.pop_back();
}

void TMailAddressList::ParseAddresses(std::string_view text) {
    Clear();
    if (IsBlankText(text)) return;

    constexpr std::string_view startSet = ":;(\", \t";
    std::string_view s = text;
    size_t p = FirstOfAny(startSet, s);
    if (p == 0) {
        AddFromText(TrimLeftView(s), false);
        return;
    }
    std::string pending;
    int depth = 0;
    bool inQuote = false;
    while (p > 0) {
        const char c = s[p - 1];
        switch (c) {
        case ':':  // a group's name is not kept
            s.remove_prefix(p);
            pending.clear();
            break;
        case ';':  // end of a group
            pending.append(s.substr(0, p - 1));
            s.remove_prefix(p);
            // Blanks alone never count (every use trims them), so they need not pile up.
            if (!IsBlankText(pending)) AddFromText(TrimLeftView(pending), true);
            pending.clear();
            break;
        case ',':
            pending.append(s.substr(0, p - 1));
            s.remove_prefix(p);
            AddFromText(pending, false);
            pending.clear();
            break;
        case '(':
            ++depth;
            pending.append(s.substr(0, p));
            s.remove_prefix(p);
            break;
        case ')':
            --depth;
            pending.append(s.substr(0, p));
            s.remove_prefix(p);
            break;
        case '"':
            inQuote = !inQuote;
            pending.append(s.substr(0, p));
            s.remove_prefix(p);
            break;
        case '\\': {
            size_t cut = std::min(p + 1, s.size());
            pending.append(s.substr(0, cut));
            s.remove_prefix(cut);
            break;
        }
        default:  // space or TAB
            pending.append(s.substr(0, p));
            s.remove_prefix(p);
            break;
        }
        std::string_view set = depth > 0 ? std::string_view("(\\)") : inQuote ? std::string_view("\"\\") : startSet;
        p = FirstOfAny(set, s);
    }
    if (!IsBlankText(pending) || !IsBlankText(s)) {
        pending.append(s);
        AddFromText(TrimLeftView(pending), false);
    }
}

}  // namespace tarnwick
