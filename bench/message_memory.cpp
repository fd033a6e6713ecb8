// Peak memory of one forwarding cycle that forwards a single message of almost 64 MiB (the size
// limit), from a POP3 peer to an SMTP peer that run in a child process, so that only the client
// is measured. Shapes: ordinary 76-byte lines, empty lines (a string per line would cost twenty
// times their bytes), and 7 MB of "a," in both To and Cc. The peak resident size the cycle adds
// must stay under three times the message size; the benchmark fails otherwise.
#include "LoopbackListener.h"
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "app/cycle/ForwardingCycle.h"
#include "app/settings/ServerSettings.h"

using namespace tarnwick;

namespace {

constexpr size_t kMessageSize = 64 * 1024 * 1024 - 4096;
constexpr double kMostPerByte = 3.0;

std::string Message(int shape) {
    std::string text = "From: a@example.jp\r\nSubject: big\r\n";
    if (shape == 2) {
        std::string list;
        while (list.size() < 7 * 1000 * 1000) list += "a,";
        text += "To: " + list + "\r\nCc: " + list + "\r\n";
    }
    text += "\r\n";
    const std::string line = shape == 1 ? "\r\n" : std::string(74, 'x') + "\r\n";
    while (text.size() + line.size() <= kMessageSize) text += line;
    return text;
}

// Kilobytes of a "Vm..." line of /proc/self/status.
long StatusKb(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string name;
    long value = 0;
    while (in >> name) {
        if (name == std::string(field) + ":" && in >> value) return value;
        in.ignore(1 << 20, '\n');
    }
    return 0;
}

void SendAll(int fd, const std::string& text) {
    for (size_t at = 0; at < text.size();) {
        ssize_t n = ::send(fd, text.data() + at, text.size() - at, MSG_NOSIGNAL);
        if (n <= 0) return;
        at += static_cast<size_t>(n);
    }
}

// Calls answer(line) for each CR LF line the client sends until it closes or answer says stop.
template <class Answer>
void Lines(int fd, Answer answer) {
    std::string pending;
    char chunk[65536];
    for (;;) {
        size_t start = 0, eol;
        while ((eol = pending.find("\r\n", start)) != std::string::npos) {
            const std::string line = pending.substr(start, eol - start);
            start = eol + 2;
            if (!answer(line)) return;
        }
        pending.erase(0, start);
        ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return;
        pending.append(chunk, static_cast<size_t>(n));
    }
}

void ServePop3(int listenFd, const std::string& message) {
    int fd = ::accept(listenFd, nullptr, nullptr);
    SendAll(fd, "+OK ready\r\n");
    Lines(fd, [&](const std::string& line) {
        if (line == "UIDL") SendAll(fd, "+OK\r\n1 big\r\n.\r\n");
        else if (line == "LIST 1") SendAll(fd, "+OK 1 " + std::to_string(message.size()) + "\r\n");
        else if (line == "RETR 1") SendAll(fd, "+OK\r\n" + message + ".\r\n");
        else SendAll(fd, "+OK\r\n");
        return line != "QUIT";
    });
    ::close(fd);
}

void ServeSmtp(int listenFd) {
    int fd = ::accept(listenFd, nullptr, nullptr);
    SendAll(fd, "220 hi\r\n");
    bool data = false;
    Lines(fd, [&](const std::string& line) {
        if (data) {
            if (line == ".") {
                data = false;
                SendAll(fd, "250 queued\r\n");
            }
            return true;
        }
        if (line == "DATA") {
            data = true;
            SendAll(fd, "354 go\r\n");
        } else {
            SendAll(fd, line == "QUIT" ? "221 bye\r\n" : "250 ok\r\n");
        }
        return line != "QUIT";
    });
    ::close(fd);
}

void BM_PeakMemoryOfOneLargeMessage(benchmark::State& state) {
    const int shape = static_cast<int>(state.range(0));
    int pop3Port = 0, smtpPort = 0;
    const int pop3Fd = ListenOnLoopback(pop3Port), smtpFd = ListenOnLoopback(smtpPort);
    char folder[] = "/tmp/tarnwick-bench-XXXXXX";
    char old[4096];
    if (::mkdtemp(folder) == nullptr || ::getcwd(old, sizeof old) == nullptr || ::chdir(folder) != 0) {
        state.SkipWithError("no working folder");
        return;
    }
    TServerSettings settings;
    settings.Pop3User = "u";
    settings.Pop3Pass = "p";
    settings.Pop3Server = "127.0.0.1:" + std::to_string(pop3Port);
    settings.SmtpServer = "127.0.0.1:" + std::to_string(smtpPort);
    bool forwarded = false;
    TForwardingCycle cycle([&](const std::string& text) { forwarded = forwarded || text == "メール転送(big)"; });
    double perByte = 0;
    for (auto _ : state) {
        ::unlink("taro@docomo.ne.jp.txt");
        forwarded = false;
        const pid_t peers = ::fork();
        if (peers == 0) {
            const std::string message = Message(shape);
            std::thread smtp([&] { ServeSmtp(smtpFd); });
            ServePop3(pop3Fd, message);
            smtp.join();
            std::_Exit(0);
        }
        // Resets the peak to the current size.
        std::ofstream("/proc/self/clear_refs") << "5";
        const long before = StatusKb("VmRSS");
        cycle.ForwardNewMail(settings, "taro@docomo.ne.jp");
        const long peak = StatusKb("VmHWM");
        int status = 0;
        ::waitpid(peers, &status, 0);
        perByte = static_cast<double>(peak - before) * 1024 / static_cast<double>(kMessageSize);
        if (!forwarded) state.SkipWithError("the message was not forwarded");
    }
    state.counters["peak_per_message_byte"] = perByte;
    if (perByte >= kMostPerByte) state.SkipWithError("peak memory is three times the message size or more");
    ::close(pop3Fd);
    ::close(smtpFd);
    if (::chdir(old) != 0) std::perror("chdir");
    std::system((std::string("rm -rf '") + folder + "'").c_str());
}

}  // namespace

BENCHMARK(BM_PeakMemoryOfOneLargeMessage)->Arg(0)->Arg(1)->Arg(2)->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
