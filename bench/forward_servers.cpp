// One forwarding cycle over 2,000 messages of a few KB each, from the local Dovecot (POP3) to the
// local Postfix (SMTP) that scripts/servers starts: wall time and this process's CPU time per
// message, in plain text (/0) and with TLS on both sides (/1: POP3 on the implicit-TLS port, SMTP
// on the implicit-TLS port with AUTH), which must cost at most 1.3x the wall time and 2x the CPU
// time of plain text (wall_vs_plain, cpu_vs_plain). Skips when the servers' environment is not
// set (source $TARNWICK_SERVERS_DIR/env).
//
// A run on 2 shared cores (load about 3), RelWithDebInfo, Dovecot and Postfix on the same machine:
//   /0 plain  28166 ms wall (14.1 ms/msg), 0.40 ms CPU/msg
//   /1 TLS    27861 ms wall (13.9 ms/msg), 0.51 ms CPU/msg: wall_vs_plain 0.99, cpu_vs_plain 1.27
// Most of that wall time is Postfix answering a pipelined group with BDAT some 44 ms late whenever
// the group's write is over 4096 bytes; with NOCHUNK=1 (UseChunking off): plain 10945 ms, TLS
// 11869 ms (1.08 wall, 1.25 CPU).
#include <benchmark/benchmark.h>
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

#include "app/ForwardingCycle.h"
#include "app/ServerSettings.h"
#include "net/MailPOP3.h"
#include "net/MailSMTP.h"

using namespace tarnwick;

namespace {

constexpr int kMessages = 2000;

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

double Seconds(clockid_t clock) {
    timespec ts{};
    ::clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::vector<std::string> NamesIn(const std::string& dir) {
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
        for (const std::string& name : NamesIn(maildir + sub)) ::unlink((maildir + sub + name).c_str());
}

size_t DeliveredCount(const std::string& maildir) { return NamesIn(maildir + "/new").size() + NamesIn(maildir + "/cur").size(); }

// Message i of the mailbox: plain, Japanese, base64 attachment, quoted-printable or alternative,
// about 2 to 5 KB.
std::string MessageText(int i) {
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
    explicit ServersLock(const std::string& dir) {
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

void DropMessage(const std::string& maildir, int i, const std::string& bytes) {
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

// The plain run's totals, for the TLS run to compare with.
double plainWall = 0, plainCpu = 0;

void BM_ForwardThroughLocalServers(benchmark::State& state) {
    const bool tls = state.range(0) != 0;
    const std::string pop3Maildir = Env("TARNWICK_POP3_MAILDIR"), delivered = Env("TARNWICK_DELIVERED_MAILDIR");
    if (Env("TARNWICK_POP3_HOST").empty() || Env("TARNWICK_SMTP_HOST").empty() || pop3Maildir.empty() || delivered.empty()) {
        state.SkipWithError("local mail servers not configured (scripts/servers start; source $TARNWICK_SERVERS_DIR/env)");
        return;
    }
    if (tls && (Env("TARNWICK_POP3S_PORT").empty() || Env("TARNWICK_SMTPS_PORT").empty())) {
        state.SkipWithError("the local mail servers have no TLS ports (scripts/servers start)");
        return;
    }
    ServersLock lock(Env("TARNWICK_SERVERS_DIR").empty() ? "/tmp" : Env("TARNWICK_SERVERS_DIR"));
    EmptyMaildir(pop3Maildir);
    EmptyMaildir(delivered);
    for (int i = 0; i < kMessages; ++i) DropMessage(pop3Maildir, i, MessageText(i));

    TServerSettings settings;
    settings.Pop3User = Env("TARNWICK_POP3_USER");
    settings.Pop3Pass = Env("TARNWICK_POP3_PASS");
    settings.Pop3Server = Env("TARNWICK_POP3_HOST") + ":" + Env("TARNWICK_POP3_PORT");
    settings.SmtpServer = Env("TARNWICK_SMTP_HOST") + ":" + Env("TARNWICK_SMTP_PORT");
    if (tls) {
        settings.Pop3Server = Env("TARNWICK_POP3_HOST") + ":" + Env("TARNWICK_POP3S_PORT");
        settings.Pop3Security = TSecurity::TLS;
        settings.SmtpServer = Env("TARNWICK_SMTP_HOST") + ":" + Env("TARNWICK_SMTPS_PORT");
        settings.SmtpSecurity = TSecurity::TLS;
        settings.SmtpUser = settings.Pop3User;
        settings.SmtpPass = settings.Pop3Pass;
        settings.Pop3CAFile = settings.SmtpCAFile = Env("TARNWICK_CA_FILE");
    }
    char folder[] = "/tmp/tarnwick-bench-XXXXXX";
    char old[4096];
    if (::mkdtemp(folder) == nullptr || ::getcwd(old, sizeof old) == nullptr || ::chdir(folder) != 0) {
        state.SkipWithError("no working folder");
        return;
    }
    int forwarded = 0;
    TForwardingCycle cycle([&](const std::string& text) { forwarded += text.rfind("メール転送(", 0) == 0; });
    if (std::getenv("NOCHUNK")) cycle.MailSMTP().UseChunking = false;
    if (std::getenv("NOPIPE")) cycle.MailSMTP().UsePipelining = cycle.MailPOP3().UsePipelining = false;
    double wall = 0, cpu = 0;
    for (auto _ : state) {
        ::unlink("taro@docomo.ne.jp.txt");
        forwarded = 0;
        const double wall0 = Seconds(CLOCK_MONOTONIC), cpu0 = Seconds(CLOCK_PROCESS_CPUTIME_ID);
        cycle.ForwardNewMail(settings, "taro@docomo.ne.jp");
        const double roundWall = Seconds(CLOCK_MONOTONIC) - wall0;
        wall += roundWall;
        cpu += Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
        state.SetIterationTime(roundWall);
        if (forwarded != kMessages) state.SkipWithError("not every message was forwarded");
        // Let Postfix finish delivering before the next round.
        for (int wait = 0; wait < 6000 && DeliveredCount(delivered) < static_cast<size_t>(kMessages); ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EmptyMaildir(delivered);
    }
    const double rounds = static_cast<double>(state.iterations()) * kMessages;
    state.counters["wall_ms_per_msg"] = wall * 1000 / rounds;
    state.counters["cpu_ms_per_msg"] = cpu * 1000 / rounds;
    if (!tls) {
        plainWall = wall / rounds;
        plainCpu = cpu / rounds;
    } else if (plainWall > 0 && plainCpu > 0) {
        state.counters["wall_vs_plain"] = wall / rounds / plainWall;
        state.counters["cpu_vs_plain"] = cpu / rounds / plainCpu;
    }
    state.SetItemsProcessed(static_cast<int64_t>(rounds));
    EmptyMaildir(pop3Maildir);
    if (::chdir(old) != 0) std::perror("chdir");
    std::system((std::string("rm -rf '") + folder + "'").c_str());
}

}  // namespace

BENCHMARK(BM_ForwardThroughLocalServers)->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
