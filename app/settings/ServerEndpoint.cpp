#include "app/settings/ServerEndpoint.h"

namespace tarnwick {

int PortOf(const std::string& digits) {
    if (digits.empty() || digits.size() > 5) return 0;
    int port = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return 0;
        port = port * 10 + (c - '0');
    }
    return port <= 65535 ? port : 0;
}

TServerEndpoint ParseServerText(const std::string& text, int defaultPort) {
    TServerEndpoint endpoint{text, defaultPort};
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos) return endpoint;
        const std::string host = text.substr(1, close - 1);
        if (close + 1 == text.size()) return TServerEndpoint{host, defaultPort};
        if (text[close + 1] != ':') return endpoint;
        const int port = PortOf(text.substr(close + 2));
        return port != 0 ? TServerEndpoint{host, port} : endpoint;
    }
    const size_t colon = text.find(':');
    // One colon only: more make a bare IPv6 address, left to the resolver as it is.
    if (colon == std::string::npos || colon == 0 || text.find(':', colon + 1) != std::string::npos) return endpoint;
    const int port = PortOf(text.substr(colon + 1));
    return port != 0 ? TServerEndpoint{text.substr(0, colon), port} : endpoint;
}

}  // namespace tarnwick
