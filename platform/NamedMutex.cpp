#include "platform/NamedMutex.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick {
namespace {

// A name becomes one file name component: a path delimiter in it must not lead elsewhere.
std::string FileComponent(const std::string& name) {
    std::string out = name;
    for (char& c : out)
        if (c == '/' || c == '\0') c = '_';
    if (out.empty() || out == "." || out == "..") out = "_" + out;
    return out;
}

// A folder only we can enter: ours, a real folder, nothing for group or others.
bool PrivateFolder(const struct stat& st) {
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

std::string RuntimeFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {};
    if (runtime && runtime[0] == '/' && ::stat(runtime, &st) == 0 && PrivateFolder(st)) return runtime;
    return {};
}

std::string FallbackFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp && tmp[0] == '/' ? tmp : "/tmp";
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base + "/tarnwick-" + std::to_string(::geteuid());
}

// Makes the fallback folder 0700, or checks the one that is there: in a shared /tmp anyone could
// have made it first, or put a link there.
void EnsurePrivateFolder(const std::string& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        throw ENamedMutexError(Format("ロック用フォルダ %s を作成できません。%s", folder.c_str(), std::strerror(errno)));
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0)
        throw ENamedMutexError(Format("ロック用フォルダ %s を調べられません。%s", folder.c_str(), std::strerror(errno)));
    if (!PrivateFolder(st))
        throw ENamedMutexError(Format("ロック用フォルダ %s が自分専用(所有者が自分、アクセス権 0700)ではありません",
                                      folder.c_str()));
}

}  // namespace

std::string TNamedMutex::LockPath(const std::string& name) {
    std::string folder = RuntimeFolder();
    if (folder.empty()) folder = FallbackFolder();
    return folder + "/" + FileComponent(name) + ".lock";
}

std::unique_ptr<TNamedMutex> TNamedMutex::TryCreate(const std::string& name) {
    if (RuntimeFolder().empty()) EnsurePrivateFolder(FallbackFolder());
    std::string path = LockPath(name);
    // O_NOFOLLOW: a link planted in place of the file must not lead to a file of ours elsewhere;
    // O_NONBLOCK: a pipe planted there must not hold the start.
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) throw ENamedMutexError(Format("ロックファイル %s を作成できません。%s", path.c_str(), std::strerror(errno)));
    struct stat st {};
    const bool statted = ::fstat(fd, &st) == 0;
    if (!statted || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        if (statted && S_ISREG(st.st_mode))
            throw ENamedMutexError(Format("ロックファイル %s は他のユーザのものです", path.c_str()));
        throw ENamedMutexError(Format("ロックファイル %s が通常のファイルではありません", path.c_str()));
    }
    // Each open() is its own lock holder, so a second TryCreate in this process is refused too.
    // The kernel drops the lock with the last descriptor, also when the process is killed.
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK) return nullptr;
        throw ENamedMutexError(Format("ロックファイル %s をロックできません。%s", path.c_str(), std::strerror(error)));
    }
    return std::unique_ptr<TNamedMutex>(new TNamedMutex(fd));
}

TNamedMutex::~TNamedMutex() {
    // The file stays: removing it would let a newcomer lock a fresh file while a racer holds the old one.
    ::close(fd_);
}

}  // namespace tarnwick
