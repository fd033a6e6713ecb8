#include "app/ServerEndpoint.h"

namespace tarnwick {

bool ServerPortsAllowed() {
#ifdef TARNWICK_SERVER_PORTS
    return true;
#else
    return false;
#endif
}

TServerEndpoint ParseServerText(const std::string& text, int defaultPort) {
    TServerEndpoint endpoint{text, defaultPort};
    if (!ServerPortsAllowed()) return endpoint;
    const size_t colon = text.find(':');
    // One colon only: anything else (an IPv6 literal, say) is left to the resolver as it is.
    if (colon == std::string::npos || colon == 0 || text.find(':', colon + 1) != std::string::npos) return endpoint;
    const std::string digits = text.substr(colon + 1);
    if (digits.empty() || digits.size() > 5) return endpoint;
    int port = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return endpoint;
        port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535) return endpoint;
    return TServerEndpoint{text.substr(0, colon), port};
}

}  // namespace tarnwick
