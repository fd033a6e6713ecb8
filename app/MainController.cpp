// The controller: the two modes (settings window / tray), the timers and what closing the window means.
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QLayout>
#include <QMessageBox>
#include <exception>

#include "app/AppPaths.h"
#include "app/MainForm.h"
#include "platform/Exception.h"
#include "platform/qt/Edit.h"
#include "platform/qt/NotifyShell.h"
#include "platform/qt/QtText.h"
#include "platform/qt/SpinEdit.h"
#include "tray/TrayIcon.h"

namespace tarnwick {

namespace {

// Log lines and balloons are one line each.
std::string OneLine(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r' || c == '\n') {
            if (!out.empty() && out.back() != ' ') out += ' ';
        } else {
            out += c;
        }
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

}  // namespace

void Tfrm_Main::FormCreate() {
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    SetExePaths(ExeFullPath());
    UpdateQuitPanel();
}

void Tfrm_Main::tim_StartAtOnceTimer() {
    tim_StartAtOnce.SetEnabled(false);
    UpdateQuitPanel();
    if (LoadSettings()) GoToTray();
}

void Tfrm_Main::GoToTray() {
    if (!NotifyShell().TrayAvailable()) {
        // No notification area on this desktop: watch from a minimized window instead.
        if (background_ != TBackground::Window)
            AddLog("タスクトレイがないため、ウィンドウを最小化して監視します");
        background_ = TBackground::Window;
        tim_TrayPoll.SetEnabled(true);
        UpdateQuitPanel();
        showMinimized();
        StartWatching();
        Trace("background window");
        return;
    }
    tray_Main->SetVisible(true);
    background_ = TBackground::Tray;
    tim_TrayPoll.SetEnabled(true);
    hide();
    StartWatching();
    Trace("background tray");
}

void Tfrm_Main::StartWatching() {
    ServerSettings.Pop3User = FromQString(edt_POP3User->text());
    ServerSettings.Pop3Pass = FromQString(edt_POP3Pass->text());
    ServerSettings.Pop3Server = FromQString(edt_POP3Server->text());
    ServerSettings.SmtpUser = FromQString(edt_SMTPUser->text());
    ServerSettings.SmtpPass = FromQString(edt_SMTPPass->text());
    ServerSettings.SmtpServer = FromQString(edt_SMTPServer->text());
    ForwardAddress = FromQString(edt_Adress->text()) + "@" + FromQString(cmb_Adress->currentText());
    if (Trim(FromQString(edt_WatchInterval->text())).empty()) edt_WatchInterval->setText(QStringLiteral("10"));
    // A typed value the box has not corrected yet (0, 999) would give a timer that never fires or
    // one of many hours; watch with the value the box would correct it to.
    const int typed = edt_WatchInterval->Value();
    const int minutes = edt_WatchInterval->CheckValue(typed);
    if (minutes != typed) edt_WatchInterval->SetValue(minutes);
    tim_Watchinterval.SetInterval(minutes * 60000);
    tim_Watchinterval.SetEnabled(true);
    Trace("watch on");
}

void Tfrm_Main::ShowSettingsWindow() {
    tray_Main->SetVisible(false);
    background_ = TBackground::None;
    tim_TrayPoll.SetEnabled(false);
    tim_Watchinterval.SetEnabled(false);
    UpdateQuitPanel();
    showNormal();
    raise();
    activateWindow();
    Trace("watch off");
}

void Tfrm_Main::ForwardNewMail(const TServerSettings& settings, const std::string& forwardAddress) {
    Trace("cycle");
    cycle_(settings, forwardAddress);
}

void Tfrm_Main::tim_WatchintervalTimer() {
    tim_Watchinterval.SetEnabled(false);
    bool failed = false;
    std::string error;
    try {
        ForwardNewMail(ServerSettings, ForwardAddress);
    } catch (const std::exception& e) {
        failed = true;
        error = e.what();
    }
    // On again in every case, but only while the program still watches in the background.
    tim_Watchinterval.SetEnabled(background_ != TBackground::None);
    if (failed) ReportError(error);
}

void Tfrm_Main::FormClose(TCloseAction& action) {
    if (tray_Main->Visible() || endRequested_) {
        endRequested_ = false;
        // Ending: no timer-driven cycle may start inside the message boxes below.
        tim_Watchinterval.SetEnabled(false);
        tim_TrayPoll.SetEnabled(false);
        try {
            if (!SaveSettings()) {
                ShowMessageBox(QMessageBox::Information, "情報", "次回起動時よりタスクアイコン表示となります");
            }
        } catch (const std::exception& e) {
            AddLog(OneLine(e.what()));
            ShowErrorBox(e.what());
        }
        action = TCloseAction::caFree;
        // The user asked to end: an error in the last cycle is shown, and the program still ends.
        try {
            ForwardNewMail(ServerSettings, ForwardAddress);
        } catch (const std::exception& e) {
            AddLog(OneLine(e.what()));
            ShowErrorBox(e.what());
        }
        return;
    }
    GoToTray();
    action = TCloseAction::caNone;
    ForwardNewMail(ServerSettings, ForwardAddress);
}

void Tfrm_Main::closeEvent(QCloseEvent* event) {
    if (ended_) {
        event->accept();
        return;
    }
    // A close asked for again from inside this one (the tray menu is live while a message box
    // waits) would save and run the last cycle twice.
    if (closing_) {
        event->ignore();
        return;
    }
    closing_ = true;
    TCloseAction action = TCloseAction::caHide;
    Guarded([&] { FormClose(action); });
    closing_ = false;
    if (action != TCloseAction::caFree) {
        event->ignore();
        return;
    }
    ended_ = true;
    event->accept();
    Trace("end");
    QCoreApplication::quit();
}

void Tfrm_Main::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // In the window fallback, bringing the window back up is what a click on the tray icon would be.
    if (event->type() == QEvent::WindowStateChange && background_ == TBackground::Window && isVisible() &&
        !isMinimized())
        Guarded([this] { ShowSettingsWindow(); });
}

