#pragma once
// The program's one window: the settings form with its activity log, and the controller that moves
// the program between the settings window and the tray.
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/settings/Settings.h"
#include "app/cycle/Cycle.h"
#include "app/signin/SignIn.h"
#include "app/window/StatusLine.h"
#include "platform/qt/Timer.h"

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QVBoxLayout;

namespace tarnwick {

class TCycleWorker;
class Tdlg_Advanced;
class TOAuthSignIn;
class TSignInState;
class TEdit;
class TSpinEdit;
class TTrayIcon;

enum class TCloseAction { caNone, caHide, caFree, caMinimize };

class Tfrm_Main : public QWidget {
public:
    // What the window runs on its worker thread. Run is one forwarding cycle and raises
    // tarnwick::Exception (or any std::exception) when an error leaves it; Test is the connection
    // test; Abort, called from the GUI thread, closes the connections of whichever is running.
    struct TCycleHooks {
        std::function<TCycleReport(const TSettings& settings)> Run;
        std::function<TConnectionReport(const TServerSettings& settings)> Test;
        // テスト送信: one short message to the forwarding address.
        std::function<TConnectionReport(const TSettings& settings)> SendTest;
        std::function<void()> Abort;
        // IMAP: the watch, cycle after cycle, until keepGoing says no; each cycle's report goes to
        // each (on the worker thread). Wake, from the GUI thread, ends its wait for news.
        using TEach = std::function<void(const TCycleReport& report)>;
        std::function<void(const TSettings& settings, const std::function<bool()>& keepGoing, const TEach& each)> Watch;
        std::function<void()> Wake;
    };
    // Makes the hooks, given a log that may be written from any thread. Without a factory the
    // window runs the real forwarding cycle.
    using TCycleFactory = std::function<TCycleHooks(TForwardingCycle::TAddLog addLog)>;

    explicit Tfrm_Main(TCycleFactory makeCycle = nullptr);
    ~Tfrm_Main() override;

    // Controls, top to bottom: the two server groups side by side, the forwarding address and
    // interval, the tests, the start and keyring boxes, the status line, the log.
    QWidget* pnl_Servers;
    QWidget* pnl_POP;
    QWidget* pnl_SMTP;
    QWidget* pnl_Setting;
    QWidget* pnl_Log;
    QWidget* pnl_Autostart;
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
    QLabel* Label11;
    QLabel* Label12;
    QLabel* Label13;
    QLabel* Label14;
    // The mail address that 自動設定 looks the servers up for.
    TEdit* edt_MailAddress;
    QPushButton* btn_LookUp;
    TEdit* edt_POP3Server;
    // "なし", "STARTTLS", "SSL/TLS", in the order of TSecurity.
    QComboBox* cmb_POP3Security;
    QComboBox* cmb_POP3Protocol = nullptr;  // 受信方式 (ProtocolChoice.cpp)
    // The IMAP folder read; its row shows only with IMAP.
    TEdit* edt_ImapFolder = nullptr;
    TEdit* edt_POP3User;
    TEdit* edt_POP3Pass;
    TEdit* edt_SMTPServer;
    QComboBox* cmb_SMTPSecurity;
    TEdit* edt_SMTPUser;
    TEdit* edt_SMTPPass;
    // The envelope sender; empty keeps each message's own sender.
    TEdit* edt_EnvelopeFrom;
    TEdit* edt_Adress;
    QComboBox* cmb_Adress;
    TSpinEdit* edt_WatchInterval;
    QPushButton* btn_ViewLog;
    QWidget* pnl_Check;
    QCheckBox* chk_SkipExisting;
    QPushButton* btn_Test;
    QPushButton* btn_SendTest;
    // Two lines, word-wrapped.
    QLabel* lbl_TestResult;
    // Whether the session starts the program (an entry in the user's autostart folder).
    QCheckBox* chk_Autostart;
    // Opens the 詳細設定 dialog.
    QPushButton* btn_Advanced;
    // 認証方式 per server, its サインイン button (キャンセル while a sign-in waits), and where
    // passwords and tokens are kept.
    QComboBox* cmb_POP3Auth;
    QComboBox* cmb_SMTPAuth;
    QPushButton* btn_POP3SignIn;
    QPushButton* btn_SMTPSignIn;
    // A server's sign-in settings, in rows under its 認証方式 that show for the OAuth methods
    // only: the client ID always, the tenant for Microsoft, the URLs and scopes for その他.
    TEdit* edt_POP3ClientId;
    TEdit* edt_POP3Tenant;
    TEdit* edt_POP3AuthUrl;
    TEdit* edt_POP3TokenUrl;
    TEdit* edt_POP3DeviceUrl;
    TEdit* edt_POP3Scopes;
    TEdit* edt_SMTPClientId;
    TEdit* edt_SMTPTenant;
    TEdit* edt_SMTPAuthUrl;
    TEdit* edt_SMTPTokenUrl;
    TEdit* edt_SMTPDeviceUrl;
    TEdit* edt_SMTPScopes;
    QCheckBox* chk_KeyringSecrets;
    // The status line: when the next and the last check are, or that watching waits for the window.
    QWidget* pnl_Status;
    QLabel* lbl_Status;
    QPushButton* btn_Quit;
    QListWidget* lsb_Log;
    QMenu* pop_Tary;
    QAction* mi_Setting;
    QAction* mi_CheckNow;
    QAction* mi_ShowLog;
    QAction* mi_Close;
    std::unique_ptr<TTrayIcon> tray_Main;
    TTimer tim_Watchinterval{false, 10000};
    TTimer tim_StartAtOnce{true, 500};

