#pragma once
// An INI file opened by name, read and written key by key through the private-profile functions.
#include <string>
#include <string_view>

#include "platform/Exception.h"

namespace tarnwick {

// A key that could not be written: "%s に書き込めません" with the file's full path, then the reason.
class EIniFileException : public Exception {
public:
    using Exception::Exception;
};

class TIniFile {
public:
    // Opening creates nothing; a missing file reads as empty.
    explicit TIniFile(std::string path);

    std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
    // "0x"/"0X" followed by at least one more character is hexadecimal, anything else decimal;
    // a missing or unreadable value gives def.
    int ReadInteger(std::string_view section, std::string_view key, int def) const;
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, int value);

    const std::string& FileName() const { return fileName_; }

private:
    std::string fileName_;
};

}  // namespace tarnwick
