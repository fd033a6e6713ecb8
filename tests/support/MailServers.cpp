#include "tests/support/MailServers.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

#include <dirent.h>

namespace tarnwick::test {
namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') names.emplace_back(e->d_name);
        ::closedir(d);
    }
    return names;
}

void EmptyMaildir(const std::string& maildir) {
    for (const char* sub : {"/new/", "/cur/", "/tmp/"})
        for (const std::string& name : FilesIn(maildir + sub)) ::unlink((maildir + sub + name).c_str());
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Header value of the first field called name (name includes the colon), from LF text.
std::string FieldValue(const std::string& content, std::string_view name) {
    size_t pos = 0;
    while (pos < content.size() && content[pos] != '\n') {
        size_t end = content.find('\n', pos);
        if (end == std::string::npos) end = content.size();
        std::string_view line(content.data() + pos, end - pos);
        if (line.size() >= name.size() && std::equal(name.begin(), name.end(), line.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
            })) {
            std::string_view v = line.substr(name.size());
            while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
            return std::string(v);
        }
        pos = end + 1;
    }
    return "";
}

bool StartsWithField(std::string_view line, std::string_view name) {
    if (line.size() < name.size()) return false;
    for (size_t i = 0; i < name.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(line[i])) != std::tolower(static_cast<unsigned char>(name[i])))
            return false;
    return true;
}

}  // namespace

std::string DeliveredMessage::ReturnPath() const {
    std::string v = FieldValue(content, "Return-Path:");
    if (v.size() >= 2 && v.front() == '<' && v.back() == '>') v = v.substr(1, v.size() - 2);
    return v;
}

std::string DeliveredMessage::OriginalTo() const { return FieldValue(content, "X-Original-To:"); }

std::string DeliveredMessage::WithoutDeliveryTrace() const {
    size_t pos = 0;
    auto line = [&](size_t at) {
        size_t end = content.find('\n', at);
        return std::string_view(content.data() + at, (end == std::string::npos ? content.size() : end) - at);
    };
    auto next = [&](size_t at) {
        size_t end = content.find('\n', at);
        return end == std::string::npos ? content.size() : end + 1;
    };
    while (pos < content.size() && (StartsWithField(line(pos), "Return-Path:") ||
                                    StartsWithField(line(pos), "X-Original-To:") ||
                                    StartsWithField(line(pos), "Delivered-To:")))
        pos = next(pos);
    if (pos < content.size() && StartsWithField(line(pos), "Received:")) {
        pos = next(pos);
        while (pos < content.size() && (content[pos] == ' ' || content[pos] == '\t')) pos = next(pos);
    }
    return content.substr(pos);
}

std::string DeliveredMessage::SentCrLf() const { return ToCrLf(WithoutDeliveryTrace()); }

std::string ToCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

