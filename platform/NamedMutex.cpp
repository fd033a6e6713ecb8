#include "platform/NamedMutex.h"

#include <cerrno>
#include <cstdlib>
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

}  // namespace

std::string TNamedMutex::LockPath(const std::string& name) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {};
    // The per-user runtime folder when it is really there, else a name that carries the user.
    if (runtime && runtime[0] == '/' && ::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode))
        return std::string(runtime) + "/" + FileComponent(name) + ".lock";
    return "/tmp/" + FileComponent(name) + "-" + std::to_string(::getuid()) + ".lock";
}

std::unique_ptr<TNamedMutex> TNamedMutex::TryCreate(const std::string& name) {
    std::string path = LockPath(name);
    // O_NOFOLLOW: in the shared /tmp another user could plant a link to a file of ours.
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return nullptr;
    // Each open() is its own lock holder, so a second TryCreate in this process is refused too.
    // The kernel drops the lock with the last descriptor, also when the process is killed.
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<TNamedMutex>(new TNamedMutex(fd));
}

TNamedMutex::~TNamedMutex() {
    // The file stays: removing it would let a newcomer lock a fresh file while a racer holds the old one.
    ::close(fd_);
}

}  // namespace tarnwick
