// One forwarding cycle over 200 messages of a few KB each through a link with 20 ms of round-trip
// time (a DelayProxy in front of the local Dovecot and Postfix): the time per message from the
// first message forwarded to the last, in round trips (round_trips_per_msg). /0 sends one command
// at a time (as before pipelining), /1 pipelines where the servers offer it. Skips when the
// servers' environment is not set (source $TARNWICK_SERVERS_DIR/env).
//
// A run on 2 shared cores, RelWithDebInfo, Dovecot and Postfix (PIPELINING and CHUNKING):
//   /0 one at a time  30938 ms, 152.8 ms/msg: 7.64 round trips per message (before pipelining)
//   /1 pipelined       4745 ms,  21.3 ms/msg: 1.06 round trips per message
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "DelayProxy.h"
#include "LocalServers.h"
#include "app/ForwardingCycle.h"
#include "app/ServerSettings.h"
#include "net/MailPOP3.h"
#include "net/MailSMTP.h"

using namespace tarnwick;
using namespace tarnwick::bench;

namespace {

constexpr int kMessages = 200;
constexpr std::chrono::milliseconds kOneWay{10};

void BM_ForwardOverASlowLink(benchmark::State& state) {
    const std::string pop3Maildir = Env("TARNWICK_POP3_MAILDIR"), delivered = Env("TARNWICK_DELIVERED_MAILDIR");
    if (!ServersConfigured()) {
        state.SkipWithError("local mail servers not configured (scripts/servers start; source $TARNWICK_SERVERS_DIR/env)");
        return;
    }
    ServersLock lock;
    EmptyMaildir(pop3Maildir);
    EmptyMaildir(delivered);
    for (int i = 0; i < kMessages; ++i) DropMessage(pop3Maildir, i, MessageText(i));
    DelayProxy pop3(std::stoi(Env("TARNWICK_POP3_PORT")), kOneWay), smtp(std::stoi(Env("TARNWICK_SMTP_PORT")), kOneWay);

    TServerSettings settings;
    settings.Pop3User = Env("TARNWICK_POP3_USER");
    settings.Pop3Pass = Env("TARNWICK_POP3_PASS");
    settings.Pop3Server = "127.0.0.1:" + std::to_string(pop3.Port());
    settings.SmtpServer = "127.0.0.1:" + std::to_string(smtp.Port());
    WorkFolder folder;
    if (!folder.Ok()) {
        state.SkipWithError("no working folder");
        return;
    }
    int forwarded = 0;
    double first = 0, last = 0;
    TForwardingCycle cycle([&](const std::string& text) {
        if (text.rfind("メール転送(", 0) != 0) return;
        last = Seconds(CLOCK_MONOTONIC);
        if (forwarded++ == 0) first = last;
    });
    if (state.range(0) == 0) cycle.MailPOP3().UsePipelining = cycle.MailSMTP().UsePipelining = false;
    for (auto _ : state) {
        const double wall0 = Seconds(CLOCK_MONOTONIC);
        cycle.ForwardNewMail(settings, "taro@docomo.ne.jp");
        state.SetIterationTime(Seconds(CLOCK_MONOTONIC) - wall0);
        if (forwarded != kMessages) state.SkipWithError("not every message was forwarded");
    }
    const double rtt = 2 * std::chrono::duration<double>(kOneWay).count();
    state.counters["ms_per_msg"] = (last - first) * 1000 / (kMessages - 1);
    state.counters["round_trips_per_msg"] = (last - first) / (kMessages - 1) / rtt;
    WaitDelivered(delivered, kMessages);
    EmptyMaildir(delivered);
    EmptyMaildir(pop3Maildir);
}

}  // namespace

BENCHMARK(BM_ForwardOverASlowLink)->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