std::unique_ptr<MailServers> MailServers::Acquire() {
    std::unique_ptr<MailServers> s(new MailServers);
    s->pop3Host = Env("TARNWICK_POP3_HOST");
    s->pop3Port = std::atoi(Env("TARNWICK_POP3_PORT").c_str());
    s->pop3User = Env("TARNWICK_POP3_USER");
    s->pop3Pass = Env("TARNWICK_POP3_PASS");
    s->pop3Maildir = Env("TARNWICK_POP3_MAILDIR");
    s->pop3User2 = Env("TARNWICK_POP3_USER2");
    s->pop3Pass2 = Env("TARNWICK_POP3_PASS2");
    s->pop3Maildir2 = Env("TARNWICK_POP3_MAILDIR2");
    s->smtpHost = Env("TARNWICK_SMTP_HOST");
    s->smtpPort = std::atoi(Env("TARNWICK_SMTP_PORT").c_str());
    s->deliveredMaildir = Env("TARNWICK_DELIVERED_MAILDIR");
    s->pop3sPort = std::atoi(Env("TARNWICK_POP3S_PORT").c_str());
    s->submissionPort = std::atoi(Env("TARNWICK_SUBMISSION_PORT").c_str());
    s->smtpsPort = std::atoi(Env("TARNWICK_SMTPS_PORT").c_str());
    s->caFile = Env("TARNWICK_CA_FILE");
    s->wrongNameCert = Env("TARNWICK_WRONG_NAME_CERT");
    s->wrongNameKey = Env("TARNWICK_WRONG_NAME_KEY");
    s->selfSignedCert = Env("TARNWICK_SELF_SIGNED_CERT");
    s->selfSignedKey = Env("TARNWICK_SELF_SIGNED_KEY");
    if (s->pop3Host.empty() || s->pop3Port <= 0 || s->pop3Maildir.empty() || s->smtpHost.empty() ||
        s->smtpPort <= 0 || s->deliveredMaildir.empty())
        return nullptr;

    std::string dir = Env("TARNWICK_SERVERS_DIR");
    std::string lockPath = (dir.empty() ? std::string("/tmp") : dir) + "/tests.lock";
    s->lockFd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (s->lockFd_ < 0) throw std::runtime_error("cannot open " + lockPath);
    // Another test program may hold the servers for a while; wait, but not for ever.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(180);
    while (::flock(s->lockFd_, LOCK_EX | LOCK_NB) != 0) {
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("mail servers still busy with another test after 180 s");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    for (const std::string* m : {&s->pop3Maildir, &s->pop3Maildir2, &s->deliveredMaildir}) {
        struct stat st {};
        if (m->empty()) continue;
        if (::stat((*m + "/new").c_str(), &st) != 0) throw std::runtime_error("no Maildir at " + *m);
        EmptyMaildir(*m);
    }
    return s;
}

MailServers::~MailServers() {
    if (lockFd_ >= 0) ::close(lockFd_);
}

std::string MailServers::DropMessage(const std::string& maildir, std::string_view bytes) const {
    // Dovecot numbers new messages by the time in their file names: every drop gets a later one.
    static std::mutex lock;
    static long long last = 0;
    struct timeval tv {};
    ::gettimeofday(&tv, nullptr);
    long long usec = static_cast<long long>(tv.tv_sec) * 1000000 + tv.tv_usec;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (usec <= last) usec = last + 1;
        last = usec;
    }
    char name[96];
    std::snprintf(name, sizeof name, "%lld.M%06lldP%d.tarnwick", usec / 1000000, usec % 1000000,
                  static_cast<int>(::getpid()));
    std::string tmp = maildir + "/tmp/" + name;
    {
        std::ofstream out(tmp, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) throw std::runtime_error("cannot write " + tmp);
    }
    // Dovecot serves the mailbox as its owner: hand the file over when we are root.
    struct stat dirStat {};
    if (::geteuid() == 0 && ::stat((maildir + "/new").c_str(), &dirStat) == 0 &&
        ::chown(tmp.c_str(), dirStat.st_uid, dirStat.st_gid) != 0)
        throw std::runtime_error("cannot hand over " + tmp);
    ::chmod(tmp.c_str(), 0644);
    if (::rename(tmp.c_str(), (maildir + "/new/" + name).c_str()) != 0)
        throw std::runtime_error("cannot move " + tmp + " into new/");
    return name;
}

void MailServers::ClearPop3Maildir() const {
    EmptyMaildir(pop3Maildir);
    if (!pop3Maildir2.empty()) EmptyMaildir(pop3Maildir2);
}

std::vector<DeliveredMessage> MailServers::Delivered() const {
    struct Entry {
        struct timespec when;
        std::string path, name;
    };
    std::vector<Entry> entries;
    for (const char* sub : {"/new/", "/cur/"})
        for (const std::string& name : FilesIn(deliveredMaildir + sub)) {
            std::string path = deliveredMaildir + sub + name;
            struct stat st {};
            if (::stat(path.c_str(), &st) == 0) entries.push_back({st.st_mtim, path, name});
        }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.when.tv_sec != b.when.tv_sec) return a.when.tv_sec < b.when.tv_sec;
        if (a.when.tv_nsec != b.when.tv_nsec) return a.when.tv_nsec < b.when.tv_nsec;
        return a.name < b.name;
    });
    std::vector<DeliveredMessage> out;
    for (const Entry& e : entries) out.push_back({e.name, ReadFile(e.path)});
    return out;
}

void MailServers::ClearDelivered() const { EmptyMaildir(deliveredMaildir); }

std::vector<DeliveredMessage> MailServers::WaitForDelivered(size_t count, std::chrono::milliseconds limit) const {
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        std::vector<DeliveredMessage> got = Delivered();
        if (got.size() >= count || std::chrono::steady_clock::now() >= deadline) return got;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace tarnwick::test
