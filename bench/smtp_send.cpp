// One forwarded message per SendMail (RSET, MAIL, RCPT, DATA, content, "."), over loopback: against
// an in-process SMTP peer that answers at once, and against the local Postfix when the test
// servers are running (scripts/servers start; . $TARNWICK_SERVERS_DIR/env).
#include "LoopbackListener.h"
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>

#include "message/MailMessage.h"
#include "net/MailSMTP.h"

using namespace tarnwick;

namespace {

// Greets, answers every command line at once, and takes DATA content up to "." as one message.
class SmtpPeer {
public:
    SmtpPeer() {
        listen_ = ListenOnLoopback(port_);
        thread_ = std::thread([this] { Serve(); });
    }
    ~SmtpPeer() {
        thread_.join();
        ::close(listen_);
    }
    int Port() const { return port_; }

private:
    void Serve() {
        int fd = ::accept(listen_, nullptr, nullptr);
        if (fd < 0) return;
        auto reply = [fd](const char* text) { ::send(fd, text, std::char_traits<char>::length(text), MSG_NOSIGNAL); };
        reply("220 peer\r\n");
        std::string pending;
        bool data = false;
        char chunk[65536];
        for (;;) {
            ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) break;
            pending.append(chunk, static_cast<size_t>(n));
            for (;;) {
                if (data) {
                    size_t end = pending.find("\r\n.\r\n");
                    if (end == std::string::npos) {
                        if (pending.size() > 4) pending.erase(0, pending.size() - 4);
                        break;
                    }
                    pending.erase(0, end + 5);
                    data = false;
                    reply("250 queued\r\n");
                    continue;
                }
                size_t eol = pending.find("\r\n");
                if (eol == std::string::npos) break;
                std::string line = pending.substr(0, eol);
                pending.erase(0, eol + 2);
                if (line == "DATA") {
                    data = true;
                    reply("354 go\r\n");
                } else if (line == "QUIT") {
                    reply("221 bye\r\n");
                } else {
                    reply("250 ok\r\n");
                }
            }
        }
        ::close(fd);
    }

    int listen_ = -1;
    int port_ = 0;
    std::thread thread_;
};

// A received message as the forwarding cycle sends it: stored header lines and body lines.
void FillMessage(TMailMessage& message, int bodyLines) {
    message.NoEncode = true;
    message.Headers.Add("Return-Path: <sender@example.jp>");
    for (int i = 0; i < 6; ++i)
        message.Headers.Add("Received: from relay" + std::to_string(i) + ".example.jp (relay [192.0.2.1]) by mx;");
    message.Headers.Add("From: Sender <sender@example.jp>");
    message.Headers.Add("To: first@example.jp");
    message.Headers.Add("Subject: =?ISO-2022-JP?B?GyRCJEgkRiRiGyhC?=");
    message.Headers.Add("Date: Mon, 1 Jun 2026 10:00:00 +0900");
    message.Headers.Add("Message-ID: <bench@example.jp>");
    for (int i = 0; i < bodyLines; ++i)
        message.Body.Add(i % 10 == 0 ? ".a line that begins with a dot" : "an ordinary line of body text, seventy or so characters long......");
    message.From.SetText("sender@example.jp");
    message.Recipients.ParseAddresses("fwd@docomo.ne.jp");
}

void SendLoop(benchmark::State& state, const std::string& host, int port) {
    TMailMessage message;
    FillMessage(message, static_cast<int>(state.range(0)));
    TMailSMTP smtp;
    smtp.SetHost(host);
    smtp.SetPort(port);
    smtp.HeloName = std::string("bench");
    smtp.Connect(2000);
    for (auto _ : state) smtp.SendMail(message);
    smtp.Disconnect();
    state.SetItemsProcessed(state.iterations());
}

void BM_SendMailToImmediatePeer(benchmark::State& state) {
    SmtpPeer peer;
    SendLoop(state, "127.0.0.1", peer.Port());
}
BENCHMARK(BM_SendMailToImmediatePeer)->Arg(50)->Arg(2000)->UseRealTime();

// 2,000 messages through Postfix: a delayed-acknowledgement stall would show as 40 ms each.
void BM_SendMailToPostfix(benchmark::State& state) {
    const char* host = std::getenv("TARNWICK_SMTP_HOST");
    const char* port = std::getenv("TARNWICK_SMTP_PORT");
    if (host == nullptr || port == nullptr) {
        state.SkipWithError("local Postfix not configured");
        return;
    }
    SendLoop(state, host, std::atoi(port));
}
BENCHMARK(BM_SendMailToPostfix)->Arg(50)->Iterations(2000)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
