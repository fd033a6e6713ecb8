#include "app/settings/SettingsFile.h"

#include <algorithm>

#include "platform/IniFile.h"
#include "platform/Locale.h"
#include "platform/Streams.h"
#include "platform/StringList.h"

namespace tarnwick {

namespace {

constexpr int kDefaultInterval = 5;
constexpr int kMaxWindowSide = 16384;

// The longest text a field of the window holds, in UTF-16 units as the toolkit counts.
constexpr size_t kMaxTextLength = 32767;

size_t Utf16Length(const std::string& utf8) {
    size_t units = 0;
    for (unsigned char c : utf8) {
        if ((c & 0xC0) != 0x80) ++units;  // a character starts here
        if (c >= 0xF0) ++units;           // beyond the basic plane: a surrogate pair
    }
    return units;
}

// The texts the window's fields edit, in the order the file holds them; one list for reading and
// writing.
template <typename Settings, typename Visit>
void ForEachText(Settings& settings, Visit&& visit) {
    auto& s = settings.Servers;
    visit("POP3", "Server", s.Pop3Server);
    visit("POP3", "User", s.Pop3User);
    visit("POP3", "Pass", s.Pop3Pass);
    visit("SMTP", "Server", s.SmtpServer);
    visit("SMTP", "User", s.SmtpUser);
    visit("SMTP", "Pass", s.SmtpPass);
    visit("SMTP", "EnvelopeFrom", s.EnvelopeFrom);
    visit("Mail", "User", settings.MailUser);
    visit("Mail", "Domain", settings.MailDomain);
}

std::string KeyName(const char* section, const char* key) { return std::string(section) + "/" + key; }

bool Refused(const TSettings& settings, const char* section, const char* key) {
    return std::find(settings.Refused.begin(), settings.Refused.end(), KeyName(section, key)) !=
           settings.Refused.end();
}

const char* const kAuthNames[] = {"Password", "Microsoft", "Google", "Other"};

TAuthMethod AuthFromName(const std::string& name) {
    for (int i = 0; i < 4; ++i)
        if (SameText(name, kAuthNames[i])) return static_cast<TAuthMethod>(i);
    return TAuthMethod::amPassword;
}

// The keys of a server's section beyond its server, user and password. A file without Security
// connects in plain text as it did, one without Auth logs in with the password; a first start
// offers SSL/TLS. CAFile is a path, not a text of the window: taken as it stands.
void ReadAccess(const TIniFile& ini, const char* section, bool existed, TServerAccess& access) {
    access.Security = existed ? SecurityFromName(ini.ReadString(section, "Security", "")) : TSecurity::TLS;
    access.CAFile = ini.ReadString(section, "CAFile", "");
    TOAuthSettings& auth = access.Auth;
    auth.Method = AuthFromName(ini.ReadString(section, "Auth", ""));
    auth.ClientId = ini.ReadString(section, "ClientId", "");
    auth.Tenant = ini.ReadString(section, "Tenant", "common");
    auth.AuthorizationUrl = ini.ReadString(section, "AuthUrl", "");
    auth.TokenUrl = ini.ReadString(section, "TokenUrl", "");
    auth.DeviceUrl = ini.ReadString(section, "DeviceUrl", "");
    auth.Scopes = ini.ReadString(section, "Scopes", "");
}

// CAFile is never written: only a hand edit sets it.
void WriteAccess(TIniFile& ini, const char* section, const TServerAccess& access) {
    ini.WriteString(section, "Security", SecurityName(access.Security));
    const TOAuthSettings& auth = access.Auth;
    // A password login adds nothing a file from before did not have.
    if (auth.Method == TAuthMethod::amPassword && ini.ReadString(section, "Auth", "").empty()) return;
    ini.WriteString(section, "Auth", kAuthNames[static_cast<int>(auth.Method)]);
    if (auth.Method == TAuthMethod::amPassword) return;
    ini.WriteString(section, "ClientId", auth.ClientId);
    if (auth.Method == TAuthMethod::amMicrosoft) ini.WriteString(section, "Tenant", auth.Tenant);
    if (auth.Method == TAuthMethod::amOther) {
        ini.WriteString(section, "AuthUrl", auth.AuthorizationUrl);
        ini.WriteString(section, "TokenUrl", auth.TokenUrl);
        ini.WriteString(section, "DeviceUrl", auth.DeviceUrl);
        ini.WriteString(section, "Scopes", auth.Scopes);
    }
}

}  // namespace

TSettings ReadSettingsFile(const std::string& path, const std::function<void(const std::string& line)>& refusedLine) {
    TSettings settings;
    settings.Existed = FileExists(path);
    const TIniFile ini(path);
    // A hand-edited file may hold what a field cannot: bytes that are not code page 932 would
    // reach the server as something else, and a text longer than the field would be cut. Such a
    // value is refused with a line naming it, never changed silently.
    auto text = [&](const char* section, const char* key, std::string& field) {
        std::string value = ini.ReadString(section, key, "");
        std::string utf8;
        const char* why = nullptr;
        if (!TryConvert("CP932", "UTF-8", value, utf8)) why = "CP932 で表せない文字を含む";
        else if (Utf16Length(utf8) > kMaxTextLength) why = "長すぎる";
        if (why) {
            settings.Refused.push_back(KeyName(section, key));
            if (refusedLine) refusedLine(std::string("設定ファイルの[") + section + "]" + key + " は" + why + "ため読み込みません");
            value.clear();
        }
        field = std::move(value);
    };
    ForEachText(settings, text);
    TServerSettings& s = settings.Servers;
    for (TServerKind kind : kServerKinds) ReadAccess(ini, ServerName(kind), settings.Existed, s.Access(kind));
    s.Protocol = SameText(ini.ReadString("POP3", "Protocol", ""), "IMAP") ? TReceiveProtocol::Imap : TReceiveProtocol::Pop3;
    s.ImapFolder = ini.ReadString("POP3", "Folder", "");
    if (Trim(s.ImapFolder).empty()) s.ImapFolder = "INBOX";
    // A first start keeps old mail off the phone; a file from before the key forwards as it did.
    s.SkipExisting = ini.ReadInteger("Common", "SkipExisting", settings.Existed ? 0 : 1) != 0;
    settings.KeyringSecrets = ini.ReadInteger("Common", "KeyringSecrets", settings.Existed ? 0 : 1) != 0;
    settings.IntervalMinutes =
        std::clamp(ini.ReadInteger("Common", "Interval", kDefaultInterval), kMinInterval, kMaxInterval);
    int skippedRules = 0, beyondLimit = 0;
    settings.Filter = ReadForwardFilter(ini, &skippedRules, &beyondLimit);
    if (beyondLimit > 0 && refusedLine)
        refusedLine("設定ファイルの[Filter]の転送しない条件は" + std::to_string(TForwardFilter::MaxRules) + "件までのため、残りの" +
                    std::to_string(beyondLimit) + "件は使いません");
    if (skippedRules > 0 && refusedLine)
        refusedLine("設定ファイルの[Filter]の転送しない条件 " + std::to_string(skippedRules) + "件は読めないため使いません");
    // A size from another screen is only a wish: the window never opens below its first size.
    settings.LogWindowWidth = std::clamp(ini.ReadInteger("Window", "LogWidth", 0), 0, kMaxWindowSide);
    settings.LogWindowHeight = std::clamp(ini.ReadInteger("Window", "LogHeight", 0), 0, kMaxWindowSide);
    return settings;
}

void WriteSettingsFile(const std::string& path, const TSettings& settings) {
    TIniFile ini(path);
    auto text = [&](const char* section, const char* key, const std::string& value) {
        // A refused value nobody replaced stays in the file as it was.
        if (value.empty() && Refused(settings, section, key)) return;
        ini.WriteString(section, key, value);
    };
    ForEachText(settings, text);
    const TServerSettings& s = settings.Servers;
    for (TServerKind kind : kServerKinds) WriteAccess(ini, ServerName(kind), s.Access(kind));
    // A POP3 user's file gains no key it did not have.
    const bool imap = s.Protocol == TReceiveProtocol::Imap;
    if (imap || !ini.ReadString("POP3", "Protocol", "").empty()) ini.WriteString("POP3", "Protocol", imap ? "IMAP" : "POP3");
    if (s.ImapFolder != "INBOX" || !ini.ReadString("POP3", "Folder", "").empty()) ini.WriteString("POP3", "Folder", s.ImapFolder);
    ini.WriteInteger("Common", "Interval", settings.IntervalMinutes);
    ini.WriteInteger("Common", "SkipExisting", s.SkipExisting ? 1 : 0);
    WriteForwardFilter(ini, settings.Filter);
    if (settings.LogWindowWidth > 0 && settings.LogWindowHeight > 0) {
        ini.WriteInteger("Window", "LogWidth", settings.LogWindowWidth);
        ini.WriteInteger("Window", "LogHeight", settings.LogWindowHeight);
    }
    ini.WriteInteger("Common", "KeyringSecrets", settings.KeyringSecrets ? 1 : 0);
}

std::string MissingSettings(const TSettings& settings) {
    std::string missing;
    auto need = [&](bool present, const char* caption) {
        if (present) return;
        if (!missing.empty()) missing += "、";
        missing += caption;
    };
    need(!Trim(settings.Servers.Pop3Server).empty(), "POP3サーバアドレス");
    need(!Trim(settings.Servers.SmtpServer).empty(), "SMTPサーバアドレス");
    // The address is the user part, "@" and the domain; either half missing leads nowhere.
    need(!settings.MailUser.empty() && !settings.MailDomain.empty(), "転送先メールアドレス");
    return missing;
}

std::string IncompleteSettingsLine(const std::string& missing) { return "設定が不完全です(" + missing + "が未入力)"; }

}  // namespace tarnwick
