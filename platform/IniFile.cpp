#include "platform/IniFile.h"

#include "platform/PrivateProfile.h"

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
    if (!WritePrivateProfileString(section, key, value, fileName_))
        throw EIniFileException(Format("%s に書き込めません", fileName_.c_str()));
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
    WriteString(section, key, IntToStr(value));
}

}  // namespace tarnwick
