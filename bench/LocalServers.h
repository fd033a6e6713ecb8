#pragma once
// What the benchmarks against the local Dovecot and Postfix (scripts/servers) share: their
// variables, their lock, a mailbox of typical messages, a working folder for the ledger.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace tarnwick::bench {

inline std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

inline double Seconds(clockid_t clock) {
    timespec ts{};
    ::clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

inline std::vector<std::string> NamesIn(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') names.emplace_back(e->d_name);
        ::closedir(d);
    }
    return names;
}

inline void EmptyMaildir(const std::string& maildir) {
    for (const char* sub : {"/new/", "/cur/", "/tmp/"})
        for (const std::string& name : NamesIn(maildir + sub)) ::unlink((maildir + sub + name).c_str());
}

inline size_t DeliveredCount(const std::string& maildir) { return NamesIn(maildir + "/new").size() + NamesIn(maildir + "/cur").size(); }

// Message i of the mailbox: plain, Japanese, base64 attachment, quoted-printable or alternative,
// about 2 to 5 KB.
inline std::string MessageText(int i) {
    std::string text = "From: Sender " + std::to_string(i % 17) + " <s" + std::to_string(i % 17) +
                       "@example.jp>\nTo: box@example.jp\nDate: Mon, 3 Jun 2024 09:00:00 +0900\nMessage-ID: <" +
                       std::to_string(i) + "@bench.example.jp>\nReceived: from relay.example.jp by mx.example.jp;\n"
                       "\tMon, 3 Jun 2024 09:00:00 +0900\n";
    const int lines = 30 + (i * 7) % 40;
    switch (i % 5) {
        case 0:
            text += "Subject: plain " + std::to_string(i) + "\n\n";
            for (int l = 0; l < lines; ++l) text += "Line " + std::to_string(l) + " of a plain message, with some words in it.\n";
            break;
        case 1:
            text += "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\nMIME-Version: 1.0\n"
                    "Content-Type: text/plain; charset=ISO-2022-JP\nContent-Transfer-Encoding: 7bit\n\n";
            for (int l = 0; l < lines; ++l) text += "\x1b$B$3$s$K$A$O!\"@$3&!#$3$s$K$A$O!\"@$3&!#\x1b(B\n";
            break;
        case 2:
            text += "Subject: attachment\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"xx\"\n\n--xx\n"
                    "Content-Type: text/plain\n\nSee the file.\n--xx\nContent-Type: application/octet-stream\n"
                    "Content-Transfer-Encoding: base64\nContent-Disposition: attachment; filename=\"a.bin\"\n\n";
            for (int l = 0; l < lines; ++l)
                text += "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4\n";
            text += "--xx--\n";
            break;
        case 3:
            text += "Subject: qp\nMIME-Version: 1.0\nContent-Type: text/plain; charset=ISO-8859-1\n"
                    "Content-Transfer-Encoding: quoted-printable\n\n";
            for (int l = 0; l < lines; ++l) text += "caf=E9 a=3Db and a long line that is broken with a soft=\n break\n";
            break;
        default:
            text += "Subject: alternative\nMIME-Version: 1.0\nContent-Type: multipart/alternative; boundary=\"yy\"\n\n"
                    "--yy\nContent-Type: text/plain\n\n";
            for (int l = 0; l < lines / 2; ++l) text += "text part line\n.dot line\n";
            text += "--yy\nContent-Type: text/html\n\n";
            for (int l = 0; l < lines / 2; ++l) text += "<p>html part line with <b>markup</b></p>\n";
            text += "--yy--\n";
    }
    return text;
}

// Exclusive use of the servers, shared with the test programs (see tests/support/MailServers).
class ServersLock {
public:
    ServersLock() {
        const std::string dir = Env("TARNWICK_SERVERS_DIR").empty() ? "/tmp" : Env("TARNWICK_SERVERS_DIR");
        fd_ = ::open((dir + "/tests.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        for (int i = 0; fd_ >= 0 && i < 9000 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ~ServersLock() {
        if (fd_ >= 0) ::close(fd_);
    }

private:
    int fd_ = -1;
};

inline void DropMessage(const std::string& maildir, int i, const std::string& bytes) {
    struct timeval tv {};
    ::gettimeofday(&tv, nullptr);
    char name[96];
    std::snprintf(name, sizeof name, "%ld.M%06ldP%dQ%05d.bench", static_cast<long>(tv.tv_sec), static_cast<long>(tv.tv_usec),
                  static_cast<int>(::getpid()), i);
    const std::string tmp = maildir + "/tmp/" + name;
    std::ofstream(tmp, std::ios::binary) << bytes;
    struct stat owner {};
    if (::geteuid() == 0 && ::stat((maildir + "/new").c_str(), &owner) == 0 && ::chown(tmp.c_str(), owner.st_uid, owner.st_gid) != 0)
        std::perror("chown");
    ::rename(tmp.c_str(), (maildir + "/new/" + name).c_str());
}

inline bool ServersConfigured() {
    return !Env("TARNWICK_POP3_HOST").empty() && !Env("TARNWICK_SMTP_HOST").empty() &&
           !Env("TARNWICK_POP3_MAILDIR").empty() && !Env("TARNWICK_DELIVERED_MAILDIR").empty();
}

// Waits until Postfix has delivered count messages (a minute at most), so that the next round
// starts with an idle server.
inline void WaitDelivered(const std::string& maildir, size_t count) {
    for (int wait = 0; wait < 1200 && DeliveredCount(maildir) < count; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

// A fresh folder as the current one (the ledger goes there), removed at the end.
class WorkFolder {
public:
    WorkFolder() {
        char folder[] = "/tmp/tarnwick-bench-XXXXXX";
        if (::mkdtemp(folder) == nullptr || ::getcwd(old_, sizeof old_) == nullptr || ::chdir(folder) != 0) return;
        path_ = folder;
    }
    ~WorkFolder() {
        if (path_.empty()) return;
        if (::chdir(old_) != 0) std::perror("chdir");
        std::system(("rm -rf '" + path_ + "'").c_str());
    }
    bool Ok() const { return !path_.empty(); }

private:
    char old_[4096] = {};
    std::string path_;
};

}  // namespace tarnwick::bench
