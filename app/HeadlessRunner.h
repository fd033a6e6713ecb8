#pragma once
// The command-line modes: one forwarding cycle (--once) or watching without a display (--watch).
// No toolkit application object is made, so nothing connects to a display.
#include "app/SettingsLocation.h"

namespace tarnwick {

// Exit codes of --once.
constexpr int kExitAllForwarded = 0;
constexpr int kExitSomeSkipped = 1;
constexpr int kExitFailed = 2;

// Log lines ("hh:nn:ss text") go to standard output in UTF-8.
void PrintLogLine(const std::string& text);

// Both run with the stored settings; SIGTERM and SIGINT end them after the message in flight.
int RunOnce(const TSettingsLocation& location);
// Returns 0 when ended by a signal, 2 when the settings cannot be read.
int RunWatch(const TSettingsLocation& location);

}  // namespace tarnwick