    // What watching runs with, taken from the fields when watching starts.
    TSettings Settings;
    // Set by 今すぐ再送: the next cycle offers every refused message at once.
    bool ResendRequested = false;

    // Appends "hh:nn:ss text" to the log (and to standard output, for whoever watches the program).
    void AddLog(const std::string& text);
    // The log keeps this many lines, the newest.
    static constexpr int MaxLogLines = 1000;

    bool LoadSettings();
    bool SaveSettings();
    // Writes the fields when they differ from what was last read or written (a logout, a window
    // closed with new values); an error is logged. Whether the file was written.
    bool SaveChangedSettings();
    // A logout or SIGTERM/SIGHUP: what was typed is kept, and the program ends without a last
    // cycle (one in flight is cut off and goes again next time).
    void EndNow();
    std::string SettingsPath() const;

    // The settings as they stand in the fields.
    TSettings SettingsFromFields() const;
    // The controls of a server's 暗号化, password and 認証方式 with its sign-in settings.
    struct TAccessBoxes {
        QComboBox* Security;
        QComboBox* Auth;
        TEdit* Pass;
        TEdit* ClientId;
        TEdit* Tenant;
        TEdit* AuthUrl;
        TEdit* TokenUrl;
        TEdit* DeviceUrl;
        TEdit* Scopes;
    };
    TAccessBoxes AccessBoxes(TServerKind kind) const;
    // The rows of a server group, top to bottom, and the 認証方式 each shows for (all when empty).
    struct TGroupRow {
        QWidget* Row;
        std::vector<TAuthMethod> Methods;
        bool ImapOnly = false;
    };
    void GoToTray();
    void StartWatching();
    void ShowSettingsWindow();
    // Starts a cycle with a copy of these settings on the worker thread; while one runs, the new
    // one is started when it ends.
    void ForwardNewMail(const TSettings& settings);

    void FormCreate();
    void FormClose(TCloseAction& action);
    void tim_StartAtOnceTimer();
    void tim_WatchintervalTimer();
    void mi_SettingClick();
    void tray_MainClick();
    void mi_CloseClick();
    // A cycle now, without waiting for the interval (while watching).
    void mi_CheckNowClick();
    // The window with its log.
    void mi_ShowLogClick();
    void btn_ViewLogClick();
    void btn_TestClick();
    // Sends the test message with the fields as typed, on the worker thread as the test runs.
    void btn_SendTestClick();
    // Starts the browser sign-in of one server, or cancels the one that waits.
    void btn_SignInClick(bool smtp);
    // 自動設定: fills both servers in from the mail address, on a thread of the lookup's own.
    void btn_LookUpClick();
    // What 自動設定 asks (a test points BaseUrl at its own server).
    TProviderLookup ProviderLookup;
    void SignInFinished(bool smtp, bool ok, const TOAuthTokens& tokens, const std::string& reason);
    void UpdateSignInButtons();
    TSignInState& SignInState();
    void chk_AutostartClick();
    void btn_AdvancedClick();
    // Runs the dialog instead of its modal loop, for tests: returns its result.
    std::function<int(Tdlg_Advanced& dialog)> AdvancedDialogHook;

    // The window's size while the log shows, as the user last left it; invalid before that. The
    // window opens the log at this size (never below the first one).
    QSize LogWindowSize() const { return logWindowSize_; }
    void SetLogWindowSize(QSize size);
    void edt_POP3ServerExit();
    void edt_POP3UserExit();
    void edt_POP3PassExit();

