#include "platform/FileReplace.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/Exception.h"

namespace tarnwick {

namespace {

constexpr std::string_view kTempMark = ".tmp-";
constexpr size_t kRandomLength = 6;
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// errno is left at the system's reason too, for callers that report failures by it.
[[noreturn]] void RaiseCreate(const std::string& path, int error) {
    EFCreateError e(Format("ファイル %s を作成できません。%s", FullFilePath(path).c_str(), std::strerror(error)));
    errno = error;
    throw e;
}

[[noreturn]] void RaiseWrite(const std::string& path, int error) {
    EWriteError e(Format("ファイル %s に書き込めません。%s", FullFilePath(path).c_str(), std::strerror(error)));
    errno = error;
    throw e;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string RandomPart() {
    unsigned char bytes[kRandomLength];
    if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        // Only uniqueness matters here (O_EXCL settles clashes): the time and pid will do.
        unsigned long seed = static_cast<unsigned long>(::getpid()) * 2654435761u ^ static_cast<unsigned long>(::time(nullptr));
        for (unsigned char& b : bytes) b = static_cast<unsigned char>(seed >>= 3);
    }
    std::string out;
    for (unsigned char b : bytes) out += kAlphabet[b % (sizeof kAlphabet - 1)];
    return out;
}

bool IsOurTempName(std::string_view name, std::string_view base) {
    if (name.size() != base.size() + kTempMark.size() + kRandomLength) return false;
    if (name.substr(0, base.size()) != base || name.substr(base.size(), kTempMark.size()) != kTempMark) return false;
    for (char c : name.substr(base.size() + kTempMark.size()))
        if (std::strchr(kAlphabet, c) == nullptr || c == '\0') return false;
    return true;
}

// Temporary files of this target that no living writer holds: a run killed between creating and
// renaming one left it behind.
void RemoveStaleTemps(const std::string& folder, const std::string& base) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    while (const dirent* entry = ::readdir(dir)) {
        if (!IsOurTempName(entry->d_name, base)) continue;
        const std::string path = folder + "/" + entry->d_name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlink(path.c_str());
        ::close(fd);
    }
    ::closedir(dir);
}

}  // namespace

std::string FullFilePath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return path;
    return std::string(cwd) + "/" + path;
}

TFileReplacement::TFileReplacement(std::string target, mode_t mode) : target_(std::move(target)) {
    RemoveStaleTemps(FolderOf(target_), BaseOf(target_));
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temp = target_ + std::string(kTempMark) + RandomPart();
        const int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode & 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            RaiseCreate(target_, errno);
        }
        // Held while the file lives: the lock is what tells a living writer from a dead one.
        struct stat st {};
        if (::flock(fd, LOCK_EX) != 0 || ::fstat(fd, &st) != 0 || st.st_nlink == 0) {
            ::close(fd);  // taken for stale by another writer in the instant before the lock
            continue;
        }
        // Exactly the mode asked for, whatever the umask.
        if (::fchmod(fd, mode) != 0) {
            const int error = errno;
            ::close(fd);
            ::unlink(temp.c_str());
            RaiseCreate(target_, error);
        }
        fd_ = fd;
        temp_ = std::move(temp);
        return;
    }
    RaiseCreate(target_, EEXIST);
}

TFileReplacement::~TFileReplacement() {
    const int error = errno;  // the reason of a failure being raised through here
    if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
    if (fd_ >= 0) ::close(fd_);
    errno = error;
}

void TFileReplacement::Reserve(off_t bytes) {
    if (bytes <= 0) return;
    if (::fallocate(fd_, FALLOC_FL_KEEP_SIZE, 0, bytes) == 0) return;
    int error = errno;
    if (error == EOPNOTSUPP || error == ENOSYS) {
        // Where the file system cannot reserve, prove the room is there now and give it back.
        error = ::posix_fallocate(fd_, 0, bytes);
        if (error == 0 && ::ftruncate(fd_, 0) != 0) error = errno;
    }
    if (error != 0) RaiseCreate(target_, error);
}

void TFileReplacement::Write(std::string_view data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd_, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) RaiseWrite(target_, errno);
        if (n == 0) RaiseWrite(target_, ENOSPC);
        done += static_cast<size_t>(n);
    }
}

void TFileReplacement::Commit() {
    if (::fsync(fd_) != 0) RaiseWrite(target_, errno);
    if (::rename(temp_.c_str(), target_.c_str()) != 0) RaiseCreate(target_, errno);
    committed_ = true;
    // The rename itself must survive a power loss too; a folder that cannot be synced (some
    // file systems refuse) leaves the file written all the same.
    const int dir = ::open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

int TFileReplacement::ReleaseDescriptor() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void ReplaceFile(const std::string& path, std::string_view data, mode_t mode) {
    TFileReplacement file(path, mode);
    file.Write(data);
    file.Commit();
}

}  // namespace tarnwick
