#include "app/settings/MailProviders.h"

#include <QXmlStreamReader>

#include <fstream>
#include <sstream>
#include <vector>

#include "app/settings/AppPaths.h"
#include "app/settings/ServerEndpoint.h"
#include "platform/Exception.h"

namespace tarnwick {

namespace {

bool HostChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_';
}

// A host name, perhaps with placeholders in it; never anything that could end up as more than one
// field or one line.
bool PlausibleHost(const std::string& host) {
    if (host.empty() || host.size() > 255) return false;
    for (char c : host)
        if (!HostChar(c) && c != '%') return false;
    return true;
}

// A user name form: printable ASCII only.
bool PlausibleUsername(const std::string& form) {
    if (form.empty() || form.size() > 255) return false;
    for (char c : form)
        if (c <= ' ' || c > '~') return false;
    return true;
}

// Lower is more secure.
int Rank(TSecurity security) {
    switch (security) {
        case TSecurity::TLS: return 0;
        case TSecurity::StartTLS: return 1;
        case TSecurity::None: break;
    }
    return 2;
}

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

// The table's security words.
std::optional<TSecurity> TableSecurity(const std::string& word) {
    if (word == "TLS") return TSecurity::TLS;
    if (word == "STARTTLS") return TSecurity::StartTLS;
    if (word == "None") return TSecurity::None;
    return std::nullopt;
}

std::optional<TProviderServer> TableServer(const std::string& host, const std::string& port,
                                           const std::string& security, const std::string& auth,
                                           const std::string& username) {
    TProviderServer server;
    server.Host = host;
    server.Port = PortOf(port);
    const std::optional<TSecurity> sec = TableSecurity(security);
    if (!PlausibleHost(server.Host) || server.Port == 0 || !sec || !PlausibleUsername(username)) return std::nullopt;
    server.Security = *sec;
    server.Username = username;
    server.OAuth2 = auth.find("OAuth2") != std::string::npos;
    return server;
}

// The document's socketType words.
std::optional<TSecurity> SocketType(const std::string& word) {
    if (SameText(word, "SSL")) return TSecurity::TLS;
    if (SameText(word, "STARTTLS")) return TSecurity::StartTLS;
    if (SameText(word, "plain")) return TSecurity::None;
    return std::nullopt;
}

// One incomingServer or outgoingServer element, read to its end; nullopt when something it says
// cannot be used.
std::optional<TProviderServer> ReadServer(QXmlStreamReader& xml, TServerKind kind) {
    TProviderServer server;
    std::optional<TSecurity> security;
    std::string port;
    while (xml.readNextStartElement()) {
        const QStringView name = xml.name();
        if (name == u"hostname") server.Host = Trim(xml.readElementText().toStdString());
        else if (name == u"port") port = Trim(xml.readElementText().toStdString());
        else if (name == u"socketType") security = SocketType(Trim(xml.readElementText().toStdString()));
        else if (name == u"username") server.Username = Trim(xml.readElementText().toStdString());
        else if (name == u"authentication") server.OAuth2 |= Trim(xml.readElementText().toStdString()) == "OAuth2";
        else xml.skipCurrentElement();
    }
    if (!security || !PlausibleHost(server.Host) || !PlausibleUsername(server.Username)) return std::nullopt;
    server.Security = *security;
    server.Port = port.empty() ? DefaultPort(kind, server.Security) : PortOf(port);
    if (server.Port == 0) return std::nullopt;
    return server;
}

// Keeps the more secure of two, the first of equals.
void KeepBest(std::optional<TProviderServer>& best, const std::optional<TProviderServer>& candidate) {
    if (candidate && (!best || Rank(candidate->Security) < Rank(best->Security))) best = candidate;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string Substituted(const std::string& form, const std::string& address, const std::string& local,
                        const std::string& domain) {
    return Replaced(Replaced(Replaced(form, "%EMAILADDRESS%", address), "%EMAILLOCALPART%", local), "%EMAILDOMAIN%",
                    domain);
}

bool HostIn(const std::string& host, const char* domain) {
    const std::string d = domain;
    return host == d || (host.size() > d.size() && host.ends_with("." + d));
}

TAuthMethod SignInFor(const TProviderServer& server, const std::string& typedHost) {
    if (!server.OAuth2) return TAuthMethod::amPassword;
    const std::string host = LowerCase(typedHost);
    if (HostIn(host, "gmail.com") || HostIn(host, "googlemail.com")) return TAuthMethod::amGoogle;
    for (const char* domain : {"outlook.com", "office365.com", "hotmail.com"})
        if (HostIn(host, domain)) return TAuthMethod::amMicrosoft;
    return TAuthMethod::amPassword;
}

TServerFill Fill(const TProviderServer& server, TServerKind kind, const std::string& address) {
    const size_t at = address.rfind('@');
    const std::string local = address.substr(0, at), domain = MailDomain(address);
    TServerFill fill;
    const std::string host = Substituted(server.Host, address, local, domain);
    fill.Server = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    if (server.Port != DefaultPort(kind, server.Security)) fill.Server += ":" + std::to_string(server.Port);
    fill.User = Substituted(server.Username, address, local, domain);
    fill.Security = server.Security;
    fill.Auth = SignInFor(server, host);
    return fill;
}

}  // namespace

std::string MailDomain(const std::string& address) {
    const std::string text = Trim(address);
    const size_t at = text.rfind('@');
    if (at == std::string::npos || at == 0 || at + 1 == text.size()) return {};
    const std::string domain = LowerCase(text.substr(at + 1));
    if (domain.size() > 255 || domain.front() == '.' || domain.back() == '.' || domain.find("..") != std::string::npos)
        return {};
    for (char c : domain)
        if (!HostChar(c) || c == '_') return {};
    return domain;
}

TProviderFill FillFor(const TProviderSettings& provider, const std::string& address) {
    const std::string text = Trim(address);
    return {Fill(provider.Pop3, TServerKind::Pop3, text), Fill(provider.Smtp, TServerKind::Smtp, text)};
}

TMailProviderTable TMailProviderTable::Parse(const std::string& text) {
    TMailProviderTable table;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line.front() == '#') continue;
        const std::vector<std::string> f = SplitTabs(line);
        if (f.size() < 10) continue;
        const std::optional<TProviderServer> pop3 = TableServer(f[1], f[2], f[3], f[4], f[5]);
        const std::optional<TProviderServer> smtp = TableServer(f[6], f[7], f[8], f[9], f[5]);
        const std::string domain = LowerCase(f[0]);
        if (pop3 && smtp && MailDomain("x@" + domain) == domain) table.rows_.emplace(domain, TProviderSettings{*pop3, *smtp});
    }
    return table;
}

