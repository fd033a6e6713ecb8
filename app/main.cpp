// Program entry: one instance only, then the window and the message loop.
#include <QApplication>
#include <QFont>
#include <csignal>
#include <cstdio>

#include "app/AppIcon.h"
#include "app/MainForm.h"
#include "platform/Locale.h"
#include "platform/NamedMutex.h"

int main(int argc, char** argv) {
    // A second start ends here, silently, before it touches the display. A lock that cannot be
    // had safely ends it too, but says why: otherwise the program would just never start.
    std::unique_ptr<tarnwick::TNamedMutex> instance;
    try {
        instance = tarnwick::TNamedMutex::TryCreate("ForwardMail");
    } catch (const tarnwick::ENamedMutexError& e) {
        std::fprintf(stderr, "Tarnwick: %s\n", tarnwick::Cp932ToUtf8(e.Message()).c_str());
        return 1;
    }
    if (!instance) return 0;

    // The log also goes to standard output; a reader that went away must not end the program.
    std::signal(SIGPIPE, SIG_IGN);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarnwick"));
    // Hiding the window for the tray must not end the program; only the tray menu does.
    QApplication::setQuitOnLastWindowClosed(false);
    QFont font(QStringLiteral("Noto Sans CJK JP"));
    font.setPixelSize(12);
    QApplication::setFont(font);
    QApplication::setWindowIcon(tarnwick::MakeAppIcon());

    tarnwick::Tfrm_Main form;
    form.show();
    return app.exec();
}
