// The controller: the two modes (settings window / tray), the timers and what closing the window means.
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QCoreApplication>
#include <QLayout>
#include <QMessageBox>
#include <exception>
#include <memory>
#include <utility>

#include "app/window/AppIcon.h"
#include "app/settings/Settings.h"
#include "app/cycle/Cycle.h"
#include "app/window/CycleWorker.h"
#include "app/window/MainForm.h"
#include "platform/DateTime.h"
#include "platform/Exception.h"
#include "platform/qt/Edit.h"
#include "platform/qt/NotifyShell.h"
#include "platform/qt/QtText.h"
#include "platform/qt/SpinEdit.h"
#include "tray/TrayIcon.h"

namespace tarnwick {

namespace {

// "hh:nn" this many milliseconds from now.
std::string ClockIn(int ms) { return FormatTimeHMS(Now() + ms / 86400000.0).substr(0, 5); }

}  // namespace

void Tfrm_Main::FormCreate() {
    SetExePaths(ExeFullPath());
    UpdateQuitPanel();
}

void Tfrm_Main::tim_StartAtOnceTimer() {
    tim_StartAtOnce.SetEnabled(false);
    UpdateQuitPanel();
    if (!LoadSettings()) return;
    GoToTray();
    // IMAP is watched from the start; POP3 is first asked after the interval.
    if (Settings.Servers.Protocol == TReceiveProtocol::Imap && hooks_.Watch) ForwardNewMail(Settings);
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

TSettings Tfrm_Main::SettingsFromFields() const {
    // What the window does not show (CAFile, values it refused) comes as it was read.
    TSettings settings = loaded_;
    TServerSettings& s = settings.Servers;
    s.Pop3User = FromQString(edt_POP3User->text());
    s.Pop3Pass = FromQString(edt_POP3Pass->text());
    s.Pop3Server = FromQString(edt_POP3Server->text());
    s.SmtpUser = FromQString(edt_SMTPUser->text());
    s.SmtpPass = FromQString(edt_SMTPPass->text());
    s.SmtpServer = FromQString(edt_SMTPServer->text());
    s.EnvelopeFrom = FromQString(edt_EnvelopeFrom->text());
    s.SkipExisting = chk_SkipExisting->isChecked();
    s.Protocol = static_cast<TReceiveProtocol>(std::max(0, cmb_POP3Protocol->currentIndex()));
    const std::string folder = Trim(FromQString(edt_ImapFolder->text()));
    s.ImapFolder = folder.empty() ? "INBOX" : folder;
    settings.MailUser = FromQString(edt_Adress->text());
    settings.MailDomain = FromQString(cmb_Adress->currentText());
    settings.IntervalMinutes = edt_WatchInterval->Value();
    if (logWindowSize_.isValid()) {
        settings.LogWindowWidth = logWindowSize_.width();
        settings.LogWindowHeight = logWindowSize_.height();
    }
    for (TServerKind kind : kServerKinds) {
        const TAccessBoxes boxes = AccessBoxes(kind);
        s.Access(kind).Security = static_cast<TSecurity>(boxes.Security->currentIndex());
        TOAuthSettings& auth = s.Access(kind).Auth;
        auth.Method = static_cast<TAuthMethod>(std::max(0, boxes.Auth->currentIndex()));
        auth.ClientId = FromQString(boxes.ClientId->text());
        // An emptied tenant is the one every account may use.
        auth.Tenant = boxes.Tenant->text().isEmpty() ? "common" : FromQString(boxes.Tenant->text());
        auth.AuthorizationUrl = FromQString(boxes.AuthUrl->text());
        auth.TokenUrl = FromQString(boxes.TokenUrl->text());
        auth.DeviceUrl = FromQString(boxes.DeviceUrl->text());
        auth.Scopes = FromQString(boxes.Scopes->text());
    }
    settings.KeyringSecrets = chk_KeyringSecrets->isChecked();
    return settings;
}

void Tfrm_Main::StartWatching() {
    if (Trim(FromQString(edt_WatchInterval->text())).empty()) edt_WatchInterval->setText(QStringLiteral("10"));
    // A typed value the box has not corrected yet (0, 999) would give a timer that never fires or
    // one of many hours; watch with the value the box would correct it to.
    const int typed = edt_WatchInterval->Value();
    const int minutes = edt_WatchInterval->CheckValue(typed);
    if (minutes != typed) edt_WatchInterval->SetValue(minutes);
    Settings = SettingsFromFields();
    tim_Watchinterval.SetInterval(minutes * 60000);
    tim_Watchinterval.SetEnabled(true);
    watch_.NextCheck = ClockIn(tim_Watchinterval.Interval());
    UpdateStatusLine();
    Trace("watch on");
}

void Tfrm_Main::ShowSettingsWindow() {
    // A cycle already running finishes; no new one starts while the window is open.
    cycleWanted_ = false;
    StopWatch();
    tray_Main->SetVisible(false);
    background_ = TBackground::None;
    tim_TrayPoll.SetEnabled(false);
    tim_Watchinterval.SetEnabled(false);
    watch_.NextCheck.clear();
    UpdateStatusLine();
    UpdateQuitPanel();
    showNormal();
    raise();
    activateWindow();
    Trace("watch off");
}

bool Tfrm_Main::WorkerBusy() const { return worker_->Busy(); }

void Tfrm_Main::StopWatch() {
    if (!watching_.exchange(false)) return;
    if (hooks_.Wake) hooks_.Wake();
}

void Tfrm_Main::ForwardNewMail(const TSettings& settings) {
    if (worker_->Busy() && watching_) {
        // The watch runs a cycle at once.
        if (hooks_.Wake) hooks_.Wake();
        return;
    }
    if (worker_->Busy()) {
        // One cycle at a time: this one starts when the running one has ended.
        cycleWanted_ = true;
        return;
    }
    cycleWanted_ = false;
    // The interval counts from the end of the cycle.
    tim_Watchinterval.SetEnabled(false);
    watch_.NextCheck.clear();
    UpdateStatusLine();
    Trace("cycle");
    ShowStatus("メール確認中", failing_, "");
    auto report = std::make_shared<TCycleReport>();
    TSettings runWith = settings;
    // 今すぐ再送 applies to the one cycle that starts next.
    runWith.ResendRefused = std::exchange(ResendRequested, false);
    if (runWith.Servers.Protocol == TReceiveProtocol::Imap && hooks_.Watch && ending_ == TEnding::None) {
        // One job for the whole watch: the window hears of each cycle as it ends.
        watching_ = true;
        watch_.Idling = true;
        worker_->Start(
            [this, watch = hooks_.Watch, settings = std::move(runWith)] {
                watch(settings, [this] { return watching_.load(); }, [this](const TCycleReport& cycle) {
                    worker_->Post([this, cycle] { ShowCycleReport(cycle); });
                });
            },
            [this] {
                watching_ = false;
                watch_.Idling = false;
                AfterCycle();
            });
        UpdateTestButton();
        return;
    }
    // Copies: edits made in the window meanwhile apply from the next cycle.
    worker_->Start(
        [run = hooks_.Run, settings = std::move(runWith), report] {
            try {
                if (run) *report = run(settings);
            } catch (const std::exception& e) {
                report->End = TCycleReport::TEnd::Error;
                report->Error = e.what();
            }
        },
        [this, report] { CycleFinished(*report); });
    UpdateTestButton();
}

void Tfrm_Main::CycleFinished(const TCycleReport& report) {
    ShowCycleReport(report);
    AfterCycle();
}

void Tfrm_Main::ShowCycleReport(const TCycleReport& report) {
    Trace("finished cycle");
    const TCycleStatus status = StatusOf(report, FormatTimeHMS(Now()).substr(0, 5));
    // Nothing is watched while the settings are incomplete: the tip must not say it is.
    ShowStatus(status.Tip, status.Failing, status.Notice,
               report.End == TCycleReport::TEnd::Incomplete ? "設定が不完全です" : "メール監視中");
    if (report.End == TCycleReport::TEnd::Done) {
        watch_.LastCheck = FormatTimeHMS(Now()).substr(0, 5);
        if (report.Forwarded > 0) {
            watch_.LastForward = watch_.LastCheck;
            watch_.LastForwardCount = report.Forwarded;
        }
    }
    UpdateStatusLine();
    if (report.End == TCycleReport::TEnd::Error) {
        AddLog(detail::OneLine(report.Error));
        if (ending_ != TEnding::None) {
            // The user asked to end: the error is shown, and the program still ends.
            if (ending_ != TEnding::Aborting) ShowErrorBox(report.Error);
        } else if (background_ == TBackground::None) {
            ShowErrorBox(report.Error);
        }
    }
}

void Tfrm_Main::AfterCycle() {
    UpdateTestButton();

    switch (ending_) {
    case TEnding::Waiting:
        StartLastCycle();
        return;
    case TEnding::Last:
    case TEnding::Aborting:
        FinishEnd();
        return;
    case TEnding::None:
        break;
    }
    // The window open stops new cycles; closing it asks for one again.
    if (cycleWanted_ && background_ != TBackground::None) {
        ForwardNewMail(Settings);
        return;
    }
    cycleWanted_ = false;
    tim_Watchinterval.SetEnabled(background_ != TBackground::None);
    if (tim_Watchinterval.Enabled()) watch_.NextCheck = ClockIn(tim_Watchinterval.Interval());
    UpdateStatusLine();
}

void Tfrm_Main::tim_WatchintervalTimer() {
    tim_Watchinterval.SetEnabled(false);
    if (ending_ != TEnding::None || background_ == TBackground::None) return;
    ForwardNewMail(Settings);
}

void Tfrm_Main::StartLastCycle() {
    ending_ = TEnding::Last;
    ForwardNewMail(Settings);
}

void Tfrm_Main::FinishEnd() {
    if (ended_) return;
    ended_ = true;
    tim_Watchinterval.SetEnabled(false);
    tim_TrayPoll.SetEnabled(false);
    try {
        tray_Main->SetVisible(false);
    } catch (const std::exception&) {
    }
    hide();
    Trace("end");
    QCoreApplication::quit();
}

void Tfrm_Main::FormClose(TCloseAction& action) {
    action = TCloseAction::caNone;
    if (ending_ != TEnding::None) {
        // 終了 once more while waiting: close the connections; the cycle ends at once, and with
        // it the program. The message in flight is not recorded and goes again next time.
        if (ending_ != TEnding::Aborting) {
            ending_ = TEnding::Aborting;
            AddLog("転送を中断して終了します");
            if (hooks_.Abort) hooks_.Abort();
        }
        return;
    }
    if (tray_Main->Visible() || endRequested_) {
        endRequested_ = false;
        // Ending: no timer-driven cycle may start from now on, not even inside the boxes below.
        ending_ = TEnding::Waiting;
        tim_Watchinterval.SetEnabled(false);
        tim_TrayPoll.SetEnabled(false);
        cycleWanted_ = false;
        try {
            SaveSettings();
            if (createdThisRun_ && background_ != TBackground::Window && NotifyShell().TrayAvailable()) {
                ShowMessageBox(QMessageBox::Information, "情報", "次回起動時よりタスクアイコン表示となります");
            }
        } catch (const std::exception& e) {
            AddLog(detail::OneLine(e.what()));
            ShowErrorBox(e.what());
        }
        if (ending_ != TEnding::Waiting) return;
        if (worker_->Busy() && watching_) {
            // The watch was just looking: no last cycle; the one in flight, if any, ends first.
            ending_ = TEnding::Last;
            StopWatch();
            ShowStatus("終了待ち", failing_, "");
        } else if (worker_->Busy()) {
            AddLog("転送の終了を待っています（もう一度「終了」を選ぶと中断します）");
            ShowStatus("終了待ち", failing_, "");
        } else {
            StartLastCycle();
        }
        return;
    }
    if (CloseHeldForFields()) return;
    // Closed with new values: they are kept even if the session ends before 終了.
    SaveChangedSettings();
    GoToTray();
    ForwardNewMail(Settings);
}

void Tfrm_Main::EndNow() {
    if (ended_) return;
    SaveChangedSettings();
    tim_Watchinterval.SetEnabled(false);
    tim_TrayPoll.SetEnabled(false);
    cycleWanted_ = false;
    if (worker_->Busy()) {
        // The cycle ends at once; FinishEnd follows when it has.
        if (ending_ != TEnding::Aborting) {
            ending_ = TEnding::Aborting;
            AddLog("転送を中断して終了します");
            if (hooks_.Abort) hooks_.Abort();
        }
        return;
    }
    ending_ = TEnding::Aborting;
    FinishEnd();
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
    // The program ends when its last cycle has (FinishEnd).
    event->ignore();
}

void Tfrm_Main::btn_TestClick() {
    if (worker_->Busy() || ending_ != TEnding::None) return;
    if (TestRefusedForFields()) return;
    const TServerSettings settings = SettingsFromFields().Servers;
    lbl_TestResult->setText(ToQString("テスト中…"));
    lbl_TestResult->setToolTip(QString());
    auto report = std::make_shared<TConnectionReport>();
    worker_->Start(
        [test = hooks_.Test, settings, report] {
            try {
                if (test) *report = test(settings);
            } catch (const std::exception& e) {
                report->Summary = e.what();
            }
        },
        [this, report] {
            const QString summary = ToQString(detail::OneLine(report->Summary));
            // Two lines at most, the breaks at word ends losing some of the second.
            const QFontMetrics metrics = lbl_TestResult->fontMetrics();
            lbl_TestResult->setText(metrics.elidedText(summary, Qt::ElideRight,
                                                       2 * lbl_TestResult->width() - 6 * metrics.averageCharWidth()));
            lbl_TestResult->setToolTip(summary);
            UpdateTestButton();
            if (ending_ == TEnding::Waiting) {
                StartLastCycle();
            } else if (ending_ == TEnding::Aborting) {
                FinishEnd();
            } else if (cycleWanted_ && background_ != TBackground::None) {
                ForwardNewMail(Settings);
            }
        });
    UpdateTestButton();
}

void Tfrm_Main::UpdateTestButton() {
    btn_Test->setEnabled(!worker_->Busy() && ending_ == TEnding::None);
    btn_SendTest->setEnabled(btn_Test->isEnabled());
}

void Tfrm_Main::UpdateStatusLine() {
    watch_.Watching = background_ != TBackground::None;
    lbl_Status->setText(ToQString(StatusLineText(watch_)));
}

void Tfrm_Main::ShowStatus(const std::string& status, bool failing, const std::string& notice,
                           const std::string& heading) {
    tray_Main->SetTipHelp(heading + "\n" + status);
    if (failing == failing_) return;
    failing_ = failing;
    tray_Main->SetIcon(failing ? MakeWarningIcon() : windowIcon());
    // Once when things go wrong and once when they work again: never one per interval.
    if (!notice.empty() && tray_Main->Added())
        tray_Main->ShowBalloon("Tarnwick", notice, failing ? TBalloonKind::Error : TBalloonKind::Information);
}

void Tfrm_Main::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // In the window fallback, bringing the window back up is what a click on the tray icon would be.
    if (event->type() == QEvent::WindowStateChange && background_ == TBackground::Window && isVisible() &&
        !isMinimized())
        Guarded([this] { ShowSettingsWindow(); });
}

void Tfrm_Main::mi_SettingClick() { ShowSettingsWindow(); }

void Tfrm_Main::mi_CheckNowClick() {
    // The open window pauses watching; closing it runs a cycle anyway.
    if (ending_ != TEnding::None || background_ == TBackground::None) return;
    ForwardNewMail(Settings);
}

void Tfrm_Main::mi_ShowLogClick() {
    ShowSettingsWindow();
    if (pnl_Log->isHidden()) btn_ViewLogClick();
}

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
        FitToPanels();
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
    const std::string line = detail::OneLine(text);
    AddLog(line);
    if (background_ == TBackground::None) {
        ShowErrorBox(text);
    } else if (background_ == TBackground::Tray) {
        // In the background a box would pile up; the balloon passes by itself.
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
