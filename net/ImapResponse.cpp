#include "net/ImapResponse.h"

#include <charconv>

#include "net/MailExceptions.h"
#include "platform/Exception.h"

namespace tarnwick {

namespace {

bool IsStatusWord(std::string_view word) {
    for (std::string_view s : {"OK", "NO", "BAD", "PREAUTH", "BYE"})
        if (SameText(word, s)) return true;
    return false;
}

bool AllDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

// The first two words of a response's first line.
void LeadingWords(std::string_view line, std::string_view& first, std::string_view& second) {
    const size_t gap = line.find(' ');
    first = line.substr(0, gap);
    second = {};
    if (gap == std::string_view::npos) return;
    std::string_view rest = line.substr(gap + 1);
    second = rest.substr(0, rest.find_first_of(" ["));
}

// Walks the texts and literals of one response.
class TParser {
public:
    TParser(std::vector<std::string>& texts, std::vector<std::string>& literals, const TImapLimits& limits)
        : texts_(texts), literals_(literals), limits_(limits) {}

    TImapResponse Parse() {
        TImapResponse r;
        if (Peek() == '+') {
            ++at_;
            if (Peek() == ' ') ++at_;
            r.Type = TImapResponse::TType::Continuation;
            r.Text = Rest();
            return r;
        }
        if (Peek() == '*') {
            ++at_;
        } else {
            r.Type = TImapResponse::TType::Tagged;
            r.Tag = Word();
            if (r.Tag.empty()) Fail("no tag");
        }
        Space();
        std::string word = Word();
        if (word.empty()) Fail("no response name");
        if (r.Type == TImapResponse::TType::Untagged && AllDigits(word)) {
            uint64_t n = 0;
            if (!ToNumber(word, n) || n > UINT32_MAX) Fail("number out of range");
            r.HasNumber = true;
            r.Number = static_cast<uint32_t>(n);
            Space();
            word = Word();
            if (word.empty()) Fail("no name after the number");
        }
        word = UpperCase(word);
        if (!r.HasNumber && IsStatusWord(word)) {
            if (r.Type == TImapResponse::TType::Tagged && word != "OK" && word != "NO" && word != "BAD")
                Fail("tagged " + word);
            r.Status = word;
            StatusText(r);
            return r;
        }
        if (r.Type == TImapResponse::TType::Tagged) Fail("tagged data");
        r.Name = word;
        Values(r.Items, 0, false);
        return r;
    }

private:
    [[noreturn]] void Fail(const std::string& what) { throw EMailIMAPSyntax(what + "."); }

    const std::string& Text() const { return texts_[segment_]; }
    bool AtSegmentEnd() const { return at_ >= Text().size(); }
    // The next byte of the current text, 0 at its end.
    char Peek() const { return AtSegmentEnd() ? '\0' : Text()[at_]; }
    bool AtEnd() const { return AtSegmentEnd() && segment_ >= literals_.size(); }

    std::string Rest() {
        std::string rest = Text().substr(std::min(at_, Text().size()));
        at_ = Text().size();
        return rest;
    }

    void Space() {
        if (Peek() != ' ') Fail("a space expected");
        while (Peek() == ' ') ++at_;
    }

    // A tag, a name or a number: up to a space or a bracket of a list.
    std::string Word() {
        const size_t start = at_;
        while (!AtSegmentEnd()) {
            const char c = Peek();
            if (c == ' ' || c == '(' || c == ')' || c == '[' || c == '"' || c == '{' || static_cast<unsigned char>(c) < 0x20)
                break;
            ++at_;
        }
        return Text().substr(start, at_ - start);
    }

    // resp-text: ["[" code [SP text] "]" SP] text, read leniently (the text may be missing).
    void StatusText(TImapResponse& r) {
        if (AtSegmentEnd()) return;
        Space();
        if (Peek() == '[') {
            ++at_;
            const size_t close = Text().find(']', at_);
            if (close == std::string::npos) Fail("unterminated response code");
            std::string_view code(Text().data() + at_, close - at_);
            const size_t gap = code.find(' ');
            r.Code = UpperCase(std::string(code.substr(0, gap)));
            if (gap != std::string_view::npos) r.CodeText = std::string(code.substr(gap + 1));
            at_ = close + 1;
            if (Peek() == ' ') ++at_;
        }
        r.Text = Rest();
    }

