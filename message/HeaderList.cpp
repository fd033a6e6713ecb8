#include "message/HeaderList.h"

#include <vector>

#include "message/MailGlobal.h"
#include "platform/Exception.h"
#include "platform/Locale.h"

namespace tarnwick {

namespace {

bool IsContinuation(const std::string& line) { return !line.empty() && (line[0] == ' ' || line[0] == '\t'); }

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// Case-insensitive for ASCII letters; the two bytes of a double-byte character compare exactly,
// so a trail byte that happens to be a letter is not folded.
bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (IsLeadByte(a[i])) {
            if (a[i] != b[i]) return false;
            if (i + 1 < a.size() && a[i + 1] != b[i + 1]) return false;
            ++i;
            continue;
        }
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
    }
    return true;
}

bool HasLowerCase(std::string_view text) {
    for (char c : text)
        if (c >= 'a' && c <= 'z') return true;
    return false;
}

}  // namespace

size_t TMailHeaderList::NameLength(std::string_view line) const {
    const std::string separator = TrimRight(ValueSeparator);
    if (separator.empty()) return std::string_view::npos;
    size_t p;
    // Upper-casing ASCII letters moves no byte and no character boundary, so the line itself
    // can be searched unless the separator holds letters that upper-casing would change.
    if (KeepNameCase || !HasLowerCase(separator)) p = TextPos(separator, line);
    else p = TextPos(separator, UpperCase(line));
    return p == 0 ? std::string_view::npos : p - 1;
}

std::string TMailHeaderList::LineName(int index) const {
    if (index < 0 || index >= Count()) return {};
    const std::string& line = (*this)[index];
    size_t n = NameLength(line);
    if (n == std::string_view::npos) return {};
    std::string_view name = std::string_view(line).substr(0, n);
    return KeepNameCase ? std::string(name) : UpperCase(name);
}

std::string TMailHeaderList::LineValue(int index) const {
    if (index < 0 || index >= Count()) return {};
    const std::string& line = (*this)[index];
    size_t n = NameLength(line);
    if (n == std::string_view::npos) n = 0;  // no name: the value still skips one character
    std::string_view first = n + 1 < line.size() ? std::string_view(line).substr(n + 1) : std::string_view();
    if (!JoinContinuations) return Trim(first);
    // Joining trims each piece and puts one space between the pieces that are not empty.
    std::string value = Trim(first);
    for (int i = index + 1; i < Count() && IsContinuation((*this)[i]); ++i) {
        std::string piece = Trim((*this)[i]);
        if (piece.empty()) continue;
        if (!value.empty()) value += ' ';
        value += piece;
    }
    return value;
}

int TMailHeaderList::FindName(std::string_view name) const {
    for (int i = 0; i < Count(); ++i) {
        const std::string& line = (*this)[i];
        if (line.size() < name.size()) continue;
        size_t n = NameLength(line);
        std::string_view lineName = n == std::string_view::npos ? std::string_view() : std::string_view(line).substr(0, n);
        if (SameName(lineName, name)) return i;
    }
    return -1;
}

std::string TMailHeaderList::GetHeaderValue(std::string_view name) const { return LineValue(FindName(name)); }

void TMailHeaderList::SetHeaderValue(std::string_view name, std::string_view value) {
    int i = FindName(name);
    if (!value.empty()) {
        if (i < 0) i = Add("");
        std::string line;
        line.reserve(name.size() + ValueSeparator.size() + value.size());
        line.append(name).append(ValueSeparator).append(value);
        if (FoldLongLines) {
            RemoveContinuations(i);
            ReplaceFolded(line, i);
        } else {
            (*this)[i] = std::move(line);
        }
    } else if (i >= 0) {
        if (FoldLongLines) RemoveContinuations(i);
        Delete(i);
    }
}

void TMailHeaderList::RemoveContinuations(int index) {
    if (index < 0) return;
    while (index + 1 < Count() && IsContinuation((*this)[index + 1])) Delete(index + 1);
}

void TMailHeaderList::ReplaceFolded(std::string_view text, int index) {
    TStringList pieces = SplitFolded(text);
    if (pieces.Empty()) {
        (*this)[index] = std::string();
        return;
    }
    (*this)[index] = pieces[pieces.Count() - 1];
    for (int k = pieces.Count() - 2; k >= 0; --k) Insert(index, pieces[k]);
}

TStringList TMailHeaderList::SplitFolded(std::string_view text) const {
    const std::string wrapped = WrapAtBreaks(text, "\r\n ", MailFoldBreakChars, FoldWidth);
    TStringList pieces;
    auto take = [&](std::string_view piece) {
        std::string line = TrimRight(piece);
        // A value may carry its own line breaks (encoded words are joined by CR LF TAB): an
        // empty piece would end the header block, and a piece that does not begin with white
        // space would start a header line of its own.
        if (line.empty()) return;
        if (!pieces.Empty() && line[0] != ' ' && line[0] != '\t') line.insert(line.begin(), ' ');
        pieces.Add(std::move(line));
    };
    size_t start = 0;
    for (size_t i = 0; i < wrapped.size(); ++i) {
        char c = wrapped[i];
        if (c != '\r' && c != '\n') continue;
        take(std::string_view(wrapped).substr(start, i - start));
        if (c == '\r' && i + 1 < wrapped.size() && wrapped[i + 1] == '\n') ++i;
        start = i + 1;
    }
    take(std::string_view(wrapped).substr(start));
    return pieces;
}

std::string TMailHeaderList::WrapAtBreaks(std::string_view line, std::string_view breakText, const TCharSet& breakChars,
                                          int width) {
    // Positions are 1-based as in the description of the folding; at(p) reads line[p - 1].
    const size_t len = line.size();
    auto at = [&](size_t p) { return line[p - 1]; };
    std::string result;
    result.reserve(len + len / 16 + 8);
    long long column = 1;
    size_t pos = 1, start = 1, lastBreak = 0;
    bool quoteOpen = false, existingBreak = false;
    while (pos <= len) {
        const char c = at(pos);
        if (IsLeadByte(c)) {
            ++pos;  // the trail byte is no break position
            ++column;
        } else if (!breakText.empty() && c == breakText[0]) {
            if (!quoteOpen) {
                existingBreak = SameText(line.substr(pos - 1, breakText.size()), breakText);
                if (existingBreak) {
                    pos += breakText.size() - 1;
                    lastBreak = pos;
                }
            }
        } else if (breakChars.Contains(c)) {
            if (!quoteOpen) lastBreak = pos;
        } else if (c == '"') {
            quoteOpen = !quoteOpen;
        }
        ++pos;
        ++column;
        if (!quoteOpen && (existingBreak || (column > width && lastBreak > start))) {
            column = static_cast<long long>(pos) - static_cast<long long>(lastBreak);
            result.append(line.substr(start - 1, lastBreak - start + 1));
            if (c != '"') {
                // Skipped characters stay in the output; they are only not taken as breaks again.
                while (pos <= len && (breakChars.Contains(at(pos)) || at(pos) == '\r' || at(pos) == '\n')) ++pos;
            }
            if (!existingBreak && pos < len) result.append(breakText);
            start = lastBreak + 1;
            existingBreak = false;
        }
    }
    if (start <= len) result.append(line.substr(start - 1));
    return result;
}

}  // namespace tarnwick
