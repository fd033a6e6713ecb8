#include "app/HeadlessRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <functional>
#include <mutex>
#include <thread>

#include "app/cycle/Cycle.h"
#include "app/HeadlessSignIn.h"
#include "app/signin/SignIn.h"
#include "app/settings/Settings.h"
#include "net/MailAbort.h"
#include "message/ShownText.h"
#include "platform/DateTime.h"
#include "platform/Exception.h"
#include "platform/Locale.h"
#include "platform/Streams.h"

namespace tarnwick {

using detail::OneLine;

namespace {

// How long a message in flight may take to finish after a stop signal before the connections are
// cut.
constexpr auto kStopGrace = std::chrono::seconds(2);

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
// looks at the flag between messages, and the stop guard cuts it off when that takes too long.
void InstallStopHandlers() {
    if (wakePipe[0] < 0 && ::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) wakePipe[0] = wakePipe[1] = -1;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

// Waits for a stop signal while the mode runs; then gives the message in flight kStopGrace to
// finish and otherwise sets off the abort, as the window's second 終了 does: the connections are
// cut and every other outside wait (a token request, a keyring call) ends. onStop runs at once on
// the signal: a wait for the server's news (IMAP's IDLE) ends without the grace.
class TStopGuard {
public:
    explicit TStopGuard(TMailAbort& abort, std::function<void()> onStop = nullptr)
        : abort_(abort), onStop_(std::move(onStop)), thread_([this] { Run(); }) {}
    ~TStopGuard() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        changed_.notify_all();
        if (wakePipe[1] >= 0) {
            const char byte = 0;
            [[maybe_unused]] ssize_t n = ::write(wakePipe[1], &byte, 1);
        }
        thread_.join();
    }

private:
    void Run() {
        while (!stopRequested && !done_) {
            pollfd fd{wakePipe[0], POLLIN, 0};
            if (wakePipe[0] < 0) {
                ::usleep(100000);
            } else if (::poll(&fd, 1, -1) > 0) {
                char drain[16];
                while (::read(wakePipe[0], drain, sizeof drain) > 0) {
                }
            }
        }
        if (stopRequested && onStop_) onStop_();
        std::unique_lock<std::mutex> lock(mutex_);
        if (changed_.wait_for(lock, kStopGrace, [this] { return done_.load(); })) return;
        PrintLogLine("転送を中断して終了します");
        abort_.Abort();
    }

    TMailAbort& abort_;
    std::function<void()> onStop_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// Sleeps until the time is up or a stop signal arrives; false when stopped.
bool WaitInterval(std::chrono::milliseconds interval) {
    const auto deadline = std::chrono::steady_clock::now() + interval;
    while (!stopRequested) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return true;
        ::usleep(static_cast<useconds_t>(std::min<long long>(left.count(), 200)) * 1000);
    }
    return false;
}

void PrintUtf8Line(const std::string& text) {
    // Whatever came from outside in it shows as text: no control reaches the terminal.
    const std::string utf8 = ShownText(text, kMaxShownLine);
    const std::string line = Cp932ToUtf8(FormatTimeHMS(Now()) + " ") + utf8;
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
}

void LogLocation(const TSettingsLocation& location) {
    PrintLogLine("設定ファイル: " + Utf8ToCp932(location.SettingsFile));
    if (!location.Tightened.empty()) PrintLogLine(location.Tightened);
    char cwd[4096];
    const std::string ledgers = ::getcwd(cwd, sizeof cwd) ? std::string(cwd) : location.LedgerFolder;
    PrintLogLine("転送済みIDの保存先: " + Utf8ToCp932(ledgers));
}

// The file must exist: without it there is nothing to forward.
bool ReadSettings(const TSettingsLocation& location, TSettings& settings) {
    try {
        if (!FileExists(location.SettingsFile))
            throw EFOpenError(Format("ファイル %s を開けません", Utf8ToCp932(location.SettingsFile).c_str()));
        settings = ReadSettingsFile(location.SettingsFile, PrintLogLine);
        return true;
    } catch (const std::exception& e) {
        PrintLogLine(OneLine(e.what()));
        return false;
    }
}

// The sign-in state of this run: tokens and passwords where the settings keep them.
std::shared_ptr<TSignInState> SignInFor(const TSettingsLocation& location, TSettings& settings) {
    auto state = std::make_shared<TSignInState>(location.SettingsFile);
    state->OnLog = PrintLogLine;
    state->KeyringSecrets = settings.KeyringSecrets;
    state->LoadPasswords(settings);
    return state;
}

// One cycle, its error (if one left it) logged.
TCycleReport RunLoggedCycle(TForwardingCycle& cycle, const TSettings& settings) {
    TCycleReport report = RunCycle(cycle, settings);
    if (report.End == TCycleReport::TEnd::Error) PrintLogLine(OneLine(report.Error));
    return report;
}

}  // namespace

void PrintLogLine(const std::string& text) { PrintUtf8Line(Cp932ToUtf8(text)); }

int RunOnce(const TSettingsLocation& location) {
    InstallStopHandlers();
    LogLocation(location);
    TSettings settings;
    if (!ReadSettings(location, settings)) return kExitFailed;
    TForwardingCycle cycle(PrintUtf8Line);
    cycle.StopRequested = [] { return stopRequested.load(); };
    TCycleReport report;
    {
        TStopGuard guard(cycle.AbortGroup());
        {
            // The keyring may be asked for passwords: a stop ends that wait too.
            TAbortScope scope(cycle.AbortGroup());
            cycle.SignIn = SignInFor(location, settings);
        }
        if (!stopRequested) report = RunLoggedCycle(cycle, settings);
    }
    // Cut short on request: what was in flight goes next time; nothing failed.
    if (stopRequested) {
        report.Stopped = true;
        report.Aborted = report.Aborted || cycle.Aborted();
    }
    return ExitCodeOf(report);
}

int RunWatch(const TSettingsLocation& location) {
    InstallStopHandlers();
    LogLocation(location);
    TSettings settings;
    if (!ReadSettings(location, settings)) return kExitFailed;
    PrintLogLine("監視間隔 " + std::to_string(settings.IntervalMinutes) + "分");
    TForwardingCycle cycle(PrintUtf8Line);
    cycle.StopRequested = [] { return stopRequested.load(); };
    {
        TStopGuard guard(cycle.AbortGroup(), [&cycle] { cycle.Wake(); });
        {
            TAbortScope scope(cycle.AbortGroup());
            cycle.SignIn = SignInFor(location, settings);
        }
        if (settings.Servers.Protocol == TReceiveProtocol::Imap && !stopRequested) {
            TImapWatch(cycle).Run(settings, [] { return !stopRequested.load(); }, [](const TCycleReport& report) {
                if (report.End == TCycleReport::TEnd::Error) PrintLogLine(OneLine(report.Error));
            });
        }
        while (!stopRequested && settings.Servers.Protocol == TReceiveProtocol::Pop3) {
            RunLoggedCycle(cycle, settings);
            if (stopRequested || !WaitInterval(std::chrono::minutes(settings.IntervalMinutes))) break;
        }
    }
    PrintLogLine("終了");
    return 0;
}

int RunAuthorize(const TSettingsLocation& location) {
    InstallStopHandlers();
    TSettings settings;
    if (!ReadSettings(location, settings)) return kExitFailed;
    // A token request or a keyring call that does not answer ends with a stop signal.
    TMailAbort abort;
    TStopGuard guard(abort);
    TAbortScope scope(abort);
    auto state = SignInFor(location, settings);
    const TServerSettings& s = settings.Servers;
    std::vector<TServerKind> servers;
    for (TServerKind kind : kServerKinds)
        if (s.Access(kind).Auth.Method != TAuthMethod::amPassword &&
            !(kind == TServerKind::Smtp && TSignInState::SmtpSharesPop3(s)))
            servers.push_back(kind);
    if (servers.empty()) {
        PrintLogLine("OAuth2 でサインインするサーバがありません(認証方式がパスワード)");
        return kExitFailed;
    }
    for (TServerKind kind : servers) {
        const TServerAccount server = s.Account(kind);
        PrintLogLine(std::string(server.Name()) + "サーバのサインイン(" + server.Server + ")");
        TOAuthTokens tokens;
        const bool ok = SignInWithoutDisplay(ProviderFor(server), PrintLogLine,
                                             [] { return stopRequested.load(); }, tokens);
        if (!ok) return kExitFailed;
        if (!state->SaveSignIn(s, kind, tokens)) {
            PrintLogLine("トークンを保存できませんでした");
            return kExitFailed;
        }
    }
    return 0;
}

}  // namespace tarnwick