void Tfrm_Main::mi_SettingClick() { ShowSettingsWindow(); }

void Tfrm_Main::tray_MainClick() { ShowSettingsWindow(); }

void Tfrm_Main::mi_CloseClick() {
    // The window may be hidden; deliver the close request to it all the same.
    QCloseEvent event;
    QCoreApplication::sendEvent(this, &event);
    if (event.isAccepted() && ended_) hide();
}

void Tfrm_Main::TrayPoll() {
    const bool available = NotifyShell().TrayAvailable();
    if (background_ == TBackground::Window && available) {
        tray_Main->SetVisible(true);
        background_ = TBackground::Tray;
        hide();
        UpdateQuitPanel();
        AddLog("タスクトレイに移りました");
        Trace("background tray");
    } else if (background_ == TBackground::Tray && !available) {
        // The notification area went away (its panel ended): keep the program reachable.
        tray_Main->SetVisible(false);
        background_ = TBackground::Window;
        UpdateQuitPanel();
        AddLog("タスクトレイがないため、ウィンドウを最小化して監視します");
        showMinimized();
        Trace("background window");
    }
}

void Tfrm_Main::UpdateQuitPanel() {
    const bool needed = background_ == TBackground::Window || !NotifyShell().TrayAvailable();
    if (needed == pnl_Quit->isHidden()) {
        pnl_Quit->setVisible(needed);
        layout()->activate();
    }
}

void Tfrm_Main::Guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ReportError(e.what());
    }
}

void Tfrm_Main::ReportError(const std::string& text) {
    const std::string line = OneLine(text);
    AddLog(line);
    if (background_ == TBackground::None) {
        ShowErrorBox(text);
    } else if (background_ == TBackground::Tray) {
        // In the background a box per failing cycle would pile up; the balloon passes by itself.
        tray_Main->ShowBalloon("Tarnwick", line, TBalloonKind::Error);
    }
}

void Tfrm_Main::ShowErrorBox(const std::string& text) { ShowMessageBox(QMessageBox::Critical, "Tarnwick", text); }

void Tfrm_Main::ShowMessageBox(int icon, const std::string& caption, const std::string& text) {
    Trace("message box");
    if (MessageBoxHook) {
        MessageBoxHook(caption, text);
        return;
    }
    QMessageBox box(static_cast<QMessageBox::Icon>(icon), ToQString(caption), ToQString(text), QMessageBox::Ok,
                    isVisible() ? this : nullptr);
    box.exec();
}

}  // namespace tarnwick