std::optional<TMailProviderTable> TMailProviderTable::Load(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) return std::nullopt;
    return Parse(text.str());
}

std::optional<TProviderSettings> TMailProviderTable::Find(const std::string& domain) const {
    const auto it = rows_.find(LowerCase(domain));
    if (it == rows_.end()) return std::nullopt;
    return it->second;
}

std::string ProviderTablePath() {
    std::string folder = ExePath;
    if (folder.empty()) {
        const std::string exe = ExeFullPath();
        folder = exe.substr(0, exe.rfind('/') + 1);
    }
    const std::string beside = folder + "mail-providers.tsv";
    if (std::ifstream(beside).good()) return beside;
    return folder + "../share/tarnwick/mail-providers.tsv";
}

std::optional<TProviderSettings> ParseAutoconfig(const std::string& document, std::string& error) {
    if (document.size() > kMaxAutoconfigSize) {
        error = "大きすぎます";
        return std::nullopt;
    }
    QXmlStreamReader xml(QByteArray::fromStdString(document));
    std::optional<TProviderServer> pop3, smtp;
    if (xml.readNextStartElement() && xml.name() == u"clientConfig") {
        while (xml.readNextStartElement()) {
            if (xml.name() != u"emailProvider") {
                xml.skipCurrentElement();
                continue;
            }
            while (xml.readNextStartElement()) {
                const QStringView type = xml.attributes().value(QLatin1StringView("type"));
                if (xml.name() == u"incomingServer" && type == u"pop3") KeepBest(pop3, ReadServer(xml, TServerKind::Pop3));
                else if (xml.name() == u"outgoingServer" && type == u"smtp") KeepBest(smtp, ReadServer(xml, TServerKind::Smtp));
                else xml.skipCurrentElement();
            }
        }
    } else if (!xml.hasError()) {
        error = "clientConfig の文書ではありません";
        return std::nullopt;
    }
    if (xml.hasError()) {
        error = "XMLとして読めません (" + std::to_string(xml.lineNumber()) + "行目)";
        return std::nullopt;
    }
    if (!pop3 || !smtp) {
        error = !pop3 ? "POP3サーバの記述がありません" : "SMTPサーバの記述がありません";
        return std::nullopt;
    }
    return TProviderSettings{*pop3, *smtp};
}

}  // namespace tarnwick
