#pragma once
// The program's one window: the settings form with its activity log, and the controller that moves
// the program between the settings window and the tray.
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "app/ForwardingCycle.h"
#include "app/ServerSettings.h"
#include "platform/qt/Timer.h"

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QMenu;
class QPushButton;

namespace tarnwick {

class TEdit;
class TSpinEdit;
class TTrayIcon;

enum class TCloseAction { caNone, caHide, caFree, caMinimize };

class Tfrm_Main : public QWidget {
public:
    // One forwarding cycle; raises tarnwick::Exception (or any std::exception) when an error leaves it.
    using TCycle = std::function<void(const TServerSettings& settings, const std::string& forwardAddress)>;
    // Makes the cycle, given the window's log. Without one the window runs the real forwarding cycle.
    using TCycleFactory = std::function<TCycle(TForwardingCycle::TAddLog addLog)>;

    explicit Tfrm_Main(TCycleFactory makeCycle = nullptr);
    ~Tfrm_Main() override;

    // Controls.
    QWidget* pnl_POP;
    QWidget* pnl_SMTP;
    QWidget* pnl_Setting;
    QWidget* pnl_Log;
    // Shown only where there is no notification area: the one way to end the program then.
    QWidget* pnl_Quit;
    QGroupBox* GroupBox1;
    QGroupBox* GroupBox2;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;
    QLabel* Label7;
    QLabel* Label8;
    QLabel* Label9;
    QLabel* Label10;
    TEdit* edt_POP3Server;
    TEdit* edt_POP3User;
    TEdit* edt_POP3Pass;
    TEdit* edt_SMTPServer;
    TEdit* edt_SMTPUser;
    TEdit* edt_SMTPPass;
    TEdit* edt_Adress;
    QComboBox* cmb_Adress;
    TSpinEdit* edt_WatchInterval;
    QPushButton* btn_ViewLog;
    QPushButton* btn_Quit;
    QListWidget* lsb_Log;
    QMenu* pop_Tary;
    QAction* mi_Setting;
    QAction* mi_Close;
    std::unique_ptr<TTrayIcon> tray_Main;
    TTimer tim_Watchinterval{false, 10000};
    TTimer tim_StartAtOnce{true, 500};

    TServerSettings ServerSettings;
    std::string ForwardAddress;

    // Appends "hh:nn:ss text" to the log (and to standard output, for whoever watches the program).
    void AddLog(const std::string& text);

    bool LoadSettings();
    bool SaveSettings();
    std::string SettingsPath() const;

    void GoToTray();
    void StartWatching();
    void ShowSettingsWindow();
    void ForwardNewMail(const TServerSettings& settings, const std::string& forwardAddress);

    void FormCreate();
    void FormClose(TCloseAction& action);
    void tim_StartAtOnceTimer();
    void tim_WatchintervalTimer();
    void mi_SettingClick();
    void tray_MainClick();
    void mi_CloseClick();
    void btn_ViewLogClick();
    void edt_POP3ServerExit();
    void edt_POP3UserExit();
    void edt_POP3PassExit();

    // Where the program is when the window is not on screen.
    enum class TBackground { None, Tray, Window };
    TBackground Background() const { return background_; }
    // Whether the program has ended (the close was accepted).
    bool Ended() const { return ended_; }
    // How often, in the window fallback, to look whether a notification area has appeared.
    static constexpr int TrayPollInterval = 2000;
    // Replaces the modal message boxes (caption, text), for tests.
    std::function<void(const std::string& caption, const std::string& text)> MessageBoxHook;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void CreateControls();
    void CreateTray();
    // Runs a handler the way the message loop would: an error that leaves it is reported.
    void Guarded(const std::function<void()>& handler);
    void ReportError(const std::string& text);
    void ShowErrorBox(const std::string& text);
    void ShowMessageBox(int icon, const std::string& caption, const std::string& text);
    void UpdateQuitPanel();
    void TrayPoll();
    static void Trace(const char* what);

    TCycle cycle_;
    std::unique_ptr<TForwardingCycle> forwardingCycle_;
    TTimer tim_TrayPoll{false, TrayPollInterval};
    TBackground background_ = TBackground::None;
    bool endRequested_ = false;
    bool closing_ = false;
    bool ended_ = false;
};

}  // namespace tarnwick
