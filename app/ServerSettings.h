#pragma once
// The settings record the window fills each time watching starts; copied into every forwarding cycle.
#include <string>

namespace tarnwick {

struct TServerSettings {
    std::string Pop3User;
    std::string Pop3Pass;
    std::string Pop3Server;
    std::string SmtpUser;
    std::string SmtpPass;
    std::string SmtpServer;
    // A forwarding address without a ledger yet starts by recording what the server already holds.
    bool SkipExisting = false;
};

}  // namespace tarnwick