    void Count() {
        if (++values_ > limits_.MaxValues) throw EMailTooManyLines("IMAP response of more than " +
                                                                  std::to_string(limits_.MaxValues) + " values.");
    }

    // Values separated by spaces, up to the end (or, inside a list, the closing bracket).
    void Values(std::vector<TImapValue>& into, size_t depth, bool inList) {
        for (;;) {
            if (inList && Peek() == ')') {
                ++at_;
                return;
            }
            if (AtEnd()) {
                if (inList) Fail("unterminated list");
                return;
            }
            if (!into.empty() || !inList) {
                // Servers differ in spaces at the end or twice between values.
                Space();
                if (inList && Peek() == ')') continue;
                if (AtEnd()) continue;
            }
            into.push_back(Value(depth));
        }
    }

    TImapValue Value(size_t depth) {
        Count();
        TImapValue v;
        const char c = Peek();
        if (c == '(') {
            if (depth + 1 > limits_.MaxDepth) Fail("lists nested too deep");
            ++at_;
            v.Kind = TImapValue::TKind::List;
            Values(v.Items, depth + 1, true);
        } else if (c == '"') {
            v.Kind = TImapValue::TKind::String;
            v.Text = Quoted();
        } else if (c == '{' || (c == '~' && at_ + 1 < Text().size() && Text()[at_ + 1] == '{')) {
            v.Kind = TImapValue::TKind::String;
            v.Text = Literal();
        } else {
            v.Text = Atom();
            if (v.Text.empty()) Fail(std::string("unexpected ") + (AtSegmentEnd() ? "end" : "character"));
            if (SameText(v.Text, "NIL")) v.Kind = TImapValue::TKind::Nil;
        }
        return v;
    }

    std::string Quoted() {
        ++at_;
        std::string out;
        for (;;) {
            if (AtSegmentEnd()) Fail("unterminated quoted string");
            char c = Text()[at_++];
            if (c == '"') return out;
            if (c == '\\') {
                if (AtSegmentEnd()) Fail("unterminated quoted string");
                c = Text()[at_++];
                if (c != '\\' && c != '"') Fail("bad escape in a quoted string");
            }
            out += c;
        }
    }

    // "{n}" or "~{n}" (a "+" after n in case a server echoes one) at the end of a text; the
    // literal that follows it.
    std::string Literal() {
        if (Peek() == '~') ++at_;
        const size_t close = Text().find('}', at_);
        if (close == std::string::npos || close + 1 != Text().size() || segment_ >= literals_.size())
            Fail("literal not at the end of a line");
        at_ = Text().size();
        std::string literal = std::move(literals_[segment_]);
        ++segment_;
        at_ = 0;
        return literal;
    }

    // An atom; a "[...]" inside it (a fetch item's section) may hold spaces and brackets.
    std::string Atom() {
        const size_t start = at_;
        while (!AtSegmentEnd()) {
            const char c = Peek();
            if (c == '[') {
                const size_t close = Text().find(']', at_);
                if (close == std::string::npos) Fail("unterminated section");
                at_ = close + 1;
                continue;
            }
            if (c == ' ' || c == '(' || c == ')' || c == '"' || c == '{' || static_cast<unsigned char>(c) < 0x20 ||
                c == 0x7F)
                break;
            ++at_;
        }
        return Text().substr(start, at_ - start);
    }

    static bool ToNumber(std::string_view text, uint64_t& value) {
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        return error == std::errc() && end == text.data() + text.size();
    }

