// The one settings reader every mode uses: each key, its default for a first start and for a file
// from before the key existed, and a value it cannot take.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/settings/SettingsFile.h"
#include "support/TempDir.h"

namespace tarnwick::test {
namespace {

class SettingsFileTest : public ::testing::Test {
protected:
    TSettings Read(const std::string& ini) {
        std::ofstream(path_, std::ios::binary) << ini;
        lines_.clear();
        return ReadSettingsFile(path_, [this](const std::string& line) { lines_.push_back(line); });
    }
    ScratchFolder folder_{"settings"};
    std::string dir_ = folder_.Path(), path_ = dir_ + "/t.ini";
    std::vector<std::string> lines_;
};

TEST_F(SettingsFileTest, EachKeyItsDefaultAndABadValue) {
    using Get = std::function<std::string(const TSettings&)>;
    struct Case {
        const char* section;
        const char* key;
        Get get;
        std::string absent;  // in a file that lacks the key
        std::string value, read;
    };
    auto text = [](std::string TServerSettings::*field) {
        return Get([field](const TSettings& s) { return s.Servers.*field; });
    };
    const Case cases[] = {
        {"POP3", "Server", text(&TServerSettings::Pop3Server), "", "[::1]:1110", "[::1]:1110"},
        {"POP3", "User", text(&TServerSettings::Pop3User), "", "taro", "taro"},
        {"POP3", "Pass", text(&TServerSettings::Pop3Pass), "", " a = b ", "a = b"},
        {"POP3", "CAFile", [](const TSettings& s) { return s.Servers.Pop3Access.CAFile; }, "", "/ca.pem", "/ca.pem"},
        {"SMTP", "Server", text(&TServerSettings::SmtpServer), "", "smtp:587", "smtp:587"},
        {"SMTP", "User", text(&TServerSettings::SmtpUser), "", "u", "u"},
        {"SMTP", "Pass", text(&TServerSettings::SmtpPass), "", "p", "p"},
        {"SMTP", "EnvelopeFrom", text(&TServerSettings::EnvelopeFrom), "", "me@example.jp", "me@example.jp"},
        {"SMTP", "CAFile", [](const TSettings& s) { return s.Servers.SmtpAccess.CAFile; }, "", "/s.pem", "/s.pem"},
        {"Mail", "User", [](const TSettings& s) { return s.MailUser; }, "", "keitai", "keitai"},
        {"Mail", "Domain", [](const TSettings& s) { return s.MailDomain; }, "", "au.com", "au.com"},
        // A file from before encryption existed stays plain; a typo never sends a password in clear.
        {"POP3", "Security", [](const TSettings& s) { return std::string(SecurityName(s.Servers.Pop3Access.Security)); },
         "None", "starttls", "STARTTLS"},
        {"SMTP", "Security", [](const TSettings& s) { return std::string(SecurityName(s.Servers.SmtpAccess.Security)); },
         "None", "SSL", "TLS"},
        // Old files keep forwarding everything; the interval is brought into 1 to 120.
        {"Common", "SkipExisting", [](const TSettings& s) { return std::to_string(s.Servers.SkipExisting); }, "0",
         "1", "1"},
        {"Common", "Interval", [](const TSettings& s) { return std::to_string(s.IntervalMinutes); }, "5", "999",
         "120"},
        {"Common", "Interval", [](const TSettings& s) { return std::to_string(s.IntervalMinutes); }, "5", "x",
         "5"},
        // 受信方式: anything but IMAP is POP3, as before the key.
        {"POP3", "Protocol", [](const TSettings& s) { return std::to_string(s.Servers.Protocol == TReceiveProtocol::Imap); },
         "0", "imap", "1"},
        {"POP3", "Folder", text(&TServerSettings::ImapFolder), "INBOX", " ", "INBOX"},
        {"POP3", "Folder", text(&TServerSettings::ImapFolder), "INBOX", "Work", "Work"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        EXPECT_EQ(c.get(Read("[Other]\r\nx=1\r\n")), c.absent);
        EXPECT_EQ(c.get(Read(std::string("[") + c.section + "]\r\n" + c.key + "=" + c.value + "\r\n")), c.read);
        EXPECT_TRUE(lines_.empty());
    }
}

TEST_F(SettingsFileTest, AFirstStartOffersTlsAndSkipsWhatIsAlreadyThere) {
    const TSettings first = ReadSettingsFile(dir_ + "/none.ini");
    EXPECT_FALSE(first.Existed);
    EXPECT_EQ(first.Servers.Pop3Access.Security, TSecurity::TLS);
    EXPECT_EQ(first.Servers.SmtpAccess.Security, TSecurity::TLS);
    EXPECT_TRUE(first.Servers.SkipExisting);
    EXPECT_EQ(MissingSettings(first), "POP3サーバアドレス、SMTPサーバアドレス、転送先メールアドレス");
}

// A value the code page cannot hold, or no field can, is refused by name, read as empty, and
// stays in the file when the record is written back; the file is its owner's alone.
TEST_F(SettingsFileTest, RefusedValuesAreNamedAndKeptAndTheFileIsPrivate) {
    const std::string emoji = "\xF0\x9F\x98\x80";
    TSettings s = Read("[POP3]\r\nServer=pop\r\nUser=" + emoji + "\r\nPass=" + std::string(40000, 'p') + "\r\n");
    EXPECT_EQ(s.Servers.Pop3User, "");
    EXPECT_EQ(s.Servers.Pop3Pass, "");
    EXPECT_EQ(lines_, (std::vector<std::string>{"設定ファイルの[POP3]User はCP932 で表せない文字を含むため読み込みません",
                                                "設定ファイルの[POP3]Pass は長すぎるため読み込みません"}));
    ::chmod(path_.c_str(), 0644);
    s.Servers.Pop3Server = "pop2";
    WriteSettingsFile(path_, s);
    std::ifstream in(path_, std::ios::binary);
    const std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(saved.find("Server=pop2\r\nUser=" + emoji + "\r\nPass=ppp"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(ReadSettingsFile(path_).Servers.Pop3Server, "pop2");
}

// A POP3 user's file is written back byte for byte; IMAP and its folder are kept.
TEST_F(SettingsFileTest, TheReceiveProtocolIsWrittenOnlyWhereChosen) {
    const TSettings pop3 = Read("[POP3]\r\nServer=pop\r\n");
    WriteSettingsFile(path_, pop3);
    auto bytes = [this] {
        std::ifstream in(path_, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    const std::string before = bytes();
    WriteSettingsFile(path_, ReadSettingsFile(path_));
    EXPECT_EQ(bytes(), before);
    EXPECT_EQ(before.find("Protocol"), std::string::npos);
    TSettings imap = pop3;
    imap.Servers.Protocol = TReceiveProtocol::Imap;
    imap.Servers.ImapFolder = "Work";
    WriteSettingsFile(path_, imap);
    const TSettings back = ReadSettingsFile(path_);
    EXPECT_EQ(back.Servers.Protocol, TReceiveProtocol::Imap);
    EXPECT_EQ(back.Servers.ImapFolder, "Work");
    EXPECT_EQ(back.Servers.Account(TServerKind::Pop3).Endpoint().Port, 143);
}

}  // namespace
}  // namespace tarnwick::test
