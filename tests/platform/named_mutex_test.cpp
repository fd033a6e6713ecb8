#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/NamedMutex.h"
#include "support/TempDir.h"

namespace tarnwick {
namespace {

// This test program doubles as the contending process: started with TARNWICK_MUTEX_CHILD=name it
// tries the name before any test runs, says "HELD" or "BUSY" on stdout, and then either exits 3
// (busy) or keeps the name until its stdin closes or it is killed.
const bool kChildMode = [] {
    const char* name = std::getenv("TARNWICK_MUTEX_CHILD");
    if (!name) return false;
    auto mutex = TNamedMutex::TryCreate(name);
    const char* word = mutex ? "HELD\n" : "BUSY\n";
    if (::write(STDOUT_FILENO, word, 5) != 5) _exit(4);
    if (!mutex) _exit(3);
    char c;
    while (::read(STDIN_FILENO, &c, 1) > 0) {
    }
    _exit(0);
}();

struct Child {
    pid_t pid = -1;
    int toChild = -1;    // closing it lets a holding child end
    int fromChild = -1;  // "HELD" / "BUSY"
};

// Starts this program again as a contender for name (fork + exec, so nothing but the
// environment is shared with the test).
Child Spawn(const std::string& name) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return {};
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::setenv("TARNWICK_MUTEX_CHILD", name.c_str(), 1);
        char self[] = "/proc/self/exe";
        char* argv[] = {self, nullptr};
        ::execv(self, argv);
        _exit(5);
    }
    ::close(in[0]);
    ::close(out[1]);
    return {pid, in[1], out[0]};
}

std::string Answer(const Child& child) {
    char buf[8] = {};
    ssize_t n;
    do {
        n = ::read(child.fromChild, buf, 5);
    } while (n < 0 && errno == EINTR);
    return n > 0 ? std::string(buf, static_cast<size_t>(n) - 1) : "";
}

int Reap(Child& child) {
    int status = 0;
    ::close(child.toChild);
    ::close(child.fromChild);
    ::waitpid(child.pid, &status, 0);
    return status;
}

class NamedMutexTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(kChildMode);
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        if (old) oldRuntime_ = old;
        hadRuntime_ = old != nullptr;
        const char* tmp = std::getenv("TMPDIR");
        if (tmp) oldTmp_ = tmp;
        hadTmp_ = tmp != nullptr;
        ::setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    }
    void TearDown() override {
        if (hadRuntime_) ::setenv("XDG_RUNTIME_DIR", oldRuntime_.c_str(), 1);
        else ::unsetenv("XDG_RUNTIME_DIR");
        if (hadTmp_) ::setenv("TMPDIR", oldTmp_.c_str(), 1);
        else ::unsetenv("TMPDIR");
    }

    const std::string name_ = "ForwardMail";
    test::ScratchFolder folder_{"mutex"};
    std::string dir_ = folder_.Path();
    std::string oldRuntime_;
    bool hadRuntime_ = false;
    std::string oldTmp_;
    bool hadTmp_ = false;
};

TEST_F(NamedMutexTest, SecondHolderInTheSameProcessIsRefusedUntilTheFirstIsGone) {
    auto first = TNamedMutex::TryCreate(name_);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(TNamedMutex::LockPath(name_), dir_ + "/ForwardMail.lock");
    EXPECT_EQ(TNamedMutex::TryCreate(name_), nullptr);
    EXPECT_NE(TNamedMutex::TryCreate("OtherName"), nullptr);  // names are independent
    first.reset();
    EXPECT_NE(TNamedMutex::TryCreate(name_), nullptr);
}

