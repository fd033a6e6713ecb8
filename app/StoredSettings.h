#pragma once
// The settings file read without the window, for the command-line modes.
#include <string>

#include "app/ServerSettings.h"

namespace tarnwick {

struct TStoredSettings {
    TServerSettings Servers;
    std::string ForwardAddress;
    int IntervalMinutes = 5;
};

// Reads the keys the window writes, and CAFile, which only a hand edit sets; the interval is
// brought into 1 to 120 as the window's spin box would. The file must exist (EFOpenError
// otherwise): without it there is nothing to forward.
TStoredSettings ReadStoredSettings(const std::string& path);

}  // namespace tarnwick
