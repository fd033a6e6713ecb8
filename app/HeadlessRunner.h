#pragma once
// The command-line modes: one forwarding cycle (--once) or watching without a display (--watch).
// No toolkit application object is made, so nothing connects to a display.
#include <string>

#include "app/cycle/Cycle.h"
#include "app/settings/Settings.h"

namespace tarnwick {

// Log lines ("hh:nn:ss text", text in code page 932) go to standard output in UTF-8.
void PrintLogLine(const std::string& text);

// Both run with the stored settings. SIGTERM and SIGINT end them after the message in flight, or,
// when that takes more than 2 seconds, by cutting the connections (that message is not recorded).
// --once exits with ExitCodeOf its cycle.
int RunOnce(const TSettingsLocation& location);
// Returns 0 when ended by a signal, 2 when the settings cannot be read.
int RunWatch(const TSettingsLocation& location);
// Signs in the servers set to OAuth; 0 when every one is signed in, 2 otherwise. SIGTERM or SIGINT
// cancels a sign-in that waits.
int RunAuthorize(const TSettingsLocation& location);

}  // namespace tarnwick
