#pragma once
// Private-profile (INI) file access: "[section]" lines and "key=value" lines in the system code page.
#include <string>
#include <string_view>

namespace tarnwick {

// Value of key in [section] of the file at path, or defaultValue when file, section or key is missing.
// The value comes back whole, without the blanks around it and without one pair of surrounding
// double or single quotes.
std::string GetPrivateProfileString(std::string_view section, std::string_view key, std::string_view defaultValue,
                                    const std::string& path);

// Writes key=value into [section]; false when the file cannot be written (errno tells why).
// A value with blanks at an end, or already surrounded by quotes, is written in double quotes.
// Also false, with the file untouched, for names or values that would break the file's line
// structure (a line break anywhere, "]" in the section, "=" in the key, an empty key).
bool WritePrivateProfileString(std::string_view section, std::string_view key, std::string_view value,
                               const std::string& path);

}  // namespace tarnwick