TEST_F(NamedMutexTest, AnotherProcessIsRefusedWhileWeHoldIt) {
    auto held = TNamedMutex::TryCreate(name_);
    ASSERT_NE(held, nullptr);
    Child child = Spawn(name_);
    ASSERT_GT(child.pid, 0);
    EXPECT_EQ(Answer(child), "BUSY");
    int status = Reap(child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
}

TEST_F(NamedMutexTest, KilledHolderFreesTheNameAtOnce) {
    Child child = Spawn(name_);
    ASSERT_GT(child.pid, 0);
    ASSERT_EQ(Answer(child), "HELD");
    EXPECT_EQ(TNamedMutex::TryCreate(name_), nullptr);
    ::kill(child.pid, SIGKILL);
    int status = Reap(child);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_NE(TNamedMutex::TryCreate(name_), nullptr);
}

TEST_F(NamedMutexTest, ProgramsStartedByTheHolderDoNotKeepTheName) {
    auto held = TNamedMutex::TryCreate(name_);
    ASSERT_NE(held, nullptr);
    Child other = Spawn("UnrelatedName");  // lives on after we let go
    ASSERT_EQ(Answer(other), "HELD");
    held.reset();
    EXPECT_NE(TNamedMutex::TryCreate(name_), nullptr);
    Reap(other);
}

TEST_F(NamedMutexTest, OfManyProcessesStartingTogetherExactlyOneWins) {
    constexpr int kCount = 6;
    Child children[kCount];
    for (Child& c : children) c = Spawn(name_);
    int held = 0, busy = 0;
    for (Child& c : children) {
        std::string answer = Answer(c);
        held += answer == "HELD";
        busy += answer == "BUSY";
    }
    EXPECT_EQ(held, 1);
    EXPECT_EQ(busy, kCount - 1);
    for (Child& c : children) Reap(c);
}

TEST_F(NamedMutexTest, WithoutAPrivateRuntimeFolderTheLockIsInAFolderOfOurOwn) {
    const std::string uid = std::to_string(::geteuid());
    const std::string tmp = dir_ + "/tmp";
    ASSERT_EQ(::mkdir(tmp.c_str(), 0777), 0);
    ::setenv("TMPDIR", tmp.c_str(), 1);
    const std::string folder = tmp + "/tarnwick-" + uid;
    // Missing, or open to others: neither is used.
    ::setenv("XDG_RUNTIME_DIR", (dir_ + "/does-not-exist").c_str(), 1);
    EXPECT_EQ(TNamedMutex::LockPath("a/../b"), folder + "/a_.._b.lock");
    ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
    EXPECT_EQ(TNamedMutex::LockPath(name_), folder + "/ForwardMail.lock");

    auto first = TNamedMutex::TryCreate(name_);
    ASSERT_NE(first, nullptr);
    struct stat st {};
    ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(TNamedMutex::TryCreate(name_), nullptr);
}

// Someone else got there first: the start fails loudly instead of quietly never starting.
TEST_F(NamedMutexTest, AFallbackFolderThatIsNotOursAloneIsRefused) {
    const std::string tmp = dir_ + "/tmp";
    ASSERT_EQ(::mkdir(tmp.c_str(), 0777), 0);
    ::setenv("TMPDIR", tmp.c_str(), 1);
    ::unsetenv("XDG_RUNTIME_DIR");
    const std::string folder = tmp + "/tarnwick-" + std::to_string(::geteuid());
    auto refused = [&](const char* what) {
        try {
            TNamedMutex::TryCreate(name_);
            ADD_FAILURE() << what << ": not refused";
        } catch (const ENamedMutexError& e) {
            EXPECT_NE(e.Message().find(folder), std::string::npos) << what << ": " << e.Message();
        }
    };
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    refused("open to others");
    ASSERT_EQ(::rmdir(folder.c_str()), 0);
    ASSERT_EQ(::mkdir((dir_ + "/elsewhere").c_str(), 0700), 0);
    ASSERT_EQ(::symlink((dir_ + "/elsewhere").c_str(), folder.c_str()), 0);
    refused("a link");
}

TEST_F(NamedMutexTest, ALockFileOfAnotherUserIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "planting another user's file takes root";
    const std::string path = TNamedMutex::LockPath(name_);
    ASSERT_EQ(::close(::open(path.c_str(), O_CREAT | O_WRONLY, 0600)), 0);
    ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    try {
        TNamedMutex::TryCreate(name_);
        ADD_FAILURE() << "not refused";
    } catch (const ENamedMutexError& e) {
        EXPECT_EQ(e.Message(), "ロックファイル " + path + " は他のユーザのものです");
    }
}

}  // namespace
}  // namespace tarnwick
