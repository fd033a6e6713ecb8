#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/cycle/Ledger.h"
#include "platform/Exception.h"
#include "platform/Streams.h"
#include "support/DiskLimits.h"
#include "support/TempDir.h"

namespace tarnwick {
namespace {

TStringList List(std::initializer_list<const char*> items) {
    TStringList list;
    for (const char* item : items) list.Add(item);
    return list;
}

TStringList List(const std::vector<std::string>& items) {
    TStringList list;
    for (const std::string& item : items) list.Add(item);
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
    void SetUp() override { folder_.Enter(); }
    test::ScratchFolder folder_{"ledger"};
    std::string dir_ = folder_.Path();
};

// The listing is read once into number and id; the plan prunes the ledger and picks the new lines.
std::vector<std::string> NewLines(const TCyclePlan& plan) {
    std::vector<std::string> lines;
    for (const TListedMessage& entry : plan.New) lines.push_back(entry.NumberText + " " + entry.Id);
    return lines;
}

TEST(LedgerBookkeeping, ListingKeepsLaterBlanksInTheIdAndALineWithoutNumberWhole) {
    const std::vector<TListedMessage> listed = ParseListing(List({"1 abc", "2 id with blanks", "nonumber", "x3 y"}));
    ASSERT_EQ(listed.size(), 4u);
    EXPECT_EQ(listed[1].Id, "id with blanks");
    EXPECT_EQ(listed[1].Number, 2);
    EXPECT_EQ(listed[2].Id, "nonumber");
    EXPECT_EQ(listed[2].NumberText, "");
    EXPECT_EQ(listed[3].Number, 0);  // not a number: retrieval says why later
}

TEST(LedgerBookkeeping, PlanPrunesInOrderAndTakesNewLinesComparingWholeIdsExactly) {
    struct Case {
        std::vector<std::string> listing, ledger, ledgerAfter, newLines;
    };
    const Case cases[] = {
        // Pruned in order, duplicates still on the server kept.
        {{"1 a", "2 b", "3 c"}, {"gone", "B", "a", "b", "a", "gone2"}, {"a", "b", "a"}, {"3 c"}},
        // A substring search would take abc12 for abc, a case-blind one ABC for abc.
        {{"1 abc12", "2 abc", "3 1", "4 ABC"}, {"abc"}, {"abc"}, {"1 abc12", "3 1", "4 ABC"}},
        // An id listed three times and recorded once: its last two lines are new.
        {{"5 dup", "6 dup", "7 dup"}, {"dup"}, {"dup"}, {"6 dup", "7 dup"}},
        {{"1 x", "2 A", "3 dup", "4 y", "5 dup", "6 x"}, {"a", "dup"}, {"dup"},
         {"1 x", "2 A", "4 y", "5 dup", "6 x"}},
    };
    for (const Case& c : cases) {
        TStringList ledger = List(c.ledger);
        const TCyclePlan plan = PlanCycle(ParseListing(List(c.listing)), ledger);
        EXPECT_EQ(Items(ledger), c.ledgerAfter);
        EXPECT_EQ(NewLines(plan), c.newLines);
    }
}

TEST_F(LedgerFolder, MissingLedgerLoadsEmptyAnyLineEndLoadsAndACutOffLastLineIsIgnored) {
    TStringList ledger;
    LoadLedger("a@b.jp", ledger);
    EXPECT_EQ(ledger.Count(), 0);
    EXPECT_FALSE(FileExists("a@b.jp.txt"));
    std::ofstream("a@b.jp.txt", std::ios::binary) << "one\r\ntwo\nthree\rfour\r";
    LoadLedger("a@b.jp", ledger);
    EXPECT_EQ(Items(ledger), (std::vector<std::string>{"one", "two", "three", "four"}));
    // The start of "B12345" must not count as the id "B123".
    std::ofstream("a@b.jp.txt", std::ios::binary) << "one\r\nB123";
    ledger.Clear();
    LoadLedger("a@b.jp", ledger);
    EXPECT_EQ(Items(ledger), (std::vector<std::string>{"one"}));
    std::ofstream("a@b.jp.txt", std::ios::binary) << "B1";
    ledger.Clear();
    LoadLedger("a@b.jp", ledger);
    EXPECT_EQ(ledger.Count(), 0);
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


TEST_F(LedgerFolder, AShortAppendIsCutBackAndTheFileStaysAsItWas) {
    TStringList ledger = List({"n066"});
    TLedgerWriter writer("s@x.jp");
    writer.SaveLedger(ledger);
    const std::string before = ReadFile("s@x.jp.txt");
    ledger.Add("B12345");
    {
        test::FileSizeLimit limit(before.size() + 3);  // room for "B12" only
        try {
            writer.SaveLedger(ledger);
            FAIL() << "a cut-off append must raise";
        } catch (const EWriteError& e) {
            EXPECT_NE(e.Message().find(dir_ + "/s@x.jp.txt"), std::string::npos) << e.Message();
        }
    }
    EXPECT_EQ(ReadFile("s@x.jp.txt"), before);
    // The next save writes the whole list again.
    writer.SaveLedger(ledger);
    EXPECT_EQ(ReadFile("s@x.jp.txt"), "n066\r\nB12345\r\n");
}

TEST_F(LedgerFolder, ReserveMakesTheFirstSaveUseItsFileAndDropsItWhenUnused) {
    std::ofstream("v@x.jp.txt", std::ios::binary) << "a\r\n";
    {
        TLedgerWriter writer("v@x.jp");
        writer.Reserve(List({"a"}), List({"b", "c"}));
        EXPECT_EQ(std::system("test $(ls -A | wc -l) -eq 2"), 0);  // the ledger and the reserved file
    }
    EXPECT_EQ(std::system("test $(ls -A | wc -l) -eq 1"), 0);
    EXPECT_EQ(ReadFile("v@x.jp.txt"), "a\r\n");
    TLedgerWriter writer("v@x.jp");
    writer.Reserve(List({"a"}), List({"b", "c"}));
    writer.SaveLedger(List({"a", "b"}));
    writer.SaveLedger(List({"a", "b", "c"}));
    EXPECT_EQ(ReadFile("v@x.jp.txt"), "a\r\nb\r\nc\r\n");
    EXPECT_EQ(std::system("test $(ls -A | wc -l) -eq 1"), 0);
}

TEST_F(LedgerFolder, ReserveRaisesNamingTheFullPathWhenTheLedgerCannotBeWritten) {
    // Something else holds the name, and a name longer than the file system allows.
    ASSERT_EQ(mkdir("d@x.jp.txt", 0755), 0);
    const std::string longAddress = "t@" + std::string(300, 'd') + ".jp";
    for (const std::string& address : {std::string("d@x.jp"), longAddress}) {
        TLedgerWriter writer(address);
        try {
            writer.Reserve(List({}), List({"a"}));
            FAIL() << address;
        } catch (const EFCreateError& e) {
            EXPECT_NE(e.Message().find(dir_ + "/" + address + ".txt"), std::string::npos) << e.Message();
        }
    }
    EXPECT_EQ(std::system("test $(ls -A | wc -l) -eq 1"), 0);  // nothing left behind
}

TEST_F(LedgerFolder, OnAFullFileSystemReserveRefusesAndAnAppendLeavesNoTornLine) {
    test::SmallTmpfs disk;
    if (!disk.Mounted()) GTEST_SKIP() << "no private tmpfs here (needs root)";
    ASSERT_EQ(chdir(disk.Dir().c_str()), 0);
    // One line that ends 3 bytes before the end of its page, then a disk filled up.
    TStringList ledger = List({std::string(4091, 'x').c_str()});
    TLedgerWriter writer("f@x.jp");
    writer.SaveLedger(ledger);
    int filler = open("filler", O_WRONLY | O_CREAT, 0644);
    std::string block(4096, 'f');
    while (write(filler, block.data(), block.size()) > 0) {
    }
    close(filler);
    const std::string before = ReadFile("f@x.jp.txt");

    TLedgerWriter next("f@x.jp");
    auto raised = [&] {
        try {
            next.Reserve(ledger, List({"B12345"}));
        } catch (const EFCreateError& e) {
            return e.Message().find(disk.Dir() + "/f@x.jp.txt") != std::string::npos;
        }
        return false;
    };
    EXPECT_TRUE(raised());
    ledger.Add("B12345");
    EXPECT_THROW(writer.SaveLedger(ledger), EWriteError);
    EXPECT_EQ(ReadFile("f@x.jp.txt"), before);
    TStringList loaded;
    LoadLedger("f@x.jp", loaded);
    EXPECT_EQ(loaded.Count(), 1);
    ASSERT_EQ(chdir(dir_.c_str()), 0);
}

}  // namespace
}  // namespace tarnwick
