#pragma once
// Real short writes for the tests of files that must survive a full disk.
//
// FileSizeLimit: while it lives, no regular file of this process grows past the given size; a
// write that crosses it is cut short by the kernel and the next one fails (EFBIG).
// SmallTmpfs: a 64 KiB tmpfs mounted in a private mount namespace of this process (root only;
// Mounted() is false where that is not allowed, and the test should skip).
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <string>

namespace tarnwick::test {

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        oldSignal_ = ::signal(SIGXFSZ, SIG_IGN);  // the write fails instead of ending the process
        rlimit limit{bytes, old_.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        ::signal(SIGXFSZ, oldSignal_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old_{};
    sighandler_t oldSignal_ = SIG_DFL;
};

class SmallTmpfs {
public:
    SmallTmpfs() {
        char pattern[] = "/tmp/tarnwick-tmpfs-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) return;
        dir_ = pattern;
        // Private to this process, so the mount is never seen by (or left to) anyone else.
        if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0 ||
            ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tarnwick-test", dir_.c_str(), "tmpfs", 0, "size=64k,mode=0755") != 0)
            return;
        mounted_ = true;
    }
    ~SmallTmpfs() {
        if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
        if (!dir_.empty()) ::rmdir(dir_.c_str());
    }
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;

    bool Mounted() const { return mounted_; }
    const std::string& Dir() const { return dir_; }

private:
    std::string dir_;
    bool mounted_ = false;
};

}  // namespace tarnwick::test
