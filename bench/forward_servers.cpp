// One forwarding cycle over 2,000 messages of a few KB each, from the local Dovecot (POP3) to the
// local Postfix (SMTP) that scripts/servers starts: wall time and this process's CPU time per
// message, in plain text (/0) and with TLS on both sides (/1: POP3 on the implicit-TLS port, SMTP
// on the implicit-TLS port with AUTH), which must cost at most 1.3x the wall time and 2x the CPU
// time of plain text (wall_vs_plain, cpu_vs_plain). Skips when the servers' environment is not
// set (source $TARNWICK_SERVERS_DIR/env).
//
// On 2 shared cores (load about 2), RelWithDebInfo, both servers on the same machine:
//   before pipelining: 2.85 ms wall, 0.50-0.60 ms CPU per message
//   pipelined, CHUNKING, fewer system calls: 2.72 ms wall, 0.28 ms CPU per message
// Plain against TLS, at load about 3.5: plain 8475 ms (4.24 ms wall, 0.28 ms CPU per message),
// TLS 7332 ms (3.67 ms wall, 0.30 ms CPU): wall_vs_plain 0.87, cpu_vs_plain 1.06 (a second run:
// 0.97 and 1.15). The load, not TLS, sets the wall time.
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

#include "LocalServers.h"
#include "app/cycle/ForwardingCycle.h"
#include "app/settings/ServerSettings.h"
#include "net/MailPOP3.h"
#include "net/MailSMTP.h"

using namespace tarnwick;
using namespace tarnwick::bench;

namespace {

constexpr int kMessages = 2000;

// The plain run's figures per message, for the TLS run to compare with.
double plainWall = 0, plainCpu = 0;

void BM_ForwardThroughLocalServers(benchmark::State& state) {
    const bool tls = state.range(0) != 0;
    const std::string pop3Maildir = Env("TARNWICK_POP3_MAILDIR"), delivered = Env("TARNWICK_DELIVERED_MAILDIR");
    if (!ServersConfigured()) {
        state.SkipWithError("local mail servers not configured (scripts/servers start; source $TARNWICK_SERVERS_DIR/env)");
        return;
    }
    if (tls && (Env("TARNWICK_POP3S_PORT").empty() || Env("TARNWICK_SMTPS_PORT").empty())) {
        state.SkipWithError("the local mail servers have no TLS ports (scripts/servers start)");
        return;
    }
    ServersLock lock;
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
        settings.Pop3Access.Security = TSecurity::TLS;
        settings.SmtpServer = Env("TARNWICK_SMTP_HOST") + ":" + Env("TARNWICK_SMTPS_PORT");
        settings.SmtpAccess.Security = TSecurity::TLS;
        settings.SmtpUser = settings.Pop3User;
        settings.SmtpPass = settings.Pop3Pass;
        settings.Pop3Access.CAFile = settings.SmtpAccess.CAFile = Env("TARNWICK_CA_FILE");
    }
    char folder[] = "/tmp/tarnwick-bench-XXXXXX";
    char old[4096];
    if (::mkdtemp(folder) == nullptr || ::getcwd(old, sizeof old) == nullptr || ::chdir(folder) != 0) {
        state.SkipWithError("no working folder");
        return;
    }
    int forwarded = 0;
    TForwardingCycle cycle([&](const std::string& text) { forwarded += text.rfind("メール転送(", 0) == 0; });
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
