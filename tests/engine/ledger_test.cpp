#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/Ledger.h"
#include "platform/Exception.h"
#include "platform/Streams.h"

namespace tarnwick {
namespace {

TStringList List(std::initializer_list<const char*> items) {
    TStringList list;
    for (const char* item : items) list.Add(item);
    return list;
}

std::vector<std::string> Items(const TStringList& list) {
    std::vector<std::string> items;
    for (const std::string& item : list) items.push_back(item);
    return items;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs each test in a fresh working folder: the ledger lives in the current directory.
class LedgerFolder : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tarn-ledger-XXXXXX";
        dir_ = mkdtemp(tmpl);
        ASSERT_EQ(getcwd(old_, sizeof old_), old_);
        ASSERT_EQ(chdir(dir_.c_str()), 0);
    }
    void TearDown() override {
        ASSERT_EQ(chdir(old_), 0);
        std::system(("chmod -R u+w " + dir_ + " && rm -rf " + dir_).c_str());
    }
    std::string dir_;
    char old_[4096];
};

TEST(LedgerBookkeeping, StripNumbersKeepsLaterBlanksAndWholeEntriesWithoutOne) {
    TStringList list = List({"1 abc", "2 id with blanks", "nonumber", "3 "});
    StripNumbers(list);
    EXPECT_EQ(Items(list), (std::vector<std::string>{"abc", "id with blanks", "nonumber", ""}));
}

TEST(LedgerBookkeeping, PruneKeepsOrderAndDuplicatesStillOnServerIgnoringCase) {
    TStringList ledger = List({"gone", "B", "a", "b", "gone2"});
    PruneLedger(ledger, List({"a", "b", "c"}));
    EXPECT_EQ(Items(ledger), (std::vector<std::string>{"B", "a", "b"}));
}

TEST(LedgerBookkeeping, SelectsNewIdsInServerOrderWithDuplicates) {
    TStringList newIds;
    SelectNewIds(List({"x", "A", "y", "x"}), List({"a"}), newIds);
    EXPECT_EQ(Items(newIds), (std::vector<std::string>{"x", "y", "x"}));
}

TEST(LedgerBookkeeping, MapsWholeIdsNotSubstrings) {
    // A substring search would take message 1 (abc12) for the new id abc and forward it twice.
    TStringList listing = List({"1 abc12", "2 abc", "3 1", "4 ABC"});
    TStringList numbers;
    MapIdsToNumbers(listing, List({"abc", "1", "abc12"}), numbers);
    EXPECT_EQ(Items(numbers), (std::vector<std::string>{"2", "3", "1"}));
}

TEST(LedgerBookkeeping, IdListedWithoutNumberMapsToEmptyNumberKeepingAlignment) {
    TStringList numbers;
    MapIdsToNumbers(List({"loneid", "2 b"}), List({"loneid", "b"}), numbers);
    EXPECT_EQ(Items(numbers), (std::vector<std::string>{"", "2"}));
}

TEST_F(LedgerFolder, MissingLedgerLoadsEmptyAndAnyLineEndLoads) {
    TStringList ledger;
    LoadLedger("a@b.jp", ledger);
    EXPECT_EQ(ledger.Count(), 0);
    EXPECT_FALSE(FileExists("a@b.jp.txt"));
    std::ofstream("a@b.jp.txt", std::ios::binary) << "one\r\ntwo\nthree\rfour";
    LoadLedger("a@b.jp", ledger);
    EXPECT_EQ(Items(ledger), (std::vector<std::string>{"one", "two", "three", "four"}));
}

TEST_F(LedgerFolder, SavesRewriteFirstThenAppendAndFileAlwaysEqualsTheList) {
    std::ofstream("@docomo.ne.jp.txt", std::ios::binary) << "old\r\nkept\r\n";
    TStringList ledger = List({"kept"});  // "old" pruned: reaches the file with the first save
    TLedgerWriter writer("@docomo.ne.jp");
    for (const char* id : {"n1", "n2", "n3"}) {
        ledger.Add(id);
        writer.SaveLedger(ledger);
        EXPECT_EQ(ReadFile("@docomo.ne.jp.txt"), ledger.Text());
    }
    EXPECT_EQ(ReadFile("@docomo.ne.jp.txt"), "kept\r\nn1\r\nn2\r\nn3\r\n");
    // No temporary files are left beside it.
    EXPECT_EQ(std::system("test $(ls -A | wc -l) -eq 1"), 0);
}

TEST_F(LedgerFolder, KeepsTheModeOfAnExistingLedger) {
    std::ofstream("m@x.jp.txt", std::ios::binary) << "a\r\n";
    chmod("m@x.jp.txt", 0600);
    TLedgerWriter writer("m@x.jp");
    writer.SaveLedger(List({"a", "b"}));
    struct stat st;
    ASSERT_EQ(stat("m@x.jp.txt", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(LedgerFolder, UnwritableFolderRaisesCreationErrorNamingFullPathAndLeavesFileAlone) {
    if (geteuid() == 0) {
        // root writes anywhere: use a name that cannot be a file instead.
        TLedgerWriter writer("no/such/dir");
        try {
            writer.SaveLedger(List({"a"}));
            FAIL();
        } catch (const EFCreateError& e) {
            EXPECT_NE(e.Message().find(dir_ + "/no/such/dir.txt"), std::string::npos) << e.Message();
        }
        return;
    }
    std::ofstream("r@x.jp.txt", std::ios::binary) << "a\r\n";
    chmod(dir_.c_str(), 0500);
    TLedgerWriter writer("r@x.jp");
    EXPECT_THROW(writer.SaveLedger(List({"a", "b"})), EFCreateError);
    EXPECT_EQ(ReadFile("r@x.jp.txt"), "a\r\n");
}

}  // namespace
}  // namespace tarnwick
