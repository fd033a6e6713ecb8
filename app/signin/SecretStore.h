#pragma once
// Passwords and refresh tokens in the desktop keyring (Secret Service or KWallet, through
// QtKeychain). Without a keyring that answers, the caller keeps them in its 0600 settings file
// instead: QtKeychain's own plain-text fallback is never used. Without a session bus there is no
// keyring (none is started for the display). A call ends at once when the abort of the calling
// thread's scope (TAbortScope) is set off.
#include <functional>
#include <optional>
#include <string>

namespace tarnwick {

class TSecretStore {
public:
    explicit TSecretStore(std::string service = "Tarnwick");

    // How long one keyring call may take (a locked keyring may wait for the user).
    int TimeoutMs = 10000;
    // Told once, the first time the keyring is found missing.
    std::function<void(const std::string& line)> OnLog;

    // Whether a keyring answers; asked once, then remembered. Quiet: without the log line (a
    // first start only decides whether to offer the keyring).
    bool Available(bool quiet = false);
    // False when no keyring answers or the write failed.
    bool Write(const std::string& key, const std::string& secret);
    // nullopt when the key is not there or no keyring answers.
    std::optional<std::string> Read(const std::string& key);
    bool Remove(const std::string& key);

private:
    enum class TProbe { pUnknown, pYes, pNo };
    void Missing(bool quiet);

    std::string service_;
    TProbe probe_ = TProbe::pUnknown;
    bool told_ = false;
};

}  // namespace tarnwick
