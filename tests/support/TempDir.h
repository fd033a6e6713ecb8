#pragma once
// A temporary folder of this test process's own, made the system's temporary folder (TMPDIR)
// before anything asks for it, so a test can see which temporary files are left behind.
//
//     const std::string& dir = tarnwick::test::ProcessTempDir();   // call before any temp file use
//     EXPECT_THAT(tarnwick::test::FilesIn(dir), IsEmpty());
#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace tarnwick::test {

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
