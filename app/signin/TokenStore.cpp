#include "app/signin/TokenStore.h"

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

TTokenStore::TTokenStore(std::string settingsPath, std::string section, std::string account, TSecretStore* keyring,
                         TRun* run)
    : path_(std::move(settingsPath)),
      section_(std::move(section)),
      account_(std::move(account)),
      keyring_(keyring),
      run_(run) {}

std::string TTokenStore::KeyringKey(const char* what) const { return section_ + "/" + account_ + "/" + what; }

TOAuthTokens TTokenStore::LoadFile() const {
    TOAuthTokens tokens;
    tokens.RefreshToken = GetPrivateProfileString(section_, kRefresh, "", path_);
    tokens.AccessToken = GetPrivateProfileString(section_, kAccess, "", path_);
    tokens.ExpiresAt = ToInt(GetPrivateProfileString(section_, kExpires, "0", path_));
    return tokens;
}

bool TTokenStore::SaveFile(const TOAuthTokens& tokens) {
    return WritePrivateProfileString(section_, kRefresh, tokens.RefreshToken, path_) &&
           WritePrivateProfileString(section_, kAccess, tokens.AccessToken, path_) &&
           WritePrivateProfileString(section_, kExpires, std::to_string(tokens.ExpiresAt), path_);
}

void TTokenStore::ClearFile() {
    for (const char* key : {kRefresh, kAccess, kExpires})
        if (!GetPrivateProfileString(section_, key, "", path_).empty()) WritePrivateProfileString(section_, key, "", path_);
}

bool TTokenStore::Held() const { return run_ != nullptr && run_->Unsaved.count(section_ + "/" + account_) > 0; }

TOAuthTokens TTokenStore::Load() {
    // Tokens a save could not keep are newer than anything stored.
    if (Held()) return run_->Unsaved[section_ + "/" + account_];
    // With the keyring in use, a refresh token in the file is the live one: from before the
    // keyring was chosen, or kept there when the keyring would not take it.
    TOAuthTokens tokens = LoadFile();
    if (keyring_ != nullptr && tokens.RefreshToken.empty()) {
        tokens.RefreshToken = keyring_->Read(KeyringKey("refresh")).value_or("");
        // "expires token"
        const std::string access = keyring_->Read(KeyringKey("access")).value_or("");
        const size_t blank = access.find(' ');
        if (blank != std::string::npos) {
            tokens.ExpiresAt = ToInt(access.substr(0, blank));
            tokens.AccessToken = access.substr(blank + 1);
        }
    }
    // Whether a new sign-in is due is no secret: it stays in the file either way.
    tokens.NeedsSignIn = GetPrivateProfileString(section_, kSignIn, "0", path_) == "1";
    return tokens;
}

TTokenStore::TSaved TTokenStore::Save(const TOAuthTokens& tokens) {
    TSaved saved = TSaved::Nowhere;
    if (keyring_ != nullptr && keyring_->Write(KeyringKey("refresh"), tokens.RefreshToken) &&
        keyring_->Write(KeyringKey("access"), std::to_string(tokens.ExpiresAt) + " " + tokens.AccessToken)) {
        // One store holds the secrets: no live token stays in plain text beside the keyring's.
        ClearFile();
        saved = TSaved::Keyring;
    } else if (SaveFile(tokens)) {
        // A keyring copy is older from now on; Load takes the file's first. It is not removed here:
        // a keyring that would not store would only ask the user to unlock it again.
        saved = keyring_ != nullptr ? TSaved::FileForKeyring : TSaved::File;
    }
    const std::string flag = tokens.NeedsSignIn ? "1" : "0";
    if (GetPrivateProfileString(section_, kSignIn, "0", path_) != flag &&
        !WritePrivateProfileString(section_, kSignIn, flag, path_))
        saved = TSaved::Nowhere;
    if (run_ == nullptr) return saved;
    if (saved == TSaved::Nowhere) run_->Unsaved[section_ + "/" + account_] = tokens;
    else run_->Unsaved.erase(section_ + "/" + account_);
    if (saved == TSaved::FileForKeyring && !run_->FileForKeyringTold && run_->OnLog) {
        run_->FileForKeyringTold = true;
        run_->OnLog("キーリングに保存できないため、トークンは設定ファイルに保存します");
    }
    return saved;
}

void TTokenStore::Clear() {
    if (keyring_ != nullptr) {
        keyring_->Remove(KeyringKey("refresh"));
        keyring_->Remove(KeyringKey("access"));
    }
    ClearFile();
    if (run_ != nullptr) run_->Unsaved.erase(section_ + "/" + account_);
}

TOAuthTokens TTokenStore::ForLogin(const TOAuthProvider& provider, int64_t now, bool renew) {
    TOAuthTokens tokens = Load();
    bool saved = !Held();
    if (renew) tokens.ExpiresAt = 0;
    TOAuthTokenClient client(provider);
    const auto save = [&](const TOAuthTokens& renewed) {
        saved = true;
        // The run goes on with the new token, held; the next start may need a new sign-in.
        if (Save(renewed) == TSaved::Nowhere && run_ != nullptr && run_->OnLog)
            run_->OnLog("更新したトークンを保存できませんでした");
    };
    if (RefreshIfExpiring(tokens, client, now, save) == TRefreshResult::rrNeedsSignIn) tokens.AccessToken.clear();
    // A held token is written as soon as a store takes it.
    if (!saved) Save(tokens);
    return tokens;
}

}  // namespace tarnwick
