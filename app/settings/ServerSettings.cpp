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

const char* ServerName(TServerKind kind) { return kind == TServerKind::Pop3 ? "POP3" : "SMTP"; }

int DefaultPort(TServerKind kind, TSecurity security) {
    if (kind == TServerKind::Pop3) return security == TSecurity::TLS ? 995 : 110;
    switch (security) {
        case TSecurity::StartTLS: return 587;
        case TSecurity::TLS: return 465;
        case TSecurity::None: break;
    }
    return 25;
}

TServerEndpoint TServerAccount::Endpoint() const { return ParseServerText(Server, DefaultPort(Kind, Access.Security)); }

TServerAccount TServerSettings::Account(TServerKind kind) const {
    if (kind == TServerKind::Pop3) return {kind, Pop3Server, Pop3User, Pop3Pass, Pop3Access};
    return {kind, SmtpServer, SmtpUser, SmtpPass, SmtpAccess};
}

}  // namespace tarnwick
