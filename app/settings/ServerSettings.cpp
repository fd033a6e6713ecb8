#include "app/settings/ServerSettings.h"

#include <strings.h>

namespace tarnwick {

const char* SecurityName(TSecurity security) {
    switch (security) {
        case TSecurity::StartTLS: return "STARTTLS";
        case TSecurity::TLS: return "TLS";
        case TSecurity::None: break;
    }
    return "None";
}

TSecurity SecurityFromName(const std::string& name) {
    if (name.empty() || ::strcasecmp(name.c_str(), "None") == 0) return TSecurity::None;
    if (::strcasecmp(name.c_str(), "STARTTLS") == 0) return TSecurity::StartTLS;
    return TSecurity::TLS;
}

int DefaultPop3Port(TSecurity security) { return security == TSecurity::TLS ? 995 : 110; }

int DefaultSmtpPort(TSecurity security) {
    switch (security) {
        case TSecurity::StartTLS: return 587;
        case TSecurity::TLS: return 465;
        case TSecurity::None: break;
    }
    return 25;
}

}  // namespace tarnwick
