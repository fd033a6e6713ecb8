#pragma once
// Where one server's OAuth tokens are kept: in the keyring when one answers and the user keeps
// secrets there, else in that server's section of the settings file (0600). Each write replaces
// the file whole (a crash leaves the old or the new one); the refresh token goes first, on its
// own, since the provider may already have retired the one before it.
#include <string>

#include "app/signin/OAuthTokens.h"

namespace tarnwick {

class TSecretStore;

class TAccountTokens {
public:
    // section: "POP3" or "SMTP"; account names the login in the keyring (user@server).
    // keyring nullptr: the settings file.
    TAccountTokens(std::string settingsPath, std::string section, std::string account, TSecretStore* keyring);

    TOAuthTokens Load();
    // False when the tokens could not be written anywhere.
    bool Save(const TOAuthTokens& tokens);
    // Forgets the tokens (another account, or back to passwords).
    void Clear();

    bool InKeyring() const { return keyring_ != nullptr; }

private:
    std::string KeyringKey(const char* what) const;

    std::string path_, section_, account_;
    TSecretStore* keyring_;
};

}  // namespace tarnwick
