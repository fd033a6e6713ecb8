#pragma once
// How a server field becomes a host and a port: "host", "host:port", "[IPv6]:port" or a bare IPv6
// address. Without a port the caller's default (the protocol's standard port) is used.
#include <string>

namespace tarnwick {

struct TServerEndpoint {
    std::string Host;
    int Port = 0;
};

TServerEndpoint ParseServerText(const std::string& text, int defaultPort);
// 1 to 65535 written in decimal digits, else 0.
int PortOf(const std::string& digits);

}  // namespace tarnwick
