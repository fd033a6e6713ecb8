#pragma once
// Compact protocol transcripts for ScriptedServer scripts, and line helpers for expectations.
//
//     Converse(server, {{"", "220 ready"}, {"EHLO me", "250 hi"}, {".", "250 queued"}});
//
// Each step is the line the client must send ("" for none; "." takes everything up to the
// end-of-data line) and the server's reply ("" for none; may hold CR LF for several lines).
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "platform/StringList.h"
#include "support/ScriptedServer.h"

namespace tarnwick::test {

inline ScriptedServer& Converse(ScriptedServer& server,
                                std::initializer_list<std::pair<std::string, std::string>> steps) {
    for (const auto& [client, reply] : steps) {
        if (client == ".") server.ExpectUntil(".");
        else if (!client.empty()) server.Expect(client);
        if (!reply.empty()) server.SendLine(reply);
    }
    return server;
}

// The lines, each followed by CR LF.
inline std::string CrLf(std::initializer_list<std::string> lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

inline std::vector<std::string> Items(const TStringList& list) {
    std::vector<std::string> out;
    for (const std::string& line : list) out.push_back(line);
    return out;
}

}  // namespace tarnwick::test
