#include "app/HeadlessRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>

#include "app/ForwardingCycle.h"
#include "app/StoredSettings.h"
#include "platform/DateTime.h"
#include "platform/Locale.h"

namespace tarnwick {

namespace {

std::atomic<bool> stopRequested{false};
int wakePipe[2] = {-1, -1};

void OnStopSignal(int) {
    stopRequested = true;
    if (wakePipe[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] ssize_t n = ::write(wakePipe[1], &byte, 1);
    }
}

// SA_RESTART: a signal during a network read must not break the message in flight; the cycle
// looks at the flag between messages.
void InstallStopHandlers() {
    if (wakePipe[0] < 0 && ::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) wakePipe[0] = wakePipe[1] = -1;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

// Sleeps until the time is up or a stop signal arrives; false when stopped.
bool WaitInterval(std::chrono::milliseconds interval) {
    const auto deadline = std::chrono::steady_clock::now() + interval;
    while (!stopRequested) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return true;
        pollfd fd{wakePipe[0], POLLIN, 0};
        const int wait = static_cast<int>(std::min<long long>(left.count(), 60000));
        if (wakePipe[0] >= 0) {
            ::poll(&fd, 1, wait);
        } else {
            ::usleep(static_cast<useconds_t>(std::min(wait, 1000)) * 1000);
        }
    }
    return false;
}

std::string OneLine(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r') continue;
        out += c == '\n' ? ' ' : c;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

void LogLocation(const TSettingsLocation& location) {
    PrintLogLine("設定ファイル: " + Utf8ToCp932(location.SettingsFile));
    char cwd[4096];
    const std::string ledgers = ::getcwd(cwd, sizeof cwd) ? std::string(cwd) : location.LedgerFolder;
    PrintLogLine("転送済みIDの保存先: " + Utf8ToCp932(ledgers));
}

bool ReadSettings(const TSettingsLocation& location, TStoredSettings& stored) {
    try {
        stored = ReadStoredSettings(location.SettingsFile);
        return true;
    } catch (const std::exception& e) {
        PrintLogLine(OneLine(e.what()));
        return false;
    }
}

// One cycle; false when an error left it (already logged).
bool RunCycle(TForwardingCycle& cycle, const TStoredSettings& stored) {
    try {
        cycle.ForwardNewMail(stored.Servers, stored.ForwardAddress);
        return true;
    } catch (const std::exception& e) {
        PrintLogLine(OneLine(e.what()));
        return false;
    }
}

}  // namespace

void PrintLogLine(const std::string& text) {
    const std::string line = Cp932ToUtf8(FormatTimeHMS(Now()) + " " + text);
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
}

int RunOnce(const TSettingsLocation& location) {
    InstallStopHandlers();
    LogLocation(location);
    TStoredSettings stored;
    if (!ReadSettings(location, stored)) return kExitFailed;
    TForwardingCycle cycle(PrintLogLine);
    cycle.StopRequested = [] { return stopRequested.load(); };
    if (!RunCycle(cycle, stored)) return kExitFailed;
    const TCycleOutcome& outcome = cycle.Outcome();
    if (outcome.LoginFailed) return kExitFailed;
    if (outcome.Skipped > 0 || outcome.Stopped) return kExitSomeSkipped;
    return kExitAllForwarded;
}

int RunWatch(const TSettingsLocation& location) {
    InstallStopHandlers();
    LogLocation(location);
    TStoredSettings stored;
    if (!ReadSettings(location, stored)) return kExitFailed;
    PrintLogLine("監視間隔 " + std::to_string(stored.IntervalMinutes) + "分");
    TForwardingCycle cycle(PrintLogLine);
    cycle.StopRequested = [] { return stopRequested.load(); };
    do {
        RunCycle(cycle, stored);
    } while (!stopRequested && WaitInterval(std::chrono::minutes(stored.IntervalMinutes)));
    PrintLogLine("終了");
    return 0;
}

}  // namespace tarnwick
