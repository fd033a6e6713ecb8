// One message written line by line and its end-of-data reply awaited, over loopback: through the
// write buffer (few large sends, no wait for delayed acknowledgements) and, for comparison,
// line by line.
#include "LoopbackListener.h"
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>

#include "net/MailTCPClient.h"

using namespace tarnwick;

namespace {

// Answers "250 ok" to every block that ends in CR LF "." CR LF, until the client closes.
class DataSink {
public:
    DataSink() {
        listen_ = ListenOnLoopback(port_);
        thread_ = std::thread([this] {
            int fd = ::accept(listen_, nullptr, nullptr);
            if (fd < 0) return;
            std::string tail;
            char chunk[65536];
            for (;;) {
                ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
                if (n <= 0) break;
                tail.append(chunk, static_cast<size_t>(n));
                if (tail.size() >= 5 && tail.compare(tail.size() - 5, 5, "\r\n.\r\n") == 0) {
                    ::send(fd, "250 ok\r\n", 8, MSG_NOSIGNAL);
                    tail.clear();
                } else if (tail.size() > 8) {
                    tail.erase(0, tail.size() - 8);
                }
            }
            ::close(fd);
        });
    }
    ~DataSink() {
        thread_.join();
        ::close(listen_);
    }
    int Port() const { return port_; }

private:
    int listen_ = -1;
    int port_ = 0;
    std::thread thread_;
};

void SendMessages(benchmark::State& state, bool buffered) {
    const size_t size = static_cast<size_t>(state.range(0));
    const std::string line(70, 'x');
    DataSink sink;
    TMailTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(sink.Port());
    client.Connect(-1);
    for (auto _ : state) {
        if (buffered) client.OpenWriteBuffer();
        for (size_t written = 0; written < size; written += line.size() + 2) client.WriteLine(line);
        client.SendCommand(".", 250);
        if (buffered) client.CloseWriteBuffer();
    }
    client.Disconnect();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void BM_MessageThroughWriteBuffer(benchmark::State& state) { SendMessages(state, true); }
BENCHMARK(BM_MessageThroughWriteBuffer)->Arg(4 << 10)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

void BM_MessageLineByLine(benchmark::State& state) { SendMessages(state, false); }
BENCHMARK(BM_MessageLineByLine)->Arg(64 << 10)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
