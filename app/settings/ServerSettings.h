#pragma once
// The settings record the window fills each time watching starts; copied into every forwarding cycle.
#include <cstdint>
#include <string>

namespace tarnwick {

// 認証方式: the password, or an OAuth 2.0 sign-in at one of these.
enum class TAuthMethod : uint8_t { amPassword, amMicrosoft, amGoogle, amOther };

// What the user sets per server for a sign-in.
struct TOAuthSettings {
    TAuthMethod Method = TAuthMethod::amPassword;
    std::string ClientId;          // empty: the one built in, if any
    std::string Tenant = "common"; // Microsoft only
    // その他 only.
    std::string AuthorizationUrl, TokenUrl, DeviceUrl, Scopes;

    bool operator==(const TOAuthSettings&) const = default;
};

// How a server is reached: the window's "暗号化" choice, stored as Security in the server's section.
enum class TSecurity { None, StartTLS, TLS };

// "None", "STARTTLS", "TLS".
const char* SecurityName(TSecurity security);
// A stored value back (ignoring case); a missing key is None, so a file from before the choice
// existed works as it did. A value it cannot read is TLS: a typo never sends a password in clear.
TSecurity SecurityFromName(const std::string& name);
// The standard ports: POP3 110 / 110 / 995, SMTP 25 / 587 / 465.
int DefaultPop3Port(TSecurity security);
int DefaultSmtpPort(TSecurity security);

struct TServerSettings {
    std::string Pop3User;
    std::string Pop3Pass;
    std::string Pop3Server;
    TSecurity Pop3Security = TSecurity::None;
    std::string Pop3CAFile;  // a PEM file trusted besides the system's store
    // 認証方式: the password (as always) or an OAuth 2.0 sign-in.
    TOAuthSettings Pop3Auth;
    std::string SmtpUser;
    std::string SmtpPass;
    std::string SmtpServer;
    TSecurity SmtpSecurity = TSecurity::None;
    std::string SmtpCAFile;
    TOAuthSettings SmtpAuth;
    // The envelope sender of every forwarded message; empty keeps the message's own sender.
    std::string EnvelopeFrom;
    // A forwarding address without a ledger yet starts by recording what the server already holds.
    bool SkipExisting = false;

    bool operator==(const TServerSettings&) const = default;
};

}  // namespace tarnwick
