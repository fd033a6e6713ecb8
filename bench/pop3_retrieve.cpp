// RETR of one large message over loopback from an in-process POP3 peer: the stored-lines path the
// forwarding cycle uses (NoDecode) and the decoding path. InPieces: a peer (as popa3d) that writes
// the status line and the message in two sends with Nagle's algorithm on, so that a client that
// delays its acknowledgement of the first would stall each message by the delayed-ACK time
// (40 ms); a run shows well under 1 ms per small message.
#include "LoopbackListener.h"
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <stdexcept>
#include <string>
#include <thread>

#include "message/MailMessage.h"
#include "net/MailPOP3.h"

using namespace tarnwick;

namespace {

// Logs anyone in and answers every RETR with the same message.
class Pop3Peer {
public:
    explicit Pop3Peer(std::string message, bool pieces = false) : message_(std::move(message)), pieces_(pieces) {
        listen_ = ListenOnLoopback(port_);
        thread_ = std::thread([this] { Serve(); });
    }
    ~Pop3Peer() {
        thread_.join();
        ::close(listen_);
    }
    int Port() const { return port_; }

private:
    void Serve() {
        int fd = ::accept(listen_, nullptr, nullptr);
        if (fd < 0) return;
        auto send = [fd](const std::string& text) {
            size_t at = 0;
            while (at < text.size()) {
                ssize_t n = ::send(fd, text.data() + at, text.size() - at, MSG_NOSIGNAL);
                if (n <= 0) return;
                at += static_cast<size_t>(n);
            }
        };
        send("+OK ready\r\n");
        std::string pending;
        char chunk[4096];
        for (;;) {
            ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) break;
            pending.append(chunk, static_cast<size_t>(n));
            size_t eol;
            while ((eol = pending.find("\r\n")) != std::string::npos) {
                std::string line = pending.substr(0, eol);
                pending.erase(0, eol + 2);
                if (line.rfind("RETR", 0) != 0) {
                    send("+OK\r\n");
                } else if (pieces_) {
                    send("+OK\r\n");
                    send(message_ + ".\r\n");
                } else {
                    send("+OK\r\n" + message_ + ".\r\n");
                }
            }
        }
        ::close(fd);
    }

    std::string message_;
    bool pieces_ = false;
    int listen_ = -1;
    int port_ = 0;
    std::thread thread_;
};

std::string BigMessage(int lines) {
    std::string text = "From: sender@example.jp\r\nSubject: big\r\nContent-Type: text/plain\r\n\r\n";
    const std::string dotted = "..a line that begins with a dot\r\n";
    const std::string plain = "an ordinary line of body text, seventy or so characters long......\r\n";
    for (int i = 0; i < lines; ++i) text.append(i % 10 == 0 ? dotted : plain);
    return text;
}

void Retrieve(benchmark::State& state, bool decode, bool pieces = false) {
    const std::string message = BigMessage(static_cast<int>(state.range(0)));
    Pop3Peer peer(message, pieces);
    TMailPOP3 pop3;
    pop3.SetHost("127.0.0.1");
    pop3.SetPort(peer.Port());
    pop3.Username = std::string("u");
    pop3.Password = std::string("p");
    pop3.MaxContentLineLength = 16 * 1024 * 1024;
    pop3.Connect(2000);
    TMailMessage mail;
    for (auto _ : state) {
        mail.Clear();
        mail.NoDecode = !decode;
        pop3.RetrieveMessage(1, mail);
    }
    pop3.Disconnect();
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(message.size()));
}

void BM_RetrieveStoredLines(benchmark::State& state) { Retrieve(state, false); }
void BM_RetrieveDecoding(benchmark::State& state) { Retrieve(state, true); }
BENCHMARK(BM_RetrieveStoredLines)->Arg(100)->Arg(200000)->UseRealTime();
BENCHMARK(BM_RetrieveDecoding)->Arg(100)->Arg(200000)->UseRealTime();
void BM_RetrieveInPieces(benchmark::State& state) { Retrieve(state, false, true); }
BENCHMARK(BM_RetrieveInPieces)->Arg(20)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
