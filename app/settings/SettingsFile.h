#pragma once
// The settings file, read into one record by one reader for every mode: the window, --once, --watch,
// the connection test and the autostart entry. A key added later is added here once.
#include <functional>
#include <string>
#include <vector>

#include "app/settings/ForwardFilter.h"
#include "app/settings/ServerSettings.h"

namespace tarnwick {

struct TSettings {
    TServerSettings Servers;
    // The forwarding address: the user part and the mail domain, as the window shows them.
    std::string MailUser;
    std::string MailDomain;
    int IntervalMinutes = 5;
    // "パスワードをキーリングに保存": passwords and tokens in the desktop keyring when one answers.
    // On for a first start; a file from before the key existed keeps them in the file.
    bool KeyringSecrets = false;
    // Whether the file was there: a first start offers SSL/TLS and skips existing mail, a file from
    // before those keys existed keeps working as it did.
    bool Existed = false;
    // "Section/Key" of values that could not be taken (not code page 932); they read as empty, and
    // writing the record back leaves them in the file as they were unless a new value was given.
    std::vector<std::string> Refused;
    // The size limit and the rules ([Filter]); a file without them forwards everything whole.
    TForwardFilter Filter;
    // The window's size with its log shown, as last left ([Window]); 0 before it was ever resized.
    int LogWindowWidth = 0;
    int LogWindowHeight = 0;
    // Not in the file: every message waiting after a refusal is offered in this cycle (今すぐ再送).
    bool ResendRefused = false;

    std::string ForwardAddress() const { return MailUser + "@" + MailDomain; }
    bool operator==(const TSettings&) const = default;
};

constexpr int kMinInterval = 1;
constexpr int kMaxInterval = 120;

// Reads path; a missing file gives the first-start defaults (Existed false). Every refused value is
// told through refusedLine, once, with the text the log shows.
TSettings ReadSettingsFile(const std::string& path,
                           const std::function<void(const std::string& line)>& refusedLine = nullptr);

// Writes every key the window edits (never CAFile, which only a hand edit sets). Raises
// EIniFileException when the file cannot be written. The file is private to its owner (0600).
void WriteSettingsFile(const std::string& path, const TSettings& settings);

// The captions of what a cycle cannot do without, joined with "、"; empty when nothing is missing.
std::string MissingSettings(const TSettings& settings);
// The log line for them: "設定が不完全です(" + captions + "が未入力)".
std::string IncompleteSettingsLine(const std::string& missing);

}  // namespace tarnwick
