#pragma once
// Starting with the session: a desktop entry in the user's autostart folder
// ($XDG_CONFIG_HOME/autostart, normally ~/.config/autostart).
#include <string>

#include "app/settings/Settings.h"

namespace tarnwick {

// The entry this program writes: <autostart folder>/tarnwick.desktop.
std::string AutostartFile(const TGetEnv& getEnv);
bool AutostartEnabled(const std::string& entryFile);
// Writes the entry (atomically, making the folder if needed): the program, with --config FILE when
// configFile is not empty, started in workFolder. Raises tarnwick::Exception when it cannot.
void EnableAutostart(const std::string& entryFile, const std::string& program, const std::string& configFile,
                     const std::string& workFolder);
// Removes the entry; a missing one is fine. Raises tarnwick::Exception when it cannot.
void DisableAutostart(const std::string& entryFile);

// One argument of a desktop entry's Exec key, quoted and escaped as the entry format asks.
std::string DesktopExecArg(const std::string& arg);

}  // namespace tarnwick
