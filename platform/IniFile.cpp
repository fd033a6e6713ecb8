#include "platform/IniFile.h"

#include <cerrno>
#include <cstring>

#include "platform/PrivateProfile.h"
#include "platform/Streams.h"

namespace tarnwick {

TIniFile::TIniFile(std::string path) : fileName_(std::move(path)) {}

std::string TIniFile::ReadString(std::string_view section, std::string_view key, std::string_view def) const {
    return GetPrivateProfileString(section, key, def, fileName_);
}

int TIniFile::ReadInteger(std::string_view section, std::string_view key, int def) const {
    std::string text = ReadString(section, key, "");
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text = "$" + text.substr(2);
    return StrToIntDef(text, def);
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    if (!WritePrivateProfileString(section, key, value, fileName_)) {
        const char* reason = std::strerror(errno);
        throw EIniFileException(Format("%s に書き込めません。%s", ExpandFileName(fileName_).c_str(), reason));
    }
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
    WriteString(section, key, IntToStr(value));
}

}  // namespace tarnwick
