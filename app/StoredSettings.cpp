#include "app/StoredSettings.h"

#include <algorithm>

#include "platform/Exception.h"
#include "platform/IniFile.h"
#include "platform/Locale.h"
#include "platform/Streams.h"

namespace tarnwick {

TStoredSettings ReadStoredSettings(const std::string& path) {
    if (!FileExists(path)) throw EFOpenError(Format("ファイル %s を開けません", Utf8ToCp932(path).c_str()));
    const TIniFile ini(path);
    TStoredSettings stored;
    stored.Servers.Pop3Server = ini.ReadString("POP3", "Server", "");
    stored.Servers.Pop3User = ini.ReadString("POP3", "User", "");
    stored.Servers.Pop3Pass = ini.ReadString("POP3", "Pass", "");
    stored.Servers.Pop3Security = SecurityFromName(ini.ReadString("POP3", "Security", ""));
    stored.Servers.Pop3CAFile = ini.ReadString("POP3", "CAFile", "");
    stored.Servers.SmtpServer = ini.ReadString("SMTP", "Server", "");
    stored.Servers.SmtpUser = ini.ReadString("SMTP", "User", "");
    stored.Servers.SmtpPass = ini.ReadString("SMTP", "Pass", "");
    stored.Servers.SmtpSecurity = SecurityFromName(ini.ReadString("SMTP", "Security", ""));
    stored.Servers.SmtpCAFile = ini.ReadString("SMTP", "CAFile", "");
    stored.Servers.EnvelopeFrom = ini.ReadString("SMTP", "EnvelopeFrom", "");
    stored.ForwardAddress = ini.ReadString("Mail", "User", "") + "@" + ini.ReadString("Mail", "Domain", "");
    stored.IntervalMinutes = std::clamp(ini.ReadInteger("Common", "Interval", 5), 1, 120);
    return stored;
}

}  // namespace tarnwick
