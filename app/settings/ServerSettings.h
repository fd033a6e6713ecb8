#pragma once
// The settings record the window fills each time watching starts; copied into every forwarding cycle.
#include <cstdint>
#include <string>

#include "app/settings/ServerEndpoint.h"

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

// The two servers of a cycle.
enum class TServerKind { Pop3, Smtp };
constexpr TServerKind kServerKinds[] = {TServerKind::Pop3, TServerKind::Smtp};
// "POP3", "SMTP": the section of the settings file and the word of the log lines.
const char* ServerName(TServerKind kind);
// 受信方式: how the receiving server is read. Stored as Protocol in the POP3 section; a file
// without it is POP3.
enum class TReceiveProtocol : uint8_t { Pop3, Imap };

// The standard ports: POP3 110 / 110 / 995, IMAP 143 / 143 / 993, SMTP 25 / 587 / 465.
int DefaultPort(TServerKind kind, TSecurity security, TReceiveProtocol protocol = TReceiveProtocol::Pop3);

// How one server is reached and signed into, beyond its name, user and password; the same for
// both servers.
struct TServerAccess {
    TSecurity Security = TSecurity::None;
    std::string CAFile;  // a PEM file trusted besides the system's store
    // 認証方式: the password (as always) or an OAuth 2.0 sign-in.
    TOAuthSettings Auth;

    bool operator==(const TServerAccess&) const = default;
};

// One server of the record, as the steps that serve either see it.
struct TServerAccount {
    TServerKind Kind = TServerKind::Pop3;
    std::string Server, User, Pass;
    TServerAccess Access;
    TReceiveProtocol Protocol = TReceiveProtocol::Pop3;  // of the receiving server

    // "POP3", "IMAP" or "SMTP": the word of the log lines.
    const char* Name() const;
    // Host and port as typed; the standard port of its encryption when none is typed.
    TServerEndpoint Endpoint() const;
};

struct TServerSettings {
    std::string Pop3User;
    std::string Pop3Pass;
    std::string Pop3Server;
    std::string SmtpUser;
    std::string SmtpPass;
    std::string SmtpServer;
    TServerAccess Pop3Access;
    TServerAccess SmtpAccess;
    // 受信方式 of the receiving server, and the IMAP folder read.
    TReceiveProtocol Protocol = TReceiveProtocol::Pop3;
    std::string ImapFolder = "INBOX";
    // The envelope sender of every forwarded message; empty keeps the message's own sender.
    std::string EnvelopeFrom;
    // A forwarding address without a ledger yet starts by recording what the server already holds.
    bool SkipExisting = false;

    bool operator==(const TServerSettings&) const = default;
    TServerAccount Account(TServerKind kind) const;
    TServerAccess& Access(TServerKind kind) { return kind == TServerKind::Pop3 ? Pop3Access : SmtpAccess; }
    const TServerAccess& Access(TServerKind kind) const {
        return kind == TServerKind::Pop3 ? Pop3Access : SmtpAccess;
    }
    std::string& Pass(TServerKind kind) { return kind == TServerKind::Pop3 ? Pop3Pass : SmtpPass; }
    // The user a sign-in and its keyring entries are for: an empty SMTP user is the POP3 one.
    const std::string& SignInUser(TServerKind kind) const {
        return kind == TServerKind::Smtp && !SmtpUser.empty() ? SmtpUser : Pop3User;
    }
};

}  // namespace tarnwick
