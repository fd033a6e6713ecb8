#pragma once
// Temporary folders for tests.
//
// ScratchFolder: a fresh folder for one test (or one program), removed with everything in it,
// read-only parts too, when it goes; Enter() makes it the working folder until then.
//
//     ScratchFolder folder_{"ledger"};       // /tmp/tarnwick-ledger-XXXXXX
//     folder_.Enter();                       // files named without a folder land in it
//
// ProcessTempDir: a temporary folder of this test process's own, made the system's temporary
// folder (TMPDIR) before anything asks for it, so a test can see which temporary files are left
// behind.
//
//     const std::string& dir = tarnwick::test::ProcessTempDir();   // call before any temp file use
//     EXPECT_THAT(tarnwick::test::FilesIn(dir), IsEmpty());
#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarnwick::test {

class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& what = "test") {
        std::string pattern = "/tmp/tarnwick-" + what + "-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make " + pattern);
        path_ = pattern;
    }
    ~ScratchFolder() {
        int ignored = 0;
        if (!oldDir_.empty()) ignored = ::chdir(oldDir_.c_str());
        // A test may have taken the write permission away from a file or folder in it.
        ignored = std::system(("chmod -R u+rwx '" + path_ + "' && rm -rf '" + path_ + "'").c_str());
        (void)ignored;
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return path_; }
    void Enter() {
        char old[4096];
        if (::getcwd(old, sizeof old) == nullptr || ::chdir(path_.c_str()) != 0)
            throw std::runtime_error("cannot change to " + path_);
        oldDir_ = old;
    }

private:
    std::string path_;
    std::string oldDir_;
};

inline std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(d);
    }
    return names;
}

inline const std::string& ProcessTempDir() {
    static const std::string dir = [] {
        char pattern[] = "/tmp/tarnwick-test-XXXXXX";
        std::string made = ::mkdtemp(pattern) != nullptr ? pattern : "/tmp";
        ::setenv("TMPDIR", made.c_str(), 1);
        if (made != "/tmp") {
            static std::string toRemove;
            toRemove = made;
            std::atexit([] {
                for (const std::string& name : FilesIn(toRemove)) ::unlink((toRemove + "/" + name).c_str());
                ::rmdir(toRemove.c_str());
            });
        }
        return made;
    }();
    return dir;
}

}  // namespace tarnwick::test
