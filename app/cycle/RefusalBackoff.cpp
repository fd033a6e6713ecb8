#include "app/cycle/RefusalBackoff.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include "app/cycle/Ledger.h"
#include "platform/Exception.h"
#include "platform/FileReplace.h"

namespace tarnwick {

namespace {

constexpr std::string_view kMagic = "tarnwick-backoff 1 ";

constexpr size_t kKeyBytes = 32;

std::string Hex(const unsigned char* bytes, size_t length) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        out += hex[bytes[i] >> 4];
        out += hex[bytes[i] & 0x0F];
    }
    return out;
}

bool ReadNumber(std::string_view text, int64_t& value) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

}  // namespace

TRefusalBackoff::TRefusalBackoff(std::string path, std::string fingerprint, int64_t intervalSeconds, TClock clock)
    : path_(std::move(path)),
      fingerprint_(std::move(fingerprint)),
      interval_(std::clamp<int64_t>(intervalSeconds, 1, MaxWaitSeconds)),
      clock_(std::move(clock)),
      cycleStart_(clock_()) {}

int64_t TRefusalBackoff::SystemClock() { return static_cast<int64_t>(std::time(nullptr)); }

std::string TRefusalBackoff::FileName(const std::string& forwardAddress) {
    return LedgerFileName(forwardAddress) + ".wait";
}

std::string TRefusalBackoff::FingerprintOf(const std::string& key, std::initializer_list<std::string> texts) {
    // Keyed, so that the file cannot be used to try passwords against it offline.
    std::string message;
    for (const std::string& text : texts) {
        // The length in front keeps ("ab", "c") apart from ("a", "bc").
        message += std::to_string(text.size()) + ":" + text;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(message.data()),
             message.size(), digest, &length) == nullptr)
        throw Exception("HMAC-SHA256 failed.");
    return Hex(digest, length);
}

std::string TRefusalBackoff::KeyFileFor(const std::string& settingsFile) {
    if (settingsFile.empty()) return {};
    const size_t slash = settingsFile.rfind('/');
    const size_t dot = settingsFile.rfind('.');
    const std::string stem = dot != std::string::npos && (slash == std::string::npos || dot > slash)
                                 ? settingsFile.substr(0, dot)
                                 : settingsFile;
    return stem + ".key";
}

std::string TRefusalBackoff::FingerprintKey(const std::string& keyFile) {
    if (!keyFile.empty()) {
        // Only a key nobody else can read is kept; otherwise a new one (the waits start over).
        struct stat st {};
        std::ifstream file(keyFile, std::ios::binary);
        std::string text;
        if (file && ::stat(keyFile.c_str(), &st) == 0 && (st.st_mode & 077) == 0 && std::getline(file, text) &&
            text.size() == 2 * kKeyBytes && text.find_first_not_of("0123456789abcdef") == std::string::npos)
            return text;
    }
    unsigned char bytes[kKeyBytes];
    if (RAND_bytes(bytes, sizeof bytes) != 1) throw Exception("No random bytes for a key.");
    const std::string key = Hex(bytes, sizeof bytes);
    if (keyFile.empty()) {
        // Without a settings folder: one key for the process, so its cycles still agree.
        static const std::string processKey = key;
        return processKey;
    }
    try {
        ReplaceFile(keyFile, key + "\n", 0600);
    } catch (const std::exception&) {
        // Unwritten, the key holds for this run; the next run makes another (an early retry).
    }
    return key;
}

std::string TRefusalBackoff::TimeText(int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    ::tzset();
    ::localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, "%m/%d %H:%M", &local);
    return text;
}

void TRefusalBackoff::Load() {
    waits_.clear();
    changed_ = false;
    std::ifstream file(path_, std::ios::binary);
    if (!file) return;
    std::string line;
    if (!std::getline(file, line)) return;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line != std::string(kMagic) + fingerprint_) {
        // Made under other settings (or not ours): every message may be tried at once.
        changed_ = true;
        return;
    }
    // "due<TAB>wait<TAB>id": the id last, as it may hold anything but a line break.
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t first = line.find('\t');
        const size_t second = first == std::string::npos ? first : line.find('\t', first + 1);
        TWait wait;
        if (second == std::string::npos || second + 1 >= line.size() ||
            !ReadNumber(std::string_view(line).substr(0, first), wait.Due) ||
            !ReadNumber(std::string_view(line).substr(first + 1, second - first - 1), wait.Seconds) ||
            wait.Seconds <= 0) {
            changed_ = true;
            continue;
        }
        // A clock that was wrong at the refusal (or set back since) must not hold a message for
        // longer than the longest wait; the capped time is written back.
        const TWait read = wait;
        wait.Seconds = std::min(wait.Seconds, MaxWaitSeconds);
        wait.Due = std::min(wait.Due, clock_() + MaxWaitSeconds);
        if (wait.Due != read.Due || wait.Seconds != read.Seconds) changed_ = true;
        waits_[line.substr(second + 1)] = wait;
    }
}

void TRefusalBackoff::Save() {
    if (!changed_) return;
    std::string text = std::string(kMagic) + fingerprint_ + "\n";
    for (const auto& [id, wait] : waits_)
        text += std::to_string(wait.Due) + "\t" + std::to_string(wait.Seconds) + "\t" + id + "\n";
    // Private: the ids and times of the account's refused mail are nobody else's business.
    ReplaceFile(path_, text, 0600);
    changed_ = false;
}

bool TRefusalBackoff::Due(const std::string& id) const { return NextTry(id) <= clock_(); }

int64_t TRefusalBackoff::NextTry(const std::string& id) const {
    auto found = waits_.find(id);
    return found == waits_.end() ? 0 : found->second.Due;
}

int64_t TRefusalBackoff::Refused(const std::string& id) {
    TWait& wait = waits_[id];
    wait.Seconds = wait.Seconds == 0 ? interval_ : std::min(wait.Seconds * 2, MaxWaitSeconds);
    // From the start of the cycle that was refused: a long cycle does not push the next try back.
    wait.Due = cycleStart_ + wait.Seconds;
    changed_ = true;
    return wait.Due;
}

void TRefusalBackoff::Forget(const std::string& id) {
    if (waits_.erase(id) > 0) changed_ = true;
}

void TRefusalBackoff::Prune(const TUidSet& onServer) {
    for (auto it = waits_.begin(); it != waits_.end();) {
        if (onServer.Contains(it->first)) {
            ++it;
        } else {
            it = waits_.erase(it);
            changed_ = true;
        }
    }
}

void TRefusalBackoff::Clear() {
    if (!waits_.empty()) changed_ = true;
    waits_.clear();
}

}  // namespace tarnwick
