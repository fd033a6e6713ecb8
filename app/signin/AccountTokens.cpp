#include "app/signin/AccountTokens.h"

#include <charconv>

#include "app/signin/SecretStore.h"
#include "platform/PrivateProfile.h"

namespace tarnwick {

namespace {

// Keys of the settings file's section.
constexpr const char* kRefresh = "OAuthRefreshToken";
constexpr const char* kAccess = "OAuthAccessToken";
constexpr const char* kExpires = "OAuthExpires";
constexpr const char* kSignIn = "OAuthSignInNeeded";

int64_t ToInt(const std::string& text) {
    int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() ? value : 0;
}

}  // namespace

TAccountTokens::TAccountTokens(std::string settingsPath, std::string section, std::string account,
                               TSecretStore* keyring)
    : path_(std::move(settingsPath)), section_(std::move(section)), account_(std::move(account)), keyring_(keyring) {}

std::string TAccountTokens::KeyringKey(const char* what) const { return section_ + "/" + account_ + "/" + what; }

TOAuthTokens TAccountTokens::Load() {
    TOAuthTokens tokens;
    // Whether a new sign-in is due is no secret: it stays in the file either way.
    tokens.NeedsSignIn = GetPrivateProfileString(section_, kSignIn, "0", path_) == "1";
    if (keyring_ != nullptr) {
        tokens.RefreshToken = keyring_->Read(KeyringKey("refresh")).value_or("");
        // "expires token"
        const std::string access = keyring_->Read(KeyringKey("access")).value_or("");
        const size_t blank = access.find(' ');
        if (blank != std::string::npos) {
            tokens.ExpiresAt = ToInt(access.substr(0, blank));
            tokens.AccessToken = access.substr(blank + 1);
        }
    } else {
        tokens.RefreshToken = GetPrivateProfileString(section_, kRefresh, "", path_);
        tokens.AccessToken = GetPrivateProfileString(section_, kAccess, "", path_);
        tokens.ExpiresAt = ToInt(GetPrivateProfileString(section_, kExpires, "0", path_));
    }
    return tokens;
}

bool TAccountTokens::Save(const TOAuthTokens& tokens) {
    bool ok = true;
    if (keyring_ != nullptr) {
        ok = keyring_->Write(KeyringKey("refresh"), tokens.RefreshToken) &&
             keyring_->Write(KeyringKey("access"), std::to_string(tokens.ExpiresAt) + " " + tokens.AccessToken);
    } else {
        ok = WritePrivateProfileString(section_, kRefresh, tokens.RefreshToken, path_) &&
             WritePrivateProfileString(section_, kAccess, tokens.AccessToken, path_) &&
             WritePrivateProfileString(section_, kExpires, std::to_string(tokens.ExpiresAt), path_);
    }
    const std::string flag = tokens.NeedsSignIn ? "1" : "0";
    if (GetPrivateProfileString(section_, kSignIn, "0", path_) != flag)
        ok = WritePrivateProfileString(section_, kSignIn, flag, path_) && ok;
    return ok;
}

void TAccountTokens::Clear() {
    if (keyring_ != nullptr) {
        keyring_->Remove(KeyringKey("refresh"));
        keyring_->Remove(KeyringKey("access"));
    }
    for (const char* key : {kRefresh, kAccess, kExpires})
        if (!GetPrivateProfileString(section_, key, "", path_).empty()) WritePrivateProfileString(section_, key, "", path_);
}

}  // namespace tarnwick
