// Line reading over loopback: the connection's ReadLine against a plain recv() loop over the same
// 100 MB of text, and the cost of one long line that arrives in many small pieces.
#include "LoopbackListener.h"
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "net/MailExceptions.h"
#include "net/MailTCPClient.h"

using namespace tarnwick;

namespace {

constexpr size_t TotalBytes = 100u * 1024 * 1024;

// Lines of mixed lengths: mostly short header/body lines, some long ones, a few empty.
const std::string& TextLines() {
    static const std::string text = [] {
        std::string out;
        out.reserve(TotalBytes + 16384);
        uint32_t seed = 12345;
        auto next = [&seed] {
            seed = seed * 1103515245u + 12345u;
            return (seed >> 8) & 0xFFFFFF;
        };
        while (out.size() < TotalBytes) {
            uint32_t r = next();
            size_t length = r % 100 < 90 ? r % 120 : (r % 100 < 99 ? 200 + r % 800 : 4000 + r % 8000);
            for (size_t i = 0; i < length; ++i) out += static_cast<char>('!' + (i * 7 + r) % 90);
            out += "\r\n";
        }
        return out;
    }();
    return text;
}

// Serves one connection on 127.0.0.1 with the given bytes, sent in pieces of piece bytes.
class OneShotSender {
public:
    OneShotSender(const std::string& bytes, size_t piece) {
        listen_ = ListenOnLoopback(port_);
        thread_ = std::thread([this, &bytes, piece] {
            int fd = ::accept(listen_, nullptr, nullptr);
            if (fd < 0) return;
            for (size_t at = 0; at < bytes.size();) {
                ssize_t n = ::send(fd, bytes.data() + at, std::min(piece, bytes.size() - at), MSG_NOSIGNAL);
                if (n <= 0) break;
                at += static_cast<size_t>(n);
            }
            ::close(fd);
        });
    }
    ~OneShotSender() {
        thread_.join();
        ::close(listen_);
    }
    int Port() const { return port_; }

private:
    int listen_ = -1;
    int port_ = 0;
    std::thread thread_;
};

int RawConnect(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) < 0) throw std::runtime_error("connect failed");
    return fd;
}

// The baseline: recv() into a 32 KB buffer until the peer closes.
void BM_PlainRecvLoop(benchmark::State& state) {
    const std::string& text = TextLines();
    std::string buffer(32768, '\0');
    for (auto _ : state) {
        OneShotSender sender(text, text.size());
        int fd = RawConnect(sender.Port());
        size_t total = 0;
        for (;;) {
            ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (n <= 0) break;
            total += static_cast<size_t>(n);
        }
        ::close(fd);
        if (total != text.size()) state.SkipWithError("short read");
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_PlainRecvLoop)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same bytes through the connection, one ReadLine per line.
void BM_ReadLine(benchmark::State& state) {
    const std::string& text = TextLines();
    for (auto _ : state) {
        OneShotSender sender(text, text.size());
        TMailTCPClient client;
        client.SetHost("127.0.0.1");
        client.SetPort(sender.Port());
        client.Connect(-1);
        size_t lines = 0, bytes = 0;
        try {
            for (;;) {
                std::string line = client.ReadLine();
                bytes += line.size();
                ++lines;
            }
        } catch (const EMailConnClosedGracefully&) {
        }
        client.Disconnect();
        if (bytes + 2 * lines != text.size()) state.SkipWithError("lines lost");
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ReadLine)->Unit(benchmark::kMillisecond)->UseRealTime();

// One line of N bytes received 64 bytes at a time: the terminator search must stay linear in N.
void BM_LongLineInSmallPieces(benchmark::State& state) {
    const size_t length = static_cast<size_t>(state.range(0));
    std::string text(length, 'x');
    text += "\r\n";
    for (auto _ : state) {
        OneShotSender sender(text, 64);
        TMailTCPClient client;
        client.MaxLineLength = 0;  // no limit: the line is the point
        client.RecvBufferSize = 64;
        client.SetHost("127.0.0.1");
        client.SetPort(sender.Port());
        client.Connect(-1);
        std::string line = client.ReadLine();
        if (line.size() != length) state.SkipWithError("wrong line");
        client.Disconnect();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_LongLineInSmallPieces)
    ->RangeMultiplier(4)
    ->Range(16 << 10, 4 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
