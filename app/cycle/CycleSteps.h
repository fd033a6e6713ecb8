#pragma once
// Pieces the cycle's steps and the connection test share.
#include <string>

namespace tarnwick {

class TMailTCPClient;

namespace detail {

// One log line per failure: the error's lines joined.
std::string OneLine(const std::string& text);
// Closes a client whatever state it is in; errors on the way are of no interest any more.
void ForceClose(TMailTCPClient& client);

}  // namespace detail
}  // namespace tarnwick
