#pragma once
// The runtime's exception base and the small string conversions the mail code leans on.
#include <cstdarg>
#include <exception>
#include <string>
#include <string_view>

namespace tarnwick {

// Base of every error the program raises; carries a message in the system code page.
// Message() is the error's own text; what() is the text to show the user: the same, after the
// context a caller added on the way out (which server, which step).
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const std::string& Message() const noexcept { return message_; }
    void SetMessage(std::string message) {
        message_ = std::move(message);
        shown_.clear();
    }
    // Puts prefix in front of what() (once: a second call replaces the first prefix).
    void SetContext(const std::string& prefix) { shown_ = prefix + message_; }
    const char* what() const noexcept override { return shown_.empty() ? message_.c_str() : shown_.c_str(); }

private:
    std::string message_;
    std::string shown_;
};

// Raised by the integer conversions: "'%s' は整数ではありません".
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

class EStringListError : public Exception {
public:
    using Exception::Exception;
};

// File errors of the runtime's streams.
class EStreamError : public Exception {
public:
    using Exception::Exception;
};
class EFOpenError : public EStreamError {  // "ファイル %s を開けません"
public:
    using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {  // "ファイル %s を作成できません"
public:
    using EStreamError::EStreamError;
};
class EReadError : public EStreamError {  // "ストリームの読み込みエラー"
public:
    using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {  // "ストリームの書き込みエラー"
public:
    using EStreamError::EStreamError;
};

// printf-style formatting into a std::string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* fmt, va_list args);

// Decimal (optionally signed, or "0x"/"$" hexadecimal) text to int; raises EConvertError.
int StrToInt(std::string_view text);
int StrToIntDef(std::string_view text, int fallback);
bool TryStrToInt(std::string_view text, int& value);
std::string IntToStr(long long value);

// ASCII-only case and blank handling, as the runtime's non-locale routines do.
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);
bool SameText(std::string_view a, std::string_view b);
int CompareText(std::string_view a, std::string_view b);
// Trim removes bytes <= ' ' from both ends (as the runtime's Trim does).
std::string Trim(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);

}  // namespace tarnwick
