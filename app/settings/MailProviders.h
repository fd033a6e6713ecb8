#pragma once
// A mail provider's POP3 and SMTP servers, from the table shipped with the program or from the
// provider's own settings document (the autoconfig config-v1.1.xml mail clients read), and what
// they fill in for one address.
#include <map>
#include <optional>
#include <string>

#include "app/settings/ServerSettings.h"

namespace tarnwick {

// One server as a provider describes it.
struct TProviderServer {
    std::string Host;
    int Port = 0;
    TSecurity Security = TSecurity::TLS;
    // The user name's form, with %EMAILADDRESS%, %EMAILLOCALPART% and %EMAILDOMAIN% in it.
    std::string Username = "%EMAILADDRESS%";
    bool OAuth2 = false;  // the provider takes an OAuth 2.0 sign-in

    bool operator==(const TProviderServer&) const = default;
};

struct TProviderSettings {
    TProviderServer Pop3, Smtp;

    bool operator==(const TProviderSettings&) const = default;
};

// What one server's fields become.
struct TServerFill {
    std::string Server;  // "host", or "host:port" where the port is not the standard one
    std::string User;
    TSecurity Security = TSecurity::TLS;
    TAuthMethod Auth = TAuthMethod::amPassword;

    bool operator==(const TServerFill&) const = default;
};

struct TProviderFill {
    TServerFill Pop3, Smtp;

    bool operator==(const TProviderFill&) const = default;
};

// The domain of an address, in lower case; empty when the text is no "local@domain".
std::string MailDomain(const std::string& address);

// The fields for address. 認証方式 is a sign-in only where one of the presets serves the host
// (Google, Microsoft) and the provider takes it; else the password.
TProviderFill FillFor(const TProviderSettings& provider, const std::string& address);

// The table: one tab-separated row per mail domain (domain, POP3 host, port, security, auth,
// username, SMTP host, port, security, auth, source), "#" lines are comments.
class TMailProviderTable {
public:
    // The rows of text; a row that cannot be read is left out.
    static TMailProviderTable Parse(const std::string& text);
    // From a file; nullopt when it cannot be read.
    static std::optional<TMailProviderTable> Load(const std::string& path);

    std::optional<TProviderSettings> Find(const std::string& domain) const;
    size_t Size() const { return rows_.size(); }

private:
    std::map<std::string, TProviderSettings> rows_;
};

// Where the table is: beside the program in a build tree, else in <prefix>/share/tarnwick/ beside
// its bin/ folder; the latter (which may not exist) when neither is there.
std::string ProviderTablePath();

// The largest settings document read; a provider's is a few KB.
constexpr size_t kMaxAutoconfigSize = 1 << 20;

// A settings document: its first POP3 incoming server and its first SMTP outgoing server, each
// the most secure of its kind (implicit TLS over STARTTLS over none). nullopt, with error set to a
// short reason, when the document is malformed, too large or lacks either server.
std::optional<TProviderSettings> ParseAutoconfig(const std::string& document, std::string& error);

}  // namespace tarnwick
