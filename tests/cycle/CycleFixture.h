#pragma once
// Shared pieces of the forwarding-cycle tests: a private working folder (the ledger lives in the
// current directory), the log the cycle writes, and file helpers.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/cycle/ForwardingCycle.h"
#include "net/MailPOP3.h"
#include "app/settings/ServerSettings.h"
#include "platform/Locale.h"
#include "platform/StringList.h"
#include "net/MailSMTP.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"

namespace tarnwick::test {

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::vector<std::string> Items(const TStringList& list) {
    std::vector<std::string> items;
    for (const std::string& item : list) items.push_back(item);
    return items;
}

inline std::vector<std::string> NamesIn(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.emplace_back(e->d_name);
        ::closedir(d);
    }
    return names;
}

inline void WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Identity of a file's content on disk: a rewrite (rename) changes the inode, an append the
// size and modification time.
struct FileStamp {
    ino_t inode = 0;
    off_t size = -1;
    timespec mtime{};
    bool operator==(const FileStamp& o) const {
        return inode == o.inode && size == o.size && mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec;
    }
};

inline FileStamp StampOf(const std::string& path) {
    struct stat st {};
    FileStamp stamp;
    if (::stat(path.c_str(), &st) == 0) stamp = {st.st_ino, st.st_size, st.st_mtim};
    return stamp;
}

// Each test runs in a fresh folder of its own and leaves it afterwards.
class CycleTest : public ::testing::Test {
protected:
    void SetUp() override { folder_.Enter(); }

    // The cycle's log lines since the last call.
    std::vector<std::string> TakeLog() {
        std::vector<std::string> lines;
        lines.swap(log_);
        return lines;
    }
    std::string Ledger() const { return ReadWholeFile(ledgerFile_); }
    bool LedgerExists() const { return ::access(ledgerFile_.c_str(), F_OK) == 0; }

    ScratchFolder folder_{"cycle"};
    std::string dir_ = folder_.Path();
    std::vector<std::string> log_;
    // The cycle logs in UTF-8; the expectations are written in the program's code page.
    TForwardingCycle cycle_{[this](const std::string& utf8) { log_.push_back(Utf8ToCp932(utf8)); }};
    std::string forwardAddress_ = "taro@docomo.ne.jp";
    std::string ledgerFile_ = "taro@docomo.ne.jp.txt";
};

// A cycle against two scripted servers, with the script pieces every cycle begins with.
class ScriptedCycleTest : public CycleTest {
protected:
    void SetUp() override {
        CycleTest::SetUp();
        cycle_.MailSMTP().HeloName = "tester";
        // These transcripts are of one command at a time; pipelining has its own.
        cycle_.MailPOP3().UsePipelining = false;
        pop3Text_ = "127.0.0.1:" + std::to_string(pop3_.Port());
        smtpText_ = "127.0.0.1:" + std::to_string(smtp_.Port());
        settings_ = TServerSettings{};
        settings_.Pop3User = "u";
        settings_.Pop3Pass = "p";
        settings_.Pop3Server = pop3Text_;
        settings_.SmtpServer = smtpText_;
    }
    // The greeting, the capabilities (asked before the login, for UTF8) and the login.
    void Pop3Login(const std::string& capa = "-ERR unknown command") {
        pop3_.SendLine("+OK ready").Expect("CAPA").SendLine(capa);
        pop3_.Expect("USER u").SendLine("+OK").Expect("PASS p").SendLine("+OK");
    }
    void Pop3Listing(std::initializer_list<std::string> lines) {
        pop3_.Expect("UIDL").SendLine("+OK");
        for (const std::string& line : lines) pop3_.SendLine(line);
        pop3_.SendLine(".");
    }

    void SmtpLogin() { smtp_.SendLine("220 hi").Expect("EHLO tester").SendLine("250 ok"); }
    void ExpectScriptsDone() {
        EXPECT_TRUE(pop3_.Finish());
        EXPECT_TRUE(smtp_.Finish());
        EXPECT_TRUE(pop3_.Mismatches().empty()) << ::testing::PrintToString(pop3_.Mismatches());
        EXPECT_TRUE(smtp_.Mismatches().empty()) << ::testing::PrintToString(smtp_.Mismatches());
    }
    // The log lines of logging in and off, with the servers as typed.
    std::string Pop3In() const { return "POP3サーバにログイン(" + pop3Text_ + ")"; }
    std::string Pop3Out() const { return "POP3サーバからログオフ(" + pop3Text_ + ")"; }
    std::string SmtpIn() const { return "SMTPサーバにログイン(" + smtpText_ + ")"; }
    std::string SmtpOut() const { return "SMTPサーバからログオフ(" + smtpText_ + ")"; }

    ScriptedServer pop3_, smtp_;
    std::string pop3Text_, smtpText_;
    TServerSettings settings_;
};

}  // namespace tarnwick::test
