#pragma once
// A client of ours on a ScriptedServer: starts the script and connects on loopback.
//
//     ConnectTo(server, pop3);   // then pop3.Retrieve(...) ...
#include "net/MailTCPClient.h"
#include "support/ScriptedServer.h"

namespace tarnwick::test {

inline void ConnectTo(ScriptedServer& server, TMailTCPClient& client, int timeout = -1) {
    server.Start();
    client.SetHost("127.0.0.1");
    client.SetPort(server.Port());
    client.Connect(timeout);
}

}  // namespace tarnwick::test
