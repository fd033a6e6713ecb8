#pragma once
// The program's command line: the mode to run in and the settings file to use.
#include <string>
#include <vector>

namespace tarnwick {

enum class TRunMode { Window, Once, Watch, Authorize, Help, Version };

struct TCommandLine {
    TRunMode Mode = TRunMode::Window;
    std::string ConfigFile;  // --config FILE; empty: the usual place
    std::string Error;       // non-empty: the line could not be understood
};

// Options of our own start with "--" (plus -h and -V); single-dash options of the toolkit
// (-platform, -style, ...) are left for the window mode.
TCommandLine ParseCommandLine(const std::vector<std::string>& args);

// The text of --help, in UTF-8: Japanese when the locale (LC_ALL, LC_MESSAGES, LANG: the first
// that is set) is a Japanese one.
std::string UsageText(const std::string& program);
std::string UsageText(const std::string& program, const std::string& locale);
std::string UsageLocale();

}  // namespace tarnwick
