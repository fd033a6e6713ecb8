// Waits before a refused message is offered again, with a clock the test moves.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/cycle/Ledger.h"
#include "app/cycle/RefusalBackoff.h"
#include "platform/Exception.h"
#include "support/TempDir.h"

namespace tarnwick {
namespace {

constexpr int64_t kMinute = 60;
constexpr int64_t kHour = 60 * kMinute;

class Backoff : public ::testing::Test {
protected:
    Backoff() : path_(test::ProcessTempDir() + "/backoff-" + std::to_string(++serial_)) {}
    ~Backoff() override { ::unlink(path_.c_str()); }

    // A fresh state over the same file, as the next --once run would see it.
    TRefusalBackoff Open(const std::string& fingerprint = "fp", int64_t interval = 10 * kMinute) {
        TRefusalBackoff backoff(path_, fingerprint, interval, [this] { return now_; });
        backoff.Load();
        return backoff;
    }
    std::string File() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    static inline int serial_ = 0;
    std::string path_;
    int64_t now_ = 1'700'000'000;
};

TEST_F(Backoff, WaitsDoubleFromOneIntervalToADay) {
    TRefusalBackoff backoff = Open();
    EXPECT_TRUE(backoff.Due("a"));
    std::vector<int64_t> waits;
    for (int i = 0; i < 10; ++i) {
        // One cycle each: the wait counts from the start of the cycle that was refused.
        TRefusalBackoff cycle = Open();
        const int64_t due = cycle.Refused("a");
        cycle.Save();
        waits.push_back(due - now_);
        EXPECT_FALSE(cycle.Due("a"));
        now_ = due - 1;
        EXPECT_FALSE(cycle.Due("a"));
        now_ = due;
        EXPECT_TRUE(cycle.Due("a"));
    }
    EXPECT_EQ(waits, (std::vector<int64_t>{10 * kMinute, 20 * kMinute, 40 * kMinute, 80 * kMinute, 160 * kMinute,
                                           320 * kMinute, 640 * kMinute, 1280 * kMinute, 24 * kHour, 24 * kHour}));
    EXPECT_TRUE(backoff.Due("other"));
}

TEST_F(Backoff, TheStateLastsFromOneRunToTheNext) {
    {
        TRefusalBackoff backoff = Open();
        backoff.Refused("id with\tblank");
        backoff.Refused("b");
        backoff.Refused("b");
        backoff.Save();
    }
    TRefusalBackoff next = Open();
    EXPECT_EQ(next.Count(), 2u);
    EXPECT_EQ(next.NextTry("id with\tblank"), now_ + 10 * kMinute);
    EXPECT_EQ(next.NextTry("b"), now_ + 20 * kMinute);
    // The doubling goes on from the stored wait.
    EXPECT_EQ(next.Refused("b"), now_ + 40 * kMinute);
    const std::string name = path_.substr(path_.rfind('/') + 1);
    for (const std::string& file : test::FilesIn(test::ProcessTempDir()))
        EXPECT_TRUE(file.rfind(name + ".tmp", 0) != 0) << "temporary file left: " << file;
}

TEST_F(Backoff, OtherSettingsSuccessAndClearLetMessagesGoAtOnce) {
    {
        TRefusalBackoff backoff = Open();
        backoff.Refused("a");
        backoff.Refused("b");
        backoff.Forget("b");
        EXPECT_TRUE(backoff.Due("b"));
        backoff.Save();
    }
    EXPECT_FALSE(Open().Due("a"));
    {
        TRefusalBackoff changed = Open("other SMTP settings");
        EXPECT_TRUE(changed.Due("a"));
        changed.Save();  // the file now belongs to the new settings
    }
    EXPECT_TRUE(Open("fp").Due("a"));
    TRefusalBackoff backoff = Open("fp");
    backoff.Refused("c");
    backoff.Clear();
    EXPECT_TRUE(backoff.Due("c"));
    EXPECT_EQ(backoff.Count(), 0u);
}

TEST_F(Backoff, PruningDropsWhatLeftTheServer) {
    TRefusalBackoff backoff = Open();
    backoff.Refused("gone");
    backoff.Refused("kept");
    TStringList onServer;
    onServer.Add("kept");
    backoff.Prune(TUidSet(onServer));
    EXPECT_TRUE(backoff.Due("gone"));
    EXPECT_FALSE(backoff.Due("kept"));
}

TEST_F(Backoff, ADamagedFileCostsOnlyAnEarlyRetry) {
    {
        std::ofstream out(path_, std::ios::binary);
        out << "tarnwick-backoff 1 fp\n"
            << "not a line\n"
            << "1700000600\t600\tgood\r\n"
            << "x\t600\tbad-due\n"
            << "1700000600\t0\tbad-wait\n"
            << "99999999999\t600\tfar-future\n"
            << "1700000600\t600\t\n";
    }
    TRefusalBackoff backoff = Open();
    EXPECT_EQ(backoff.Count(), 2u);
    EXPECT_EQ(backoff.NextTry("good"), 1'700'000'600);
    // A clock set back holds a message no longer than the longest wait.
    EXPECT_EQ(backoff.NextTry("far-future"), now_ + TRefusalBackoff::MaxWaitSeconds);
    backoff.Save();
    EXPECT_EQ(File(), "tarnwick-backoff 1 fp\n1700086400\t600\tfar-future\n1700000600\t600\tgood\n");
}

TEST_F(Backoff, AMissingFolderRaisesTheCreationError) {
    TRefusalBackoff backoff("/proc/no-such-folder/state", "fp", 600, [this] { return now_; });
    backoff.Refused("a");
    EXPECT_THROW(backoff.Save(), EFCreateError);
}

TEST(BackoffNames, FileBesideTheLedgerAndFingerprintsThatTellFieldsApart) {
    EXPECT_EQ(TRefusalBackoff::FileName("me@example.jp"), "me@example.jp.txt.wait");
    EXPECT_NE(TRefusalBackoff::FingerprintOf("k", {"ab", "c"}), TRefusalBackoff::FingerprintOf("k", {"a", "bc"}));
    EXPECT_EQ(TRefusalBackoff::FingerprintOf("k", {"a"}).size(), 64u);
    EXPECT_EQ(TRefusalBackoff::FingerprintOf("k", {"a"}), TRefusalBackoff::FingerprintOf("k", {"a"}));
}

}  // namespace
}  // namespace tarnwick
