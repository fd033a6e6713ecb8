#include "app/cycle/RefusalBackoff.h"

#include <fcntl.h>
#include <openssl/evp.h>
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

namespace tarnwick {

namespace {

constexpr std::string_view kMagic = "tarnwick-backoff 1 ";

bool ReadNumber(std::string_view text, int64_t& value) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

[[noreturn]] void Raise(bool create, const std::string& path, int error) {
    const char* pattern = create ? "ファイル %s を作成できません。%s" : "ファイル %s に書き込めません。%s";
    const std::string text = Format(pattern, path.c_str(), std::strerror(error));
    if (create) throw EFCreateError(text);
    throw EWriteError(text);
}

}  // namespace

TRefusalBackoff::TRefusalBackoff(std::string path, std::string fingerprint, int64_t intervalSeconds, TClock clock)
    : path_(std::move(path)),
      fingerprint_(std::move(fingerprint)),
      interval_(std::clamp<int64_t>(intervalSeconds, 1, MaxWaitSeconds)),
      clock_(std::move(clock)) {}

int64_t TRefusalBackoff::SystemClock() { return static_cast<int64_t>(std::time(nullptr)); }

std::string TRefusalBackoff::FileName(const std::string& forwardAddress) {
    return LedgerFileName(forwardAddress) + ".wait";
}

std::string TRefusalBackoff::FingerprintOf(std::initializer_list<std::string> texts) {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    if (context == nullptr) throw Exception("SHA-256 digest failed.");
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    bool ok = EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1;
    for (const std::string& text : texts) {
        // The length in front keeps ("ab", "c") apart from ("a", "bc").
        const std::string field = std::to_string(text.size()) + ":" + text;
        ok = ok && EVP_DigestUpdate(context, field.data(), field.size()) == 1;
    }
    ok = ok && EVP_DigestFinal_ex(context, digest, &length) == 1;
    EVP_MD_CTX_free(context);
    if (!ok) throw Exception("SHA-256 digest failed.");
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 0x0F];
    }
    return out;
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
        wait.Seconds = std::min(wait.Seconds, MaxWaitSeconds);
        // A clock set back must not hold a message for longer than the longest wait.
        wait.Due = std::min(wait.Due, clock_() + MaxWaitSeconds);
        waits_[line.substr(second + 1)] = wait;
    }
}

void TRefusalBackoff::Save() {
    if (!changed_) return;
    std::string text = std::string(kMagic) + fingerprint_ + "\n";
    for (const auto& [id, wait] : waits_)
        text += std::to_string(wait.Due) + "\t" + std::to_string(wait.Seconds) + "\t" + id + "\n";
    std::string temp = path_ + ".tmp-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) Raise(true, path_, errno);
    size_t done = 0;
    int error = 0;
    while (done < text.size() && error == 0) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) error = n < 0 ? errno : ENOSPC;
        else done += static_cast<size_t>(n);
    }
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    ::close(fd);
    if (error != 0) {
        ::unlink(temp.c_str());
        Raise(false, temp, error);
    }
    if (::rename(temp.c_str(), path_.c_str()) != 0) {
        error = errno;
        ::unlink(temp.c_str());
        Raise(true, path_, error);
    }
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
    wait.Due = clock_() + wait.Seconds;
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