    // Where the program is when the window is not on screen.
    enum class TBackground { None, Tray, Window };
    TBackground Background() const { return background_; }
    // Whether the program has ended (the close was accepted).
    bool Ended() const { return ended_; }
    // Whether a cycle or a connection test runs on the worker thread.
    bool WorkerBusy() const;
    // After 終了: waiting for the running cycle, running the last one, or cutting it off.
    enum class TEnding { None, Waiting, Last, Aborting };
    TEnding Ending() const { return ending_; }
    // Whether the last cycle failed (the icon then shows its warning variant).
    bool Failing() const { return failing_; }
    // How often, in the window fallback, to look whether a notification area has appeared.
    static constexpr int TrayPollInterval = 2000;
    // Replaces the modal message boxes (caption, text), for tests.
    std::function<void(const std::string& caption, const std::string& text)> MessageBoxHook;
    // Opens a sign-in page; without it, the desktop's browser (tests stand in for the browser).
    std::function<void(const std::string& url)> OpenBrowser;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void CreateControls();
    // The log list, the one panel that grows with the window.
    void CreateLogPanel(QVBoxLayout* stack);
    // Tab order, handlers.
    void ConnectControls();
    void CreateProtocolChoice();
    // The POP3 and SMTP groups, side by side in pnl_Servers.
    void CreateServerGroups(QVBoxLayout* stack);
    // Shows the rows of each group that its 認証方式 has, and sizes the groups to them.
    void LayOutServerGroups();
    // Examples in the empty fields and a short word on each control, for a first set-up.
    void DescribeFields();
    void CreateTray();
    // Runs a handler the way the message loop would: an error that leaves it is reported.
    void Guarded(const std::function<void()>& handler);
    void ReportError(const std::string& text);
    void ShowErrorBox(const std::string& text);
    void ShowMessageBox(int icon, const std::string& caption, const std::string& text);
    void CycleFinished(const TCycleReport& report);
    void ShowCycleReport(const TCycleReport& report);
    // After a cycle or the IMAP watch: the end the user asked for, or the next cycle.
    void AfterCycle();
    // Ends the IMAP watch after the cycle in flight; its wait ends at once.
    void StopWatch();
    void StartLastCycle();
    void FinishEnd();
    // Tip and icon for the state of things; a notification when working turns to failing or back.
    void ShowStatus(const std::string& status, bool failing, const std::string& notice,
                    const std::string& heading = "メール監視中");
    void UpdateTestButton();
    // Shows watch_ in the status line; whether watching runs comes from where the program is.
    void UpdateStatusLine();
    // A whole line in UTF-8, to the list and to standard output.
    void AppendUtf8LogLine(const std::string& line);
    void UpdateQuitPanel();
    // Fixed at the panels' size while the log is hidden; resizable, the log growing, while it shows.
    void FitToPanels();
    QSize PanelsSize() const;
    // The part of the window's screen that windows may take.
    QRect ScreenRoom() const;
    std::vector<TGroupRow> pop3Rows_, smtpRows_;
    void TrayPoll();
    static void Trace(const char* what);

    // The fields with a form (FieldMarks.cpp): the value's edit and the control framed when bad.
    struct TCheckedField {
        TField Field;
        QLineEdit* Edit;
        QWidget* Marked;
    };
    std::vector<TCheckedField> CheckedFields() const;
    void SetUpFieldChecks();
    // Marks the field (folded first when fold) and returns its problem; empty when it is good.
    std::string CheckField(const TCheckedField& field, bool fold);
    // Folds and marks every field; the first problem (its field gets the focus), or empty.
    std::string FirstBadField();
    // With a bad field, 接続テスト names it instead of starting.
    bool TestRefusedForFields();
    // With a bad field, closing names it once and the window stays.
    bool CloseHeldForFields();
    std::string closeWarned_;

    TCycleHooks hooks_;
    // The settings as last read: what the window does not show (CAFile, refused values) is kept
    // from here.
    TSettings loaded_;
    // The fields as last read or written; new values are what differs from it.
    TSettings saved_;
    // The file did not exist before this run wrote it: 終了 still tells that the next start goes
    // to the tray.
    bool createdThisRun_ = false;
    std::unique_ptr<TForwardingCycle> forwardingCycle_;
    std::shared_ptr<TSignInState> signIn_;
    std::unique_ptr<TOAuthSignIn> signing_;
    bool signingSmtp_ = false;
    // The running or last 自動設定; going, it stops the lookup and waits for it.
    std::unique_ptr<TProviderLookupTask> lookUp_;
    void LookUpFinished(const std::optional<TProviderFill>& fill);
    std::unique_ptr<TCycleWorker> worker_;
    bool cycleWanted_ = false;
    // The IMAP watch runs on the worker thread (it reads this between cycles).
    std::atomic<bool> watching_{false};
    TEnding ending_ = TEnding::None;
    bool failing_ = false;
    TTimer tim_TrayPoll{false, TrayPollInterval};
    TBackground background_ = TBackground::None;
    bool endRequested_ = false;
    bool closing_ = false;
    bool ended_ = false;
    TWatchState watch_;
    QSize logWindowSize_;
    bool fitting_ = false;
    // What the SMTP user and password fields last got from the POP3 ones.
    QString copiedUser_, copiedPass_;
    void FollowPop3(QLineEdit* pop3, QLineEdit* smtp, QString& copied);
};

}  // namespace tarnwick
