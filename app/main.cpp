// Program entry: the command line, one instance per settings file, then the window and the message
// loop, or one of the command-line modes without any display.
#include <QApplication>
#include <QCoreApplication>
#include <QFont>
#include <sys/prctl.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "app/window/Window.h"
#include "app/settings/Settings.h"
#include "app/CommandLine.h"
#include "app/HeadlessRunner.h"
#include "app/InstanceDoor.h"
#include "platform/Locale.h"
#include "platform/NamedMutex.h"

#ifndef TARNWICK_VERSION
#define TARNWICK_VERSION "1.01"
#endif

namespace {

bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value && value[0]) return true;
    }
    return false;
}

int RunWindow(int argc, char** argv, const tarnwick::TSettingsLocation& location, bool configGiven) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarnwick"));
    // Hiding the window for the tray must not end the program; only the tray menu does.
    QApplication::setQuitOnLastWindowClosed(false);
    QFont font(QStringLiteral("Noto Sans CJK JP"));
    font.setPixelSize(12);
    QApplication::setFont(font);
    QApplication::setWindowIcon(tarnwick::MakeAppIcon());
    tarnwick::InstallQtJapanese(app);

    tarnwick::SettingsFile = location.SettingsFile;
    tarnwick::SettingsFileGiven = configGiven;
    tarnwick::Tfrm_Main form;
    form.AddLog("設定ファイル: " + tarnwick::Utf8ToCp932(location.SettingsFile));
    if (!location.Tightened.empty()) form.AddLog(location.Tightened);
    char cwd[4096];
    const std::string ledgers = ::getcwd(cwd, sizeof cwd) ? std::string(cwd) : location.LedgerFolder;
    form.AddLog("転送済みIDの保存先: " + tarnwick::Utf8ToCp932(ledgers));
    form.show();
    // A second start knocks here: the window comes forward, as the tray's 設定 brings it.
    tarnwick::TInstanceDoor door(location.LockName, [&form] {
        if (!form.Ended()) form.ShowSettingsWindow();
    });
    // A logout: the session manager asks first, SIGTERM or SIGHUP may follow (or come alone).
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &form, [&form] { form.SaveChangedSettings(); });
    tarnwick::TEndSignals endSignals([&form] { form.EndNow(); });
    return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tarnwick;
    const std::string program = argc > 0 && argv[0] ? argv[0] : "tarnwick";
    const TCommandLine line = ParseCommandLine(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    if (!line.Error.empty()) {
        std::fprintf(stderr, "tarnwick: %s\nTry '%s --help'.\n", line.Error.c_str(), program.c_str());
        return kExitFailed;
    }
    if (line.Mode == TRunMode::Help) {
        std::fputs(UsageText(program).c_str(), stdout);
        return 0;
    }
    if (line.Mode == TRunMode::Version) {
        std::printf("tarnwick %s\n", TARNWICK_VERSION);
        return 0;
    }
    const bool window = line.Mode == TRunMode::Window;
    // Without a display the toolkit would abort with a message about its plugins.
    if (window && !HasDisplay()) {
        std::fprintf(stderr,
                     "tarnwick: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                     "To forward mail without a desktop, run '%s --watch' (or '--once'); see --help.\n",
                     program.c_str());
        return kExitFailed;
    }

    // No core file, no debugger of another user: the process holds passwords and tokens.
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    // The log also goes to standard output; a reader that went away must not end the program.
    std::signal(SIGPIPE, SIG_IGN);

    SetExePaths(ExeFullPath());
    TSettingsLocation location = ResolveSettingsLocation(ExePath, ExeName, line.ConfigFile, std::getenv);
    try {
        PrepareSettingsLocation(location);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarnwick: %s\n", Cp932ToUtf8(e.what()).c_str());
        return kExitFailed;
    }

    // Signing in goes beside a running instance: it picks the new tokens up at its next cycle.
    if (line.Mode == TRunMode::Authorize) {
        QCoreApplication core(argc, argv);
        return RunAuthorize(location);
    }

    // A lock that cannot be had safely ends the start too, but says why: otherwise the program
    // would just never start.
    std::unique_ptr<TNamedMutex> instance;
    try {
        instance = TNamedMutex::TryCreate(location.LockName);
    } catch (const ENamedMutexError& e) {
        std::fprintf(stderr, "Tarnwick: %s\n", Cp932ToUtf8(e.Message()).c_str());
        return kExitFailed;
    }
    if (!instance) {
        // A second start of the window brings the running window forward and ends, silently. A
        // --watch instance holding the lock has no window: then it only ends.
        if (window) {
            QCoreApplication core(argc, argv);
            AskRunningWindowToShow(location.LockName);
            return 0;
        }
        std::fprintf(stderr, "tarnwick: another instance is running with %s\n", location.SettingsFile.c_str());
        return kExitFailed;
    }

    // Sign-in and the keyring answer through the toolkit's event loop, which needs no display.
    std::unique_ptr<QCoreApplication> core;
    if (!window) core = std::make_unique<QCoreApplication>(argc, argv);
    switch (line.Mode) {
    case TRunMode::Once:
        return RunOnce(location);
    case TRunMode::Watch:
        return RunWatch(location);
    default:
        return RunWindow(argc, argv, location, !line.ConfigFile.empty());
    }
}
