// The IMAP watch in IDLE: 20 messages delivered one by one into the Dovecot mailbox (through its
// delivery agent, as a mail server would) while the program idles, each forwarded to the local
// Postfix. Reported per message: the time from the delivery agent's return to Postfix's acceptance
// (the reply to the message's data, when the cycle logs "メール転送("), median and worst; with 10
// and 1,000 messages already in the folder, on loopback and with 20 ms added round trip (a
// DelayProxy in front of both servers). Dovecot itself announces a delivered message about 0.5 s
// after delivery. Skips without the servers' IMAP (source $TARNWICK_SERVERS_DIR/env).
//
// A run on 2 shared cores (load 7), RelWithDebInfo, Dovecot 2.3.19 and Postfix:
//   10 in the folder,    loopback   median 622 ms, worst 688 ms
//   1,000 in the folder, loopback   median 628 ms, worst 666 ms
//   10 in the folder,    +20 ms RTT median 765 ms, worst 792 ms
//   1,000 in the folder, +20 ms RTT median 772 ms, worst 893 ms
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DelayProxy.h"
#include "LocalServers.h"
#include "app/cycle/ForwardingCycle.h"
#include "app/cycle/ImapWatch.h"
#include "app/settings/Settings.h"
#include "platform/Locale.h"

using namespace tarnwick;
using namespace tarnwick::bench;

namespace {

constexpr int kDelivered = 20;
constexpr std::chrono::milliseconds kOneWay{10};

bool Deliver(const std::string& command, const std::string& bytes) {
    FILE* lda = ::popen(command.c_str(), "w");
    if (lda == nullptr) return false;
    std::fwrite(bytes.data(), 1, bytes.size(), lda);
    return ::pclose(lda) == 0;
}

void BM_ImapIdleDeliveryToAcceptance(benchmark::State& state) {
    const std::string maildir = Env("TARNWICK_POP3_MAILDIR"), delivered = Env("TARNWICK_DELIVERED_MAILDIR");
    if (!ServersConfigured() || Env("TARNWICK_IMAP_PORT").empty() || Env("TARNWICK_DELIVER").empty()) {
        state.SkipWithError("no IMAP among the local servers (scripts/servers start; source $TARNWICK_SERVERS_DIR/env)");
        return;
    }
    const int already = static_cast<int>(state.range(0));
    const bool slow = state.range(1) != 0;
    ServersLock lock;
    EmptyMaildir(maildir);
    EmptyMaildir(delivered);
    for (int i = 0; i < already; ++i) DropMessage(maildir, i, MessageText(i));
    std::unique_ptr<DelayProxy> imapProxy, smtpProxy;
    int imapPort = std::stoi(Env("TARNWICK_IMAP_PORT")), smtpPort = std::stoi(Env("TARNWICK_SMTP_PORT"));
    if (slow) {
        imapProxy = std::make_unique<DelayProxy>(imapPort, kOneWay);
        smtpProxy = std::make_unique<DelayProxy>(smtpPort, kOneWay);
        imapPort = imapProxy->Port();
        smtpPort = smtpProxy->Port();
    }
    TSettings settings;
    settings.Servers.Protocol = TReceiveProtocol::Imap;
    settings.Servers.Pop3User = Env("TARNWICK_POP3_USER");
    settings.Servers.Pop3Pass = Env("TARNWICK_POP3_PASS");
    settings.Servers.Pop3Server = "127.0.0.1:" + std::to_string(imapPort);
    settings.Servers.SmtpServer = "127.0.0.1:" + std::to_string(smtpPort);
    // What is there already is recorded, not sent.
    settings.Servers.SkipExisting = true;
    settings.MailUser = "taro";
    settings.MailDomain = "docomo.ne.jp";
    WorkFolder folder;
    if (!folder.Ok()) {
        state.SkipWithError("no working folder");
        return;
    }
    std::mutex mutex;
    std::condition_variable changed;
    int forwarded = 0, cycles = 0;
    double acceptedAt = 0;
    TForwardingCycle cycle([&](const std::string& text) {
        // The log is UTF-8; this source's texts are code page 932.
        if (Utf8ToCp932(text).rfind("メール転送(", 0) != 0) return;
        std::lock_guard<std::mutex> guard(mutex);
        acceptedAt = Seconds(CLOCK_MONOTONIC);
        ++forwarded;
        changed.notify_all();
    });
    std::atomic<bool> going{true};
    std::thread watch([&] {
        TImapWatch(cycle).Run(settings, [&] { return going.load(); }, [&](const TCycleReport&) {
            std::lock_guard<std::mutex> guard(mutex);
            ++cycles;
            changed.notify_all();
        });
    });
    std::vector<double> latencies;
    const std::string deliver = Env("TARNWICK_DELIVER") + " -d " + settings.Servers.Pop3User + " -f s@example.jp";
    for (auto _ : state) {
        {
            std::unique_lock<std::mutex> wait(mutex);
            changed.wait_for(wait, std::chrono::seconds(120), [&] { return cycles > 0; });
        }
        for (int k = 0; k < kDelivered; ++k) {
            // Back in IDLE after the last message's cycle.
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            if (!Deliver(deliver, MessageText(already + k))) {
                state.SkipWithError("the delivery agent failed");
                break;
            }
            const double deliveredAt = Seconds(CLOCK_MONOTONIC);
            std::unique_lock<std::mutex> wait(mutex);
            if (!changed.wait_for(wait, std::chrono::seconds(60), [&] { return forwarded > k; })) {
                state.SkipWithError("a message was not forwarded");
                break;
            }
            latencies.push_back(acceptedAt - deliveredAt);
        }
    }
    going = false;
    cycle.Wake();
    watch.join();
    if (!latencies.empty()) {
        std::sort(latencies.begin(), latencies.end());
        state.counters["median_ms"] = latencies[latencies.size() / 2] * 1000;
        state.counters["worst_ms"] = latencies.back() * 1000;
    }
    WaitDelivered(delivered, latencies.size());
    EmptyMaildir(delivered);
    EmptyMaildir(maildir);
}

}  // namespace

BENCHMARK(BM_ImapIdleDeliveryToAcceptance)
    ->ArgNames({"in_folder", "rtt20ms"})
    ->Args({10, 0})
    ->Args({1000, 0})
    ->Args({10, 1})
    ->Args({1000, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
