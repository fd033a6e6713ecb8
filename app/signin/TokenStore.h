#pragma once
// Where one server's OAuth tokens are kept, and the token step before its login. In the keyring
// when one answers and the user keeps secrets there, else in that server's section of the settings
// file (0600); one of the two holds them at a time. Each write replaces the file whole (a crash
// leaves the old or the new one); the refresh token goes first, on its own, since the provider may
// already have retired the one before it.
#include <functional>
#include <map>
#include <string>

#include "app/signin/OAuthTokens.h"

namespace tarnwick {

class TSecretStore;

class TTokenStore {
public:
    // What outlives one store for the run: tokens no store would take (the run goes on with them),
    // and the log.
    struct TRun {
        std::function<void(const std::string& cp932)> OnLog;
        std::map<std::string, TOAuthTokens> Unsaved;  // by "section/account"
        bool FileForKeyringTold = false;
    };

    // section: "POP3" or "SMTP"; account names the login in the keyring (user@server).
    // keyring nullptr: the settings file. run nullptr: nothing is held or told.
    TTokenStore(std::string settingsPath, std::string section, std::string account, TSecretStore* keyring,
                TRun* run = nullptr);

    // Where the last Save put the tokens.
    enum class TSaved { Nowhere, Keyring, File, FileForKeyring };

    TOAuthTokens Load();
    // FileForKeyring: the keyring answers but would not take them; the file holds them instead
    // (told once a run).
    TSaved Save(const TOAuthTokens& tokens);
    // Forgets the tokens (another account, or back to passwords).
    void Clear();

    // The token step before a login: the tokens held, refreshed at provider when they expire within
    // 5 minutes (or at once with renew: the server refused the access token), a rotated refresh
    // token saved at once (one that cannot be is told, and held for the run). Without a usable
    // token, Error or NeedsSignIn says why.
    TOAuthTokens ForLogin(const TOAuthProvider& provider, int64_t now, bool renew = false);

    bool InKeyring() const { return keyring_ != nullptr; }

private:
    std::string KeyringKey(const char* what) const;
    // Whether tokens no store took are held for this place.
    bool Held() const;
    TOAuthTokens LoadFile() const;
    bool SaveFile(const TOAuthTokens& tokens);
    void ClearFile();

    std::string path_, section_, account_;
    TSecretStore* keyring_;
    TRun* run_;
};

}  // namespace tarnwick
