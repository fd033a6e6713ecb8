#include "platform/PrivateProfile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/Exception.h"
#include "platform/FileReplace.h"

namespace tarnwick {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string data;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        data.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return data;
}

// Lines without their ends; CR LF and LF both end a line.
std::vector<std::string> SplitLines(const std::string& data) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < data.size()) {
        size_t end = data.find('\n', start);
        size_t next = end == std::string::npos ? data.size() : end + 1;
        if (end == std::string::npos) end = data.size();
        if (end > start && data[end - 1] == '\r') --end;
        lines.emplace_back(data, start, end - start);
        start = next;
    }
    return lines;
}

// "[name]" (blanks allowed around the brackets and the name): the name, else nothing.
std::optional<std::string_view> SectionName(std::string_view line) {
    std::string_view t = TrimBlanks(line);
    if (t.empty() || t.front() != '[') return std::nullopt;
    t.remove_prefix(1);
    size_t close = t.find(']');
    if (close != std::string_view::npos) t = t.substr(0, close);
    return TrimBlanks(t);
}

struct KeyLine {
    std::string_view key;
    std::string_view value;
};

// "key=value" outside comments (";" first): the trimmed key and value, else nothing.
std::optional<KeyLine> ParseKeyLine(std::string_view line) {
    std::string_view t = TrimBlanks(line);
    if (t.empty() || t.front() == ';' || t.front() == '[') return std::nullopt;
    size_t eq = t.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return KeyLine{TrimBlanks(t.substr(0, eq)), TrimBlanks(t.substr(eq + 1))};
}

bool IsQuote(char c) { return c == '"' || c == '\''; }

// A stored value loses one pair of surrounding quotes: that is how blanks at its ends survive.
std::string Unquote(std::string_view value) {
    if (value.size() >= 2 && IsQuote(value.front()) && value.back() == value.front()) {
        value.remove_prefix(1);
        value.remove_suffix(1);
    }
    return std::string(value);
}

// The text to store for value so that reading gives value back: quoted when it has blanks at an
// end (they would be trimmed) or is itself surrounded by a pair of quotes (they would be taken off).
std::string Quoted(std::string_view value) {
    const bool blankEnd = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()));
    const bool quotedAlready = value.size() >= 2 && IsQuote(value.front()) && value.back() == value.front();
    if (!blankEnd && !quotedAlready) return std::string(value);
    return "\"" + std::string(value) + "\"";
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

bool ValidNames(std::string_view section, std::string_view key, std::string_view value) {
    if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) return false;
    if (section.find(']') != std::string_view::npos) return false;
    std::string_view k = TrimBlanks(key);
    if (k.empty() || k.find('=') != std::string_view::npos || k.front() == '[' || k.front() == ';') return false;
    return true;
}

// Replaces the file at target with data in one step (see TFileReplacement).
bool ReplaceProfile(const std::string& target, const std::string& data, const struct stat* existing) {
    try {
        // Never wider than its owner: the settings file holds passwords.
        TFileReplacement file(target, existing ? existing->st_mode & 0700 : 0600);
        // Keep the owner when an administrator edits someone else's file; harmless if refused.
        if (existing && (existing->st_uid != ::geteuid() || existing->st_gid != ::getegid())) {
            if (::fchown(file.Descriptor(), existing->st_uid, existing->st_gid) != 0) {
            }
        }
        file.Write(data);
        file.Commit();
        return true;
    } catch (const EStreamError&) {
        return false;  // errno holds the reason
    }
}

}  // namespace

std::string GetPrivateProfileString(std::string_view section, std::string_view key, std::string_view defaultValue,
                                    const std::string& path) {
    std::optional<std::string> data = ReadWholeFile(path);
    if (!data) return std::string(defaultValue);
    std::string_view wantSection = TrimBlanks(section);
    std::string_view wantKey = TrimBlanks(key);
    if (wantKey.empty()) return std::string(defaultValue);
    bool inSection = false;
    for (const std::string& line : SplitLines(*data)) {
        if (auto name = SectionName(line)) {
            // A section that appears twice is read from its first appearance only.
            if (inSection) break;
            inSection = SameText(*name, wantSection);
            continue;
        }
        if (!inSection) continue;
        if (auto kv = ParseKeyLine(line); kv && SameText(kv->key, wantKey)) return Unquote(kv->value);
    }
    return std::string(defaultValue);
}

bool WritePrivateProfileString(std::string_view section, std::string_view key, std::string_view value,
                               const std::string& path) {
    if (path.empty() || !ValidNames(section, key, value)) {
        errno = EINVAL;
        return false;
    }

    // Write through a symbolic link to the file it names instead of replacing the link.
    std::string target = path;
    struct stat st {};
    bool exists = false;
    if (::lstat(path.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            char resolved[PATH_MAX];
            if (!::realpath(path.c_str(), resolved)) return false;
            target = resolved;
            if (::stat(target.c_str(), &st) != 0) return false;
        }
        if (!S_ISREG(st.st_mode)) return false;
        exists = true;
    } else if (errno != ENOENT) {
        return false;
    }

    std::vector<std::string> lines;
    if (exists) {
        std::optional<std::string> data = ReadWholeFile(target);
        if (!data) return false;  // never replace what could not be read
        lines = SplitLines(*data);
    }

    std::string_view wantSection = TrimBlanks(section);
    std::string_view wantKey = TrimBlanks(key);
    std::string newLine = std::string(key) + "=" + Quoted(value);

    size_t sectionAt = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) {
        auto name = SectionName(lines[i]);
        if (name && SameText(*name, wantSection)) {
            sectionAt = i;
            break;
        }
    }
    if (sectionAt == lines.size()) {
        lines.push_back("[" + std::string(section) + "]");
        lines.push_back(newLine);
    } else {
        size_t lastContent = sectionAt;  // new keys go after the section's last non-empty line
        bool replaced = false;
        for (size_t i = sectionAt + 1; i < lines.size() && !SectionName(lines[i]); ++i) {
            if (auto kv = ParseKeyLine(lines[i]); kv && SameText(kv->key, wantKey)) {
                lines[i] = newLine;
                replaced = true;
                break;
            }
            if (!TrimBlanks(lines[i]).empty()) lastContent = i;
        }
        if (!replaced) lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(lastContent + 1), newLine);
    }

    std::string out;
    for (const std::string& line : lines) {
        out += line;
        out += "\r\n";
    }
    return ReplaceProfile(target, out, exists ? &st : nullptr);
}

}  // namespace tarnwick
