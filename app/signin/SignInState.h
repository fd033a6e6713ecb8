#pragma once
// The sign-in state every mode shares (the window, --once, --watch, --authorize and the connection
// test): where passwords and tokens are kept, and the sign-in step before each login.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "app/signin/SecretStore.h"
#include "app/signin/TokenStore.h"
#include "app/settings/Settings.h"
#include "net/MailSASL.h"

namespace tarnwick {

// A login that waits for the user to sign in again (the refresh token was refused).
class ESignInNeeded : public std::runtime_error {
public:
    ESignInNeeded() : std::runtime_error("再サインインが必要です") {}
};

// The text of a failed login for the log: the error's, and for a refused token the "status" of
// the server's error challenge.
std::string LoginFailure(const std::exception& e);
// Whether the server refused the access token itself (status 401): a new one may still pass.
bool TokenRefused(const std::exception& e);

class TSignInState {
public:
    explicit TSignInState(std::string settingsPath);

    // Told once each: the keyring is missing or will not store (the file keeps the secrets), a
    // sign-in is needed.
    std::function<void(const std::string& cp932)> OnLog;
    std::function<void()> OnSignInNeeded;

    // "パスワードをキーリングに保存" of the settings in use.
    std::atomic<bool> KeyringSecrets{false};

    const std::string& SettingsPath() const { return path_; }
    // Whether secrets go to the keyring: the settings ask for it and one answers.
    bool UseKeyring();
    TSecretStore& Keyring() { return keyring_; }

    // SMTP shares POP3's sign-in when it signs in the same way as the same user (one Microsoft
    // sign-in covers both scopes).
    static bool SmtpSharesPop3(const TServerSettings& servers);

    // The sign-in step before a login of one server: an inactive login for a password; else the
    // token login with the access token of its sign-in, refreshed when due (renew: at once, the
    // server refused the one it had). Raises ESignInNeeded (no request is made) or the reason the
    // provider could not be asked.
    TOAuthLogin LoginFor(const TServerSettings& s, TServerKind kind, bool renew = false);
    // Keeps the tokens of a new sign-in; false when they could not be written anywhere.
    bool SaveSignIn(const TServerSettings& s, TServerKind kind, const TOAuthTokens& tokens);

    // Passwords: filled from the keyring where the file has none; before writing the file, moved
    // into the keyring (the record written then holds no password). Nothing moves without a keyring.
    void LoadPasswords(TSettings& settings);
    TSettings MovePasswordsToKeyring(const TSettings& settings);

private:
    // Where a server's tokens are kept (SMTP's in POP3's place when it shares its sign-in).
    TTokenStore Tokens(const TServerSettings& s, TServerKind kind);

    std::string path_;
    TSecretStore keyring_;
    std::mutex mutex_;  // one refresh at a time: the cycle's thread and the connection test
    bool signInTold_ = false;
    TTokenStore::TRun tokensRun_;
};

}  // namespace tarnwick
