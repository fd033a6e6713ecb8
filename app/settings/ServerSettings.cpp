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

int DefaultPort(TServerKind kind, TSecurity security, TReceiveProtocol protocol) {
    if (kind == TServerKind::Pop3 && protocol == TReceiveProtocol::Imap) return security == TSecurity::TLS ? 993 : 143;
    if (kind == TServerKind::Pop3) return security == TSecurity::TLS ? 995 : 110;
    switch (security) {
        case TSecurity::StartTLS: return 587;
        case TSecurity::TLS: return 465;
        case TSecurity::None: break;
    }
    return 25;
}

const char* TServerAccount::Name() const {
    return Kind == TServerKind::Pop3 && Protocol == TReceiveProtocol::Imap ? "IMAP" : ServerName(Kind);
}

TServerEndpoint TServerAccount::Endpoint() const {
    return ParseServerText(Server, DefaultPort(Kind, Access.Security, Protocol));
}

TServerAccount TServerSettings::Account(TServerKind kind) const {
    if (kind == TServerKind::Pop3) return {kind, Pop3Server, Pop3User, Pop3Pass, Pop3Access, Protocol};
    return {kind, SmtpServer, SmtpUser, SmtpPass, SmtpAccess};
}

}  // namespace tarnwick
