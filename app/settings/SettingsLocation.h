#pragma once
// Where the settings file and the forwarded-id ledgers live, and the lock name that goes with them.
//
// Portable: the settings file beside the executable when that folder is writable or already holds
// the file; ledgers in the current folder. Installed: $XDG_CONFIG_HOME/tarnwick/tarnwick.ini and
// ledgers in $XDG_DATA_HOME/tarnwick/. A settings file named on the command line brings its
// ledgers along in its own folder and gets its own single-instance lock.
#include <functional>
#include <string>

namespace tarnwick {

struct TSettingsLocation {
    std::string SettingsFile;  // absolute unless the executable's folder is unknown
    std::string LedgerFolder;  // empty: the current folder
    std::string LockName;      // for TNamedMutex
    bool Portable = false;
    // Set by PrepareSettingsLocation when it took group and other rights off the settings file:
    // the log line that says so.
    std::string Tightened;
};

// The settings file the window reads and writes; empty means beside the executable.
extern std::string SettingsFile;
// Whether it was named on the command line (--config), so that other starts must name it too.
extern bool SettingsFileGiven;

using TGetEnv = std::function<const char*(const char* name)>;

// exeFolder ends with '/' (as ExePath); configFile is the --config argument or empty.
TSettingsLocation ResolveSettingsLocation(const std::string& exeFolder, const std::string& exeName,
                                          const std::string& configFile, const TGetEnv& getEnv);

// Makes the folders of an installed location (0700), tightens an existing settings file, wherever
// it lives, to its owner alone (it holds passwords) and moves into the ledger folder. Raises
// tarnwick::Exception when a folder cannot be made.
void PrepareSettingsLocation(TSettingsLocation& location);

}  // namespace tarnwick
