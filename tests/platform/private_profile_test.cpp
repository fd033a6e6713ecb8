#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/IniFile.h"
#include "platform/PrivateProfile.h"
#include "tests/support/Raised.h"
#include "tests/support/TempDir.h"

namespace tarnwick {
namespace {

class ProfileTest : public ::testing::Test {
protected:
    void Put(const std::string& content, const std::string& path = "") {
        std::ofstream(path.empty() ? path_ : path, std::ios::binary) << content;
    }
    std::string Get(const std::string& path = "") const {
        std::ifstream in(path.empty() ? path_ : path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string Read(std::string_view section, std::string_view key, std::string_view def = "<none>") const {
        return GetPrivateProfileString(section, key, def, path_);
    }
    int Entries() const { return static_cast<int>(test::FilesIn(dir_).size()); }
    mode_t Mode(const std::string& path) const {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return st.st_mode & 07777;
    }

    test::ScratchFolder folder_{"ini"};
    std::string dir_ = folder_.Path();
    std::string path_ = dir_ + "/Tarnwick.ini";
};

TEST_F(ProfileTest, ReadsIgnoringCaseAndSurroundingBlanksWithEitherLineEnd) {
    Put("; comment\r\n[pop3]\r\n  server =  mail.example.jp  \r\nUser=taro\n[ Mail ]\nDomain=docomo.ne.jp");
    EXPECT_EQ(Read("POP3", "Server"), "mail.example.jp");
    EXPECT_EQ(Read("Pop3", "USER"), "taro");
    EXPECT_EQ(Read("mail", "domain"), "docomo.ne.jp");  // last line without a line end
    EXPECT_EQ(Read("POP3", "Domain"), "<none>");         // key of another section
}

TEST_F(ProfileTest, MissingFileSectionOrKeyGivesDefaultAndReadingCreatesNothing) {
    EXPECT_EQ(Read("POP3", "Server", "dflt"), "dflt");
    EXPECT_EQ(Entries(), 0);
    Put("[POP3]\r\nServer=x\r\n");
    EXPECT_EQ(Read("SMTP", "Server", ""), "");
    EXPECT_EQ(Read("POP3", "Pass", "p"), "p");
    EXPECT_EQ(Read("POP3", "", "e"), "e");
}

TEST_F(ProfileTest, ValuesComeBackAsStoredBytes) {
    Put("[POP3]\r\nPass=a=b;\"c\"\r\nName=\x83\x65\x83\x58\x83\x67\r\nEmpty=\r\n;Hidden=1\r\n");
    EXPECT_EQ(Read("POP3", "Pass"), "a=b;\"c\"");  // only the first "=" separates; no unquoting
    EXPECT_EQ(Read("POP3", "Name"), "\x83\x65\x83\x58\x83\x67");
    EXPECT_EQ(Read("POP3", "Empty"), "");
    EXPECT_EQ(Read("POP3", ";Hidden"), "<none>");
    EXPECT_EQ(Read("POP3", "Hidden"), "<none>");
}

TEST_F(ProfileTest, FirstSectionAndFirstKeyWin) {
    Put("[A]\r\nk=1\r\nk=2\r\n[B]\r\nk=3\r\n[a]\r\nk=4\r\nj=5\r\n");
    EXPECT_EQ(Read("A", "k"), "1");
    EXPECT_EQ(Read("b", "K"), "3");
    EXPECT_EQ(Read("A", "j"), "<none>");
}

TEST_F(ProfileTest, LongValuesComeBackWhole) {
    const std::string split = std::string(2046, 'a') + "\x82\xA0" + "tail";
    Put("[S]\r\nlong=" + std::string(100000, 'b') + "\r\nsplit=" + split + "\r\n");
    EXPECT_EQ(Read("S", "long"), std::string(100000, 'b'));
    EXPECT_EQ(Read("S", "split"), split);
    EXPECT_EQ(Read("S", "none", std::string(2050, 'd')), std::string(2050, 'd'));
}

// Blanks at the ends of a value survive in quotes; one pair of surrounding quotes is taken off.
TEST_F(ProfileTest, QuotesKeepBlanksAndQuotedValuesRoundTrip) {
    Put("[P]\r\nq=\" x \"\r\ns=' y'\r\nmixed=\"z'\r\none=\"\r\ntwice=\"\"w\"\"\r\n");
    EXPECT_EQ(Read("P", "q"), " x ");
    EXPECT_EQ(Read("P", "s"), " y");
    EXPECT_EQ(Read("P", "mixed"), "\"z'");
    EXPECT_EQ(Read("P", "one"), "\"");
    EXPECT_EQ(Read("P", "twice"), "\"w\"");
    for (const std::string value : {" x ", "\tlead", "trail ", "\"quoted\"", "'single'", "\"", "a \"b\" c", ""}) {
        ASSERT_TRUE(WritePrivateProfileString("P", "v", value, path_));
        EXPECT_EQ(Read("P", "v"), value) << Get();
    }
    ASSERT_TRUE(WritePrivateProfileString("P", "v", "plain value", path_));
    EXPECT_NE(Get().find("\r\nv=plain value\r\n"), std::string::npos);
}

TEST_F(ProfileTest, WritingCreatesOwnerOnlyFileWithCrLf) {
    ASSERT_TRUE(WritePrivateProfileString("POP3", "Server", "mail.example.jp", path_));
    ASSERT_TRUE(WritePrivateProfileString("POP3", "Pass", " secret ", path_));
    EXPECT_EQ(Get(), "[POP3]\r\nServer=mail.example.jp\r\nPass=\" secret \"\r\n");
    EXPECT_EQ(Mode(path_), 0600u);
    EXPECT_EQ(Entries(), 1);  // no temporary file left behind
}

TEST_F(ProfileTest, WritingUpdatesInPlaceAndKeepsEverythingElse) {
    Put("; settings\n[POP3]\nServer = old\nUnknown=keep me\n\n[Extra]\nx=1\n");
    ASSERT_TRUE(WritePrivateProfileString("pop3", "SERVER", "new", path_));
    EXPECT_EQ(Get(), "; settings\r\n[POP3]\r\nSERVER=new\r\nUnknown=keep me\r\n\r\n[Extra]\r\nx=1\r\n");
}

TEST_F(ProfileTest, MissingKeyGoesToTheEndOfItsSectionAndMissingSectionToTheEnd) {
    Put("[POP3]\r\nServer=s\r\n\r\n[Common]\r\nInterval=5\r\n");
    ASSERT_TRUE(WritePrivateProfileString("POP3", "User", "u", path_));
    ASSERT_TRUE(WritePrivateProfileString("Mail", "Domain", "ezweb.ne.jp", path_));
    EXPECT_EQ(Get(),
              "[POP3]\r\nServer=s\r\nUser=u\r\n\r\n[Common]\r\nInterval=5\r\n"
              "[Mail]\r\nDomain=ezweb.ne.jp\r\n");
    EXPECT_EQ(Read("mail", "domain"), "ezweb.ne.jp");
}

// The owner's rights are kept; group and others lose theirs (the file holds passwords).
TEST_F(ProfileTest, OwnerModeIsKeptOthersDroppedAndLinksAreWrittenThrough) {
    std::string real = dir_ + "/real.ini";
    Put("[A]\r\nk=1\r\n", real);
    ::chmod(real.c_str(), 0740);
    ASSERT_EQ(::symlink(real.c_str(), path_.c_str()), 0);
    ASSERT_TRUE(WritePrivateProfileString("A", "k", "2", path_));
    struct stat st {};
    ASSERT_EQ(::lstat(path_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(Get(real), "[A]\r\nk=2\r\n");
    EXPECT_EQ(Mode(real), 0700u);
}

TEST_F(ProfileTest, ReplacesTheFileInsteadOfTruncatingIt) {
    Put("[A]\r\nk=old\r\n");
    // A reader that opened the file before the write still sees the whole old content.
    int fd = ::open(path_.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(WritePrivateProfileString("A", "k", "new", path_));
    char buf[64] = {};
    ssize_t n = ::pread(fd, buf, sizeof buf, 0);
    ::close(fd);
    EXPECT_EQ(std::string(buf, n > 0 ? static_cast<size_t>(n) : 0), "[A]\r\nk=old\r\n");
    EXPECT_EQ(Get(), "[A]\r\nk=new\r\n");
}

TEST_F(ProfileTest, UnwritableTargetsFailAndLeaveNothing) {
    EXPECT_FALSE(WritePrivateProfileString("A", "k", "v", dir_ + "/missing/x.ini"));
    EXPECT_FALSE(WritePrivateProfileString("A", "k", "v", dir_));  // a folder
    EXPECT_FALSE(WritePrivateProfileString("A", "k", "v", ""));
    EXPECT_EQ(Entries(), 0);
}

TEST_F(ProfileTest, TextThatWouldBreakTheLineStructureIsRefusedAndTheFileKept) {
    Put("[POP3]\r\nPass=old\r\n");
    EXPECT_FALSE(WritePrivateProfileString("POP3", "Pass", "x\r\n[SMTP]\r\nServer=evil", path_));
    EXPECT_FALSE(WritePrivateProfileString("POP3", "Pass", "x\ny", path_));
    EXPECT_FALSE(WritePrivateProfileString("PO]P3", "Pass", "x", path_));
    EXPECT_FALSE(WritePrivateProfileString("POP3", "Pa=ss", "x", path_));
    EXPECT_FALSE(WritePrivateProfileString("POP3", "  ", "x", path_));
    EXPECT_FALSE(WritePrivateProfileString("POP3", ";Pass", "x", path_));
    EXPECT_EQ(Get(), "[POP3]\r\nPass=old\r\n");
}

// The settings file as the program keeps it: nine keys in four sections.
TEST_F(ProfileTest, IniFileRoundTripOfTheSettings) {
    TIniFile ini(path_);
    EXPECT_EQ(ini.FileName(), path_);
    ini.WriteString("POP3", "Server", "pop.example.jp");
    ini.WriteString("POP3", "User", "taro");
    ini.WriteString("POP3", "Pass", "p@ss word");
    ini.WriteString("SMTP", "Server", "smtp.example.jp");
    ini.WriteString("SMTP", "User", "");
    ini.WriteString("SMTP", "Pass", "");
    ini.WriteString("Mail", "User", "hanako");
    ini.WriteString("Mail", "Domain", "my.domain");
    ini.WriteInteger("Common", "Interval", 10);
    EXPECT_EQ(Get(),
              "[POP3]\r\nServer=pop.example.jp\r\nUser=taro\r\nPass=p@ss word\r\n"
              "[SMTP]\r\nServer=smtp.example.jp\r\nUser=\r\nPass=\r\n"
              "[Mail]\r\nUser=hanako\r\nDomain=my.domain\r\n[Common]\r\nInterval=10\r\n");
    TIniFile again(path_);
    EXPECT_EQ(again.ReadString("POP3", "Pass", ""), "p@ss word");
    EXPECT_EQ(again.ReadInteger("Common", "Interval", 5), 10);
}

TEST_F(ProfileTest, IniFileReadsIntegersAsDecimalOrHexadecimal) {
    Put("[C]\r\na=500\r\nb=0x0A\r\nc=0X1f\r\nd=0x\r\ne=word\r\nf= -3 \r\ng=0xZZ\r\nh=-$80000000\r\ni=99999999999\r\n");
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadInteger("C", "a", 5), 500);
    EXPECT_EQ(ini.ReadInteger("C", "b", 5), 10);
    EXPECT_EQ(ini.ReadInteger("C", "c", 5), 31);
    EXPECT_EQ(ini.ReadInteger("C", "d", 5), 5);
    EXPECT_EQ(ini.ReadInteger("C", "e", 5), 5);
    EXPECT_EQ(ini.ReadInteger("C", "f", 5), -3);
    EXPECT_EQ(ini.ReadInteger("C", "g", 5), 5);
    EXPECT_EQ(ini.ReadInteger("C", "h", 5), INT_MIN);
    EXPECT_EQ(ini.ReadInteger("C", "i", 5), 5);
    EXPECT_EQ(ini.ReadInteger("C", "missing", 7), 7);
    EXPECT_EQ(ini.ReadInteger("Missing", "a", 7), 7);
}

TEST_F(ProfileTest, IniFileWriteFailureNamesThePath) {
    std::string bad = dir_ + "/missing/Tarnwick.ini";
    TIniFile ini(bad);
    auto e = test::Raised<EIniFileException>([&] { ini.WriteString("POP3", "Server", "x"); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), bad + " に書き込めません。No such file or directory");
    EXPECT_THROW(ini.WriteInteger("Common", "Interval", 5), EIniFileException);
}

}  // namespace
}  // namespace tarnwick
