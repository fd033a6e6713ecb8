#pragma once
// How a server field becomes a host and a port. The program uses the protocol's standard port; builds
// made for testing also take "host:port", so the tests can reach servers on unprivileged ports.
#include <string>

namespace tarnwick {

struct TServerEndpoint {
    std::string Host;
    int Port = 0;
};

// Whether "host:port" is understood by this build.
bool ServerPortsAllowed();
TServerEndpoint ParseServerText(const std::string& text, int defaultPort);

}  // namespace tarnwick
