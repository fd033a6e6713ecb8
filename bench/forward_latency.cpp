// One forwarding cycle over 200 messages of a few KB each through a link with 20 ms of round-trip
// time (a DelayProxy in front of the local Dovecot and Postfix): the time per message from the
// first message forwarded to the last, in round trips (round_trips_per_msg). /0 sends one command
// at a time (as before pipelining), /1 pipelines where the servers offer it, /2 pipelines to an
// in-process SMTP server that offers PIPELINING but not CHUNKING (as Sendmail and many providers'
// servers do), answering each batch of commands in one write. Skips when the servers'
// environment is not set (source $TARNWICK_SERVERS_DIR/env).
//
// A run on 2 shared cores, RelWithDebInfo, Dovecot and Postfix (PIPELINING and CHUNKING):
//   /0 one at a time  30938 ms, 152.8 ms/msg: 7.64 round trips per message (before pipelining)
//   /1 pipelined       4745 ms,  21.3 ms/msg: 1.06 round trips per message
// Another run, the machine busy with builds (load 5), against the server without CHUNKING:
//   /2 with DATA, waiting for the dot's reply before the next envelope
//                      9372 ms,  44.4 ms/msg: 2.22 round trips per message
//   /2 the dot and the next envelope in one write
//                      5075 ms,  22.9 ms/msg: 1.14 round trips per message
//   /1 in the same run 5264 ms,  23.7 ms/msg: 1.19 round trips per message
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "DelayProxy.h"
#include "LoopbackListener.h"
#include "LocalServers.h"
#include "app/cycle/ForwardingCycle.h"
#include "app/settings/ServerSettings.h"
#include "net/MailPOP3.h"
#include "net/MailSMTP.h"
#include "platform/Locale.h"

using namespace tarnwick;
using namespace tarnwick::bench;

namespace {

constexpr int kMessages = 200;
constexpr std::chrono::milliseconds kOneWay{10};

// An SMTP server with PIPELINING and without CHUNKING that takes every message. It answers the
// complete commands of what it has read in one write, once nothing more is waiting, as a
// pipelining server does; the content up to "." counts as one command.
class PipeliningSink {
public:
    PipeliningSink() {
        listen_ = ListenOnLoopback(port_);
        thread_ = std::thread([this] { Serve(); });
    }
    ~PipeliningSink() {
        stop_ = true;
        ::shutdown(listen_, SHUT_RDWR);
        thread_.join();
        ::close(listen_);
    }
    int Port() const { return port_; }

private:
    void Serve() {
        while (!stop_) {
            int fd = ::accept(listen_, nullptr, nullptr);
            if (fd < 0) return;
            Converse(fd);
            ::close(fd);
        }
    }
    static void Converse(int fd) {
        std::string out = "220 sink\r\n", pending;
        bool data = false;
        char chunk[65536];
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            // Replies leave once everything that came has been taken in.
            if (!out.empty() && ::poll(&p, 1, 0) == 0) {
                if (::send(fd, out.data(), out.size(), MSG_NOSIGNAL) < 0) return;
                out.clear();
            }
            ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) return;
            pending.append(chunk, static_cast<size_t>(n));
            for (;;) {
                if (data) {
                    size_t end = pending.find("\r\n.\r\n");
                    if (end == std::string::npos) break;
                    pending.erase(0, end + 5);
                    data = false;
                    out += "250 2.0.0 queued\r\n";
                    continue;
                }
                size_t eol = pending.find("\r\n");
                if (eol == std::string::npos) break;
                const std::string line = pending.substr(0, eol);
                pending.erase(0, eol + 2);
                if (line.rfind("EHLO", 0) == 0) {
                    out += "250-sink\r\n250-PIPELINING\r\n250-8BITMIME\r\n250 SIZE 100000000\r\n";
                } else if (line == "DATA") {
                    data = true;
                    // The content may follow at once: keep the "\r\n" that ends the line before it.
                    pending.insert(0, "\r\n");
                    out += "354 go\r\n";
                } else if (line == "QUIT") {
                    out += "221 bye\r\n";
                    ::send(fd, out.data(), out.size(), MSG_NOSIGNAL);
                    return;
                } else {
                    out += "250 ok\r\n";
                }
            }
        }
    }

    int listen_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

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
    PipeliningSink sink;
    const bool toSink = state.range(0) == 2;
    DelayProxy pop3(std::stoi(Env("TARNWICK_POP3_PORT")), kOneWay),
        smtp(toSink ? sink.Port() : std::stoi(Env("TARNWICK_SMTP_PORT")), kOneWay);

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
        // The cycle hands its lines out in UTF-8; the literal is code page 932.
        if (Utf8ToCp932(text).rfind("メール転送(", 0) != 0) return;
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
    if (!toSink) WaitDelivered(delivered, kMessages);
    EmptyMaildir(delivered);
    EmptyMaildir(pop3Maildir);
}

}  // namespace

BENCHMARK(BM_ForwardOverASlowLink)->Arg(0)->Arg(1)->Arg(2)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