    std::vector<std::string>& texts_;
    std::vector<std::string>& literals_;
    const TImapLimits& limits_;
    size_t segment_ = 0;
    size_t at_ = 0;
    size_t values_ = 0;
};

}  // namespace

bool TImapValue::IsAtom(std::string_view name) const { return Kind == TKind::Atom && SameText(Text, name); }

bool TImapValue::Number(uint64_t& value) const {
    if (Kind != TKind::Atom || !AllDigits(Text)) return false;
    auto [end, error] = std::from_chars(Text.data(), Text.data() + Text.size(), value);
    return error == std::errc() && end == Text.data() + Text.size();
}

int64_t TImapResponseReader::Begin(std::string line) {
    texts_.clear();
    literals_.clear();
    textBytes_ = 0;
    literalBytes_ = 0;
    std::string_view first, second;
    LeadingWords(line, first, second);
    // Status texts and continuations are free text: a "{5}" at their end is no literal.
    mayHaveLiterals_ = !line.empty() && line[0] != '+' && !IsStatusWord(second);
    textBytes_ = line.size();
    texts_.push_back(std::move(line));
    return AfterLine();
}

int64_t TImapResponseReader::Continue(std::string literal, std::string line) {
    literalBytes_ += static_cast<int64_t>(literal.size());
    literals_.push_back(std::move(literal));
    textBytes_ += line.size();
    texts_.push_back(std::move(line));
    return AfterLine();
}

int64_t TImapResponseReader::AfterLine() {
    if (textBytes_ > limits_.MaxText) throw EMailReadLnMaxLineLengthExceeded();
    if (!mayHaveLiterals_) return -1;
    const std::string& line = texts_.back();
    if (line.empty() || line.back() != '}') return -1;
    const size_t open = line.rfind('{');
    if (open == std::string::npos) return -1;
    std::string_view digits(line.data() + open + 1, line.size() - open - 2);
    if (!digits.empty() && digits.back() == '+') digits.remove_suffix(1);
    if (!AllDigits(digits)) return -1;
    uint64_t count = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), count);
    if (error != std::errc() || end != digits.data() + digits.size() || count > INT64_MAX / 2)
        throw EMailIMAPSyntax("literal size out of range.");
    const int64_t size = static_cast<int64_t>(count);
    if (limits_.MaxLiteral > 0 && size > limits_.MaxLiteral - literalBytes_)
        throw EMailMessageTooLarge(size, limits_.MaxLiteral);
    if (literals_.size() >= limits_.MaxValues)
        throw EMailTooManyLines("IMAP response of more than " + std::to_string(limits_.MaxValues) + " values.");
    return size;
}

TImapResponse TImapResponseReader::Finish() {
    if (texts_.empty()) throw EMailIMAPSyntax("empty response.");
    if (literals_.size() >= texts_.size()) throw EMailIMAPSyntax("literal without the line after it.");
    return TParser(texts_, literals_, limits_).Parse();
}

std::vector<TImapResponse> ParseImapResponses(std::string_view bytes, const TImapLimits& limits) {
    std::vector<TImapResponse> out;
    size_t at = 0;
    auto line = [&] {
        const size_t lf = bytes.find('\n', at);
        const size_t end = lf == std::string_view::npos ? bytes.size() : lf;
        std::string text(bytes.substr(at, end - at));
        if (!text.empty() && text.back() == '\r') text.pop_back();
        at = lf == std::string_view::npos ? bytes.size() : lf + 1;
        return text;
    };
    while (at < bytes.size()) {
        TImapResponseReader reader(limits);
        int64_t count = reader.Begin(line());
        while (count >= 0) {
            if (static_cast<uint64_t>(count) > bytes.size() - at) throw EMailIMAPSyntax("literal cut short.");
            std::string literal(bytes.substr(at, static_cast<size_t>(count)));
            at += static_cast<size_t>(count);
            count = reader.Continue(std::move(literal), line());
        }
        out.push_back(reader.Finish());
    }
    return out;
}

bool ImapQuoted(const std::string& text, std::string& quoted) {
    for (unsigned char c : text)
        if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') return false;
    quoted = "\"" + text + "\"";
    return true;
}

}  // namespace tarnwick
