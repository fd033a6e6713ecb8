// Replacing a file whole: the mode asked for, the rename over the old file, failures that leave the
// old file and no temporary behind, and temporaries of a killed run removed on the next write.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <functional>
#include <sstream>
#include <vector>

#include "platform/Exception.h"
#include "platform/FileReplace.h"
#include "support/DiskLimits.h"
#include "support/TempDir.h"

// A failing fsync, for this program only: the real one unless a test asks for the failure.
static bool failFsync = false;
extern "C" int fsync(int fd) {
    if (failFsync) {
        errno = EIO;
        return -1;
    }
    static auto real = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fsync"));
    return real(fd);
}

namespace tarnwick {
namespace {

class FileReplace : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarnwick-replace-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        path_ = dir_ + "/state.txt";
    }
    void TearDown() override {
        for (const std::string& name : test::FilesIn(dir_)) ::unlink((dir_ + "/" + name).c_str());
        ::rmdir(dir_.c_str());
    }
    std::string Get(const std::string& path) const {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    mode_t Mode(const std::string& path) const {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return st.st_mode & 07777;
    }
    std::string dir_, path_;
};

TEST_F(FileReplace, NewContentTheModeAskedForAndNothingElseInTheFolder) {
    const mode_t mask = ::umask(077);  // the mode asked for is set whatever the umask
    ReplaceFile(path_, "first\n");
    EXPECT_EQ(Mode(path_), 0600u);
    // An open reader keeps the old file whole: the new one is renamed over it.
    const int reader = ::open(path_.c_str(), O_RDONLY);
    ReplaceFile(path_, "second\n", 0644);
    ::umask(mask);
    EXPECT_EQ(Get(path_), "second\n");
    EXPECT_EQ(Mode(path_), 0644u);
    char old[16] = {};
    EXPECT_EQ(::read(reader, old, sizeof old), 6);
    EXPECT_STREQ(old, "first\n");
    ::close(reader);
    EXPECT_EQ(test::FilesIn(dir_), std::vector<std::string>{"state.txt"});
}

TEST_F(FileReplace, TemporariesOfAKilledRunGoOnTheNextWriteThoseInUseAndOthersStay) {
    for (const char* name : {"state.txt.tmp-Ab3xYz", "state.txt.tmp-000000", "state.txt.tmp-inuse1",
                             "state.txt.tmp-x", "other.txt.tmp-Ab3xYz"})
        std::ofstream(dir_ + "/" + name) << "left";
    // A living writer holds its temporary file locked.
    const int inUse = ::open((dir_ + "/state.txt.tmp-inuse1").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(inUse, LOCK_EX), 0);
    ReplaceFile(path_, "new\n");
    ::close(inUse);
    std::vector<std::string> left = test::FilesIn(dir_);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"other.txt.tmp-Ab3xYz", "state.txt", "state.txt.tmp-inuse1",
                                              "state.txt.tmp-x"}));
}

TEST_F(FileReplace, AFailureLeavesTheOldFileAndNoTemporaryAndNamesThePathAndTheReason) {
    struct Case {
        const char* name;
        std::string path;
        std::function<void()> during;  // runs while the file is written
        std::string message;
        bool create;  // EFCreateError, else EWriteError
    };
    const std::string missing = dir_ + "/no/state.txt";
    const Case cases[] = {
        {"missing folder", missing, [] {}, "ファイル " + missing + " を作成できません。No such file or directory", true},
        {"full disk", path_, [] {}, "ファイル " + path_ + " に書き込めません。File too large", false},
        {"failed sync", path_, [] { failFsync = true; }, "ファイル " + path_ + " に書き込めません。Input/output error",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReplaceFile(path_, "old\n");
        std::string caught;
        bool wasCreate = false;
        try {
            TFileReplacement file(c.path);
            const std::string big(std::string(c.name) == "full disk" ? 4096 : 16, 'x');
            {
                test::FileSizeLimit limit(std::string(c.name) == "full disk" ? 100 : RLIM_INFINITY);
                file.Write(big);
            }
            c.during();
            file.Commit();
        } catch (const EFCreateError& e) {
            caught = e.what();
            wasCreate = true;
        } catch (const EWriteError& e) {
            caught = e.what();
        }
        failFsync = false;
        EXPECT_EQ(caught, c.message);
        EXPECT_EQ(wasCreate, c.create);
        EXPECT_EQ(Get(path_), "old\n");
        EXPECT_EQ(test::FilesIn(dir_).size(), 1u);
    }
}

}  // namespace
}  // namespace tarnwick
