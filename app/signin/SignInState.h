#pragma once
// The sign-in state every mode shares (the window, --once, --watch, --authorize and the connection
// test): where passwords and tokens are kept, and the token step before each login.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "app/signin/AccountTokens.h"
#include "app/signin/LoginToken.h"
#include "app/signin/SecretStore.h"
#include "app/settings/Settings.h"

namespace tarnwick {

// A login that waits for the user to sign in again (the refresh token was refused).
class ESignInNeeded : public std::runtime_error {
public:
    ESignInNeeded() : std::runtime_error("再サインインが必要です") {}
};

class TMailPOP3;
class TMailSMTP;

// The text of a failed login for the log: the error's, and for a refused token the "status" of
// the server's error challenge.
std::string LoginFailure(const std::exception& e);

class TSignInState {
public:
    explicit TSignInState(std::string settingsPath);

    // Told once each: the keyring is missing (the file keeps the secrets), a sign-in is needed.
    std::function<void(const std::string& cp932)> OnLog;
    std::function<void()> OnSignInNeeded;

    // "パスワードをキーリングに保存" of the settings in use.
    std::atomic<bool> KeyringSecrets{false};

    const std::string& SettingsPath() const { return path_; }
    // Whether secrets go to the keyring: the settings ask for it and one answers.
    bool UseKeyring();
    TSecretStore& Keyring() { return keyring_; }

    // Where a server's tokens are kept. SMTP shares POP3's sign-in when it signs in the same way
    // as the same user (one Microsoft sign-in covers both scopes).
    TAccountTokens Tokens(const TServerSettings& s, bool smtp);
    static bool SmtpSharesPop3(const TServerSettings& servers);
    static std::string SmtpUser(const TServerSettings& servers);

    // The token step before a login: the client gets a fresh access token, or the login fails
    // with ESignInNeeded (no request is made) or the reason the provider could not be asked.
    void PrepareLogin(const TServerSettings& s, TMailPOP3& pop3);
    void PrepareLogin(const TServerSettings& s, TMailSMTP& smtp);

    // Passwords: filled from the keyring where the file has none; before writing the file, moved
    // into the keyring (the record written then holds no password). Nothing moves without a keyring.
    void LoadPasswords(TSettings& settings);
    TSettings MovePasswordsToKeyring(const TSettings& settings);

private:
    TLoginToken Token(const TServerSettings& s, bool smtp);

    std::string path_;
    TSecretStore keyring_;
    std::mutex mutex_;  // one refresh at a time: the cycle's thread and the connection test
    bool signInTold_ = false;
};

}  // namespace tarnwick
