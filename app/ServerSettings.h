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
};

}  // namespace tarnwick
