#pragma once
// Waits before a message the SMTP server refused for good is offered again: one watch interval
// after the first refusal, then twice the last wait, never more than a day. The state is a small
// text file beside the ledger, so a run started by a timer (--once) backs off as well; it starts
// over when the SMTP settings or the forwarding address change (a fingerprint of them is kept in
// the file) or when the user asks for every refused message to be sent again.
#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace tarnwick {

class TUidSet;

class TRefusalBackoff {
public:
    // Seconds since the epoch.
    using TClock = std::function<int64_t()>;
    static constexpr int64_t MaxWaitSeconds = 24 * 60 * 60;

    // path: the state file; fingerprint: FingerprintOf the settings a refusal depends on. Made at
    // the start of a cycle: a refusal in it counts its wait from then.
    TRefusalBackoff(std::string path, std::string fingerprint, int64_t intervalSeconds, TClock clock = SystemClock);

    // Reads the state file. A missing file, or one made under other settings, means no message
    // waits; lines that do not read are dropped, so a damaged file costs at most an early retry.
    void Load();
    // Replaces the file atomically (temporary file, synced, renamed). Raises EFCreateError or
    // EWriteError naming the path. Does nothing when nothing changed since Load or the last Save.
    void Save();

    // Whether the message may be offered now.
    bool Due(const std::string& id) const;
    // When the message may be offered next; 0 when it does not wait.
    int64_t NextTry(const std::string& id) const;
    // Records a refusal for good and returns when the next try is due.
    int64_t Refused(const std::string& id);
    // The message went through (or was otherwise settled): it no longer waits.
    void Forget(const std::string& id);
    // Drops the messages that are no longer on the server.
    void Prune(const TUidSet& onServer);
    // Every message may be offered at once (今すぐ再送).
    void Clear();
    size_t Count() const { return waits_.size(); }

    // A keyed digest (HMAC-SHA256) of the texts (SMTP server, port, user, password, forwarding
    // address ...): the file holds no password, and without the key nothing can be tried against it.
    static std::string FingerprintOf(const std::string& key, std::initializer_list<std::string> texts);
    // The key kept in keyFile (0600), made there on first use; an empty keyFile gives one key for the
    // process. A key that cannot be read or kept is replaced: the waits then start over.
    static std::string FingerprintKey(const std::string& keyFile);
    // The key file of a settings file: the same name with ".key".
    static std::string KeyFileFor(const std::string& settingsFile);
    // The state file beside the ledger of a forwarding address.
    static std::string FileName(const std::string& forwardAddress);
    // "12/09 15:30" in local time, for the log.
    static std::string TimeText(int64_t seconds);
    static int64_t SystemClock();

private:
    struct TWait {
        int64_t Due = 0;
        int64_t Seconds = 0;  // the wait that led to Due
    };
    std::string path_;
    std::string fingerprint_;
    int64_t interval_;
    TClock clock_;
    int64_t cycleStart_;
    std::map<std::string, TWait> waits_;
    bool changed_ = false;
};

}  // namespace tarnwick
