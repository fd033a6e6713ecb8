// The window's controls, their layout and their own handlers, and the activity log.
#include "app/window/MainForm.h"
#include "app/signin/SignIn.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFont>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QResizeEvent>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "app/window/AdvancedDialog.h"
#include "app/window/AppIcon.h"
#include "app/window/CycleWorker.h"
#include "app/settings/Settings.h"
#include "app/window/Autostart.h"
#include "message/ShownText.h"
#include "platform/DateTime.h"
#include "platform/Locale.h"
#include "platform/qt/Edit.h"
#include "platform/qt/QtText.h"
#include "platform/qt/SpinEdit.h"
#include "tray/TrayIcon.h"

namespace tarnwick {

namespace {

constexpr int ClientWidth = 360;
// Passwords show one "*" per character.
const QString PasswordStyle = QStringLiteral("QLineEdit { lineedit-password-character: 42; }");

// The carriers' mail domains offered for the forwarding address, in a fixed order.
// Domains the carriers have retired are not offered; a stored file that names one keeps it.
constexpr const char* MobileDomains[] = {
    "docomo.ne.jp",   "ezweb.ne.jp", "au.com",      "softbank.ne.jp", "i.softbank.jp",
    "ymobile.ne.jp",  "y-mobile.ne.jp", "rakuten.jp", "rakumail.jp",  "uqmobile.jp",
};

// Rows of the log list have one height, a little more than the font's, so lines do not touch.
class TFixedHeightDelegate : public QStyledItemDelegate {
public:
    TFixedHeightDelegate(int height, QObject* parent) : QStyledItemDelegate(parent), height_(height) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return QSize(QStyledItemDelegate::sizeHint(option, index).width(), height_);
    }

private:
    int height_;
};

QLabel* MakeLabel(QWidget* parent, const char* text, int left, int top) {
    auto* label = new QLabel(ToQString(text), parent);
    // The layout was made for a narrower Japanese face; a pixel less between characters keeps the
    // longest captions clear of the fields beside them.
    QFont font = label->font();
    font.setLetterSpacing(QFont::AbsoluteSpacing, -1);
    label->setFont(font);
    label->move(left, top);
    label->adjustSize();
    return label;
}

template <typename T>
T* Place(T* control, int left, int top, int width, int height) {
    control->setGeometry(left, top, width, height);
    return control;
}

// The "暗号化" choice; its items are in the order of TSecurity.
QComboBox* MakeSecurityBox(QWidget* parent) {
    auto* box = new QComboBox(parent);
    for (const char* name : {"なし", "STARTTLS", "SSL/TLS"}) box->addItem(ToQString(name));
    return box;
}

// The 認証方式 choices, in the order of TAuthMethod.
QComboBox* MakeAuthBox(QWidget* parent) {
    auto* box = new QComboBox(parent);
    for (const char* item : {"パスワード", "OAuth2 Microsoft", "OAuth2 Google", "OAuth2 その他"}) box->addItem(ToQString(item));
    return box;
}

QWidget* MakePanel(QWidget* parent, QVBoxLayout* stack, int height) {
    auto* panel = new QWidget(parent);
    panel->setFixedSize(ClientWidth, height);
    stack->addWidget(panel);
    return panel;
}

}  // namespace

Tfrm_Main::Tfrm_Main(TCycleFactory makeCycle)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint) {
    setWindowTitle(ToQString("Tarnwick Ver1.01"));
    QFont font(QStringLiteral("Noto Sans CJK JP"));
    font.setPixelSize(12);
    setFont(font);
    setWindowIcon(MakeAppIcon());
    move(336, 173);
    CreateControls();
    DescribeFields();
    CreateTray();

    worker_ = std::make_unique<TCycleWorker>();
    // Called on the worker thread: stamped when it happens, shown in order on the GUI thread.
    TForwardingCycle::TAddLog addLog = [this, worker = worker_.get()](const std::string& utf8) {
        std::string line = Cp932ToUtf8(FormatTimeHMS(Now()) + " ") + utf8;
        worker->Post([this, line = std::move(line)] { AppendUtf8LogLine(line); });
    };
    if (makeCycle) {
        hooks_ = makeCycle(addLog);
    } else {
        forwardingCycle_ = std::make_unique<TForwardingCycle>(addLog);
        hooks_.Run = [this](const TSettings& settings) { return forwardingCycle_->ForwardNewMail(settings); };
        hooks_.Test = [this](const TServerSettings& settings) { return forwardingCycle_->TestConnection(settings); };
        hooks_.Abort = [this] { forwardingCycle_->Abort(); };
        hooks_.Watch = [this](const TSettings& settings, const std::function<bool()>& keepGoing,
                              const TCycleHooks::TEach& each) {
            TImapWatch(*forwardingCycle_).Run(settings, keepGoing, each);
        };
        hooks_.Wake = [this] { forwardingCycle_->Wake(); };
    }

    tim_StartAtOnce.OnTimer = [this] { Guarded([this] { tim_StartAtOnceTimer(); }); };
    tim_Watchinterval.OnTimer = [this] { Guarded([this] { tim_WatchintervalTimer(); }); };
    tim_TrayPoll.OnTimer = [this] { Guarded([this] { TrayPoll(); }); };
    tim_StartAtOnce.Update();
    FormCreate();
}

Tfrm_Main::~Tfrm_Main() {
    // A cycle still running is cut off; the worker waits for it before the cycle object goes.
    if (worker_->Busy() && hooks_.Abort) hooks_.Abort();
    worker_.reset();
}

void Tfrm_Main::DescribeFields() {
    auto example = [](QLineEdit* edit, const char* text) { edit->setPlaceholderText(ToQString(text)); };
    auto tip = [](QWidget* widget, const char* text) { widget->setToolTip(ToQString(text)); };
    example(edt_POP3Server, "例: pop.example.jp または pop.example.jp:995");
    example(edt_POP3User, "例: taro@example.jp");
    example(edt_SMTPServer, "例: smtp.example.jp:587");
    example(edt_SMTPUser, "空ならPOP3のユーザ名");
    example(edt_EnvelopeFrom, "例: taro@example.jp(空なら元の差出人)");
    example(edt_Adress, "例: taro");
    tip(edt_POP3Server, "受信(POP3)サーバの名前。ポート番号が標準と違うときは「:番号」を付けます");
    tip(cmb_POP3Security, "SSL/TLS(ポート995)か STARTTLS(ポート110)か。プロバイダの案内のとおりに選びます");
    tip(edt_POP3User, "メールアカウントのユーザ名(多くはメールアドレス)");
    tip(edt_POP3Pass, "メールアカウントのパスワード");
    tip(cmb_POP3Auth, "パスワードか、OAuth2 のサインイン(Gmail、Outlook など)");
    tip(edt_SMTPServer, "送信(SMTP)サーバの名前。多くはポート587(STARTTLS)か465(SSL/TLS)");
    tip(cmb_SMTPSecurity, "SSL/TLS(ポート465)か STARTTLS(ポート587)か");
    tip(edt_SMTPUser, "送信の認証に使うユーザ名。空ならPOP3と同じ");
    tip(edt_SMTPPass, "送信の認証に使うパスワード。空ならPOP3と同じ");
    tip(cmb_SMTPAuth, "パスワードか、OAuth2 のサインイン");
    tip(edt_EnvelopeFrom, "転送メールの送信者(エンベロープ)。多くのプロバイダは自分のアドレスでないと受け付けません");
    tip(edt_Adress, "転送先アドレスの「@」より前");
    tip(cmb_Adress, "転送先の携帯電話のメールドメイン。一覧にないものは入力できます");
    tip(edt_WatchInterval, "新しいメールを確かめる間隔(1〜120分)");
}

void Tfrm_Main::CreateControls() {
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    // The window's size follows the panels that are visible (FitToPanels); only the log grows.
    stack->setSizeConstraint(QLayout::SetNoConstraint);

    // Group captions sit on the frame line, as on the desktop the window was laid out for.
    const QString groupStyle = QStringLiteral(
        "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 6px; }"
        "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 8px; padding: 0 2px; }");

    pnl_POP = MakePanel(this, stack, 144);
    GroupBox1 = Place(new QGroupBox(ToQString("POPサーバ設定"), pnl_POP), 16, 8, 321, 129);
    Label1 = MakeLabel(GroupBox1, "POP3サーバアドレス", 8, 24);
    Label11 = MakeLabel(GroupBox1, "暗号化", 8, 48);
    Label2 = MakeLabel(GroupBox1, "ユーザ名", 8, 72);
    Label3 = MakeLabel(GroupBox1, "パスワード", 8, 96);
    edt_POP3Server = Place(new TEdit(GroupBox1), 122, 20, 175, 20);
    cmb_POP3Security = Place(MakeSecurityBox(GroupBox1), 122, 44, 175, 20);
    edt_POP3User = Place(new TEdit(GroupBox1), 122, 68, 175, 20);
    edt_POP3Pass = Place(new TEdit(GroupBox1), 122, 92, 175, 20);
    edt_POP3Pass->setEchoMode(QLineEdit::Password);
    edt_POP3Pass->setStyleSheet(PasswordStyle);
    GroupBox1->setStyleSheet(groupStyle);

    pnl_SMTP = MakePanel(this, stack, 168);
    GroupBox2 = Place(new QGroupBox(ToQString("SMTPサーバ設定"), pnl_SMTP), 16, 4, 321, 153);
    Label4 = MakeLabel(GroupBox2, "SMTPサーバアドレス", 8, 24);
    Label12 = MakeLabel(GroupBox2, "暗号化", 8, 48);
    Label5 = MakeLabel(GroupBox2, "ユーザ名", 8, 72);
    Label6 = MakeLabel(GroupBox2, "パスワード", 8, 96);
    Label13 = MakeLabel(GroupBox2, "送信者アドレス", 8, 120);
    edt_SMTPServer = Place(new TEdit(GroupBox2), 122, 20, 175, 20);
    cmb_SMTPSecurity = Place(MakeSecurityBox(GroupBox2), 122, 44, 175, 20);
    edt_SMTPUser = Place(new TEdit(GroupBox2), 122, 68, 175, 20);
    edt_SMTPPass = Place(new TEdit(GroupBox2), 122, 92, 175, 20);
    edt_SMTPPass->setEchoMode(QLineEdit::Password);
    edt_SMTPPass->setStyleSheet(PasswordStyle);
    edt_EnvelopeFrom = Place(new TEdit(GroupBox2), 122, 116, 175, 20);
    GroupBox2->setStyleSheet(groupStyle);

    pnl_Setting = MakePanel(this, stack, 65);
    Label7 = MakeLabel(pnl_Setting, "転送先メールアドレス", 20, 4);
    edt_Adress = Place(new TEdit(pnl_Setting), 132, 0, 69, 20);
    Label10 = MakeLabel(pnl_Setting, "@", 204, 4);
    cmb_Adress = Place(new QComboBox(pnl_Setting), 215, 1, 122, 20);
    cmb_Adress->setEditable(true);
    // Typed domains stay typed; the list itself never changes.
    cmb_Adress->setInsertPolicy(QComboBox::NoInsert);
    for (const char* domain : MobileDomains) cmb_Adress->addItem(ToQString(domain));
    RestrictToCodePage932(cmb_Adress->lineEdit(), nullptr);
    cmb_Adress->setCurrentIndex(-1);
    cmb_Adress->setEditText(QString());
    Label8 = MakeLabel(pnl_Setting, "監視間隔", 20, 36);
    edt_WatchInterval = Place(new TSpinEdit(pnl_Setting), 68, 32, 65, 21);
    edt_WatchInterval->SetRange(1, 120);
    edt_WatchInterval->Increment = 1;
    edt_WatchInterval->setMaxLength(3);
    edt_WatchInterval->SetValue(10);
    Label9 = MakeLabel(pnl_Setting, "分ごとに監視・転送", 134, 36);
    btn_ViewLog = Place(new QPushButton(ToQString("ログを表示▼"), pnl_Setting), 248, 31, 89, 25);

    pnl_Check = MakePanel(this, stack, 52);
    chk_SkipExisting = Place(new QCheckBox(ToQString("サーバにある既存のメールは転送しない"), pnl_Check), 20, 2, 317, 20);
    btn_Test = Place(new QPushButton(ToQString("接続テスト"), pnl_Check), 20, 24, 89, 25);
    lbl_TestResult = Place(new QLabel(pnl_Check), 116, 28, 221, 17);
    pnl_Autostart = MakePanel(this, stack, 24);
    chk_Autostart = Place(new QCheckBox(ToQString("ログイン時に起動"), pnl_Autostart), 20, 0, 200, 20);
    chk_Autostart->setChecked(AutostartEnabled(AutostartFile(std::getenv)));
    btn_Advanced = Place(new QPushButton(ToQString("詳細設定..."), pnl_Autostart), 248, 0, 89, 22);

    pnl_Auth = MakePanel(this, stack, 76);
    MakeLabel(pnl_Auth, "POP3認証方式", 20, 4);
    MakeLabel(pnl_Auth, "SMTP認証方式", 20, 28);
    cmb_POP3Auth = Place(MakeAuthBox(pnl_Auth), 122, 0, 130, 20);
    cmb_SMTPAuth = Place(MakeAuthBox(pnl_Auth), 122, 24, 130, 20);
    btn_POP3SignIn = Place(new QPushButton(ToQString("サインイン"), pnl_Auth), 258, 0, 79, 21);
    btn_SMTPSignIn = Place(new QPushButton(ToQString("サインイン"), pnl_Auth), 258, 24, 79, 21);
    chk_KeyringSecrets = Place(new QCheckBox(ToQString("パスワードをキーリングに保存"), pnl_Auth), 20, 50, 317, 20);

    // The one panel that grows with the window; at its smallest the list is 337 x 89 at 8, 8.
    pnl_Log = new QWidget(this);
    pnl_Log->setMinimumSize(ClientWidth, 112);
    pnl_Log->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    stack->addWidget(pnl_Log, 1);
    auto* logLayout = new QVBoxLayout(pnl_Log);
    logLayout->setContentsMargins(8, 8, ClientWidth - 8 - 337, 112 - 8 - 89);
    lsb_Log = new QListWidget(pnl_Log);
    lsb_Log->setMinimumSize(337, 89);
    logLayout->addWidget(lsb_Log);
    lsb_Log->setUniformItemSizes(true);
    lsb_Log->setItemDelegate(new TFixedHeightDelegate(QFontMetrics(lsb_Log->font()).height() + 3, lsb_Log));
    lsb_Log->setSelectionMode(QAbstractItemView::ExtendedSelection);
    auto* copy = new QShortcut(QKeySequence::Copy, lsb_Log, nullptr, nullptr, Qt::WidgetShortcut);
    connect(copy, &QShortcut::activated, this, [this] {
        // The selected lines in the order they were written, whatever order they were picked in.
        QStringList lines;
        for (int i = 0; i < lsb_Log->count(); ++i)
            if (lsb_Log->item(i)->isSelected()) lines << lsb_Log->item(i)->text();
        if (!lines.isEmpty()) QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
    });
    pnl_Log->hide();

    pnl_Quit = MakePanel(this, stack, 33);
    btn_Quit = Place(new QPushButton(ToQString("終了"), pnl_Quit), 248, 4, 89, 25);
    pnl_Quit->hide();

    setTabOrder(edt_POP3Server, cmb_POP3Security);
    setTabOrder(cmb_POP3Security, edt_POP3User);
    setTabOrder(edt_POP3User, edt_POP3Pass);
    setTabOrder(edt_POP3Pass, edt_SMTPServer);
    setTabOrder(edt_SMTPServer, cmb_SMTPSecurity);
    setTabOrder(cmb_SMTPSecurity, edt_SMTPUser);
    setTabOrder(edt_SMTPUser, edt_SMTPPass);
    setTabOrder(edt_SMTPPass, edt_EnvelopeFrom);
    setTabOrder(edt_EnvelopeFrom, edt_Adress);
    setTabOrder(edt_Adress, edt_WatchInterval);
    setTabOrder(edt_WatchInterval, btn_ViewLog);
    setTabOrder(btn_ViewLog, cmb_Adress);
    setTabOrder(cmb_Adress, chk_SkipExisting);
    setTabOrder(chk_SkipExisting, btn_Test);
    setTabOrder(btn_Test, cmb_POP3Auth);
    setTabOrder(cmb_POP3Auth, btn_POP3SignIn);
    setTabOrder(btn_POP3SignIn, cmb_SMTPAuth);
    setTabOrder(cmb_SMTPAuth, btn_SMTPSignIn);
    setTabOrder(btn_SMTPSignIn, chk_KeyringSecrets);
    setTabOrder(chk_KeyringSecrets, lsb_Log);
    setTabOrder(lsb_Log, btn_Quit);
    edt_POP3Server->setFocus(Qt::OtherFocusReason);

    edt_POP3Server->OnExit = [this] { Guarded([this] { edt_POP3ServerExit(); }); };
    edt_POP3User->OnExit = [this] { Guarded([this] { edt_POP3UserExit(); }); };
    edt_POP3Pass->OnExit = [this] { Guarded([this] { edt_POP3PassExit(); }); };
    connect(btn_ViewLog, &QPushButton::clicked, this, [this] { Guarded([this] { btn_ViewLogClick(); }); });
    connect(btn_Test, &QPushButton::clicked, this, [this] { Guarded([this] { btn_TestClick(); }); });
    connect(btn_Advanced, &QPushButton::clicked, this, [this] { Guarded([this] { btn_AdvancedClick(); }); });
    connect(chk_Autostart, &QCheckBox::clicked, this, [this] { Guarded([this] { chk_AutostartClick(); }); });
    connect(btn_POP3SignIn, &QPushButton::clicked, this, [this] { Guarded([this] { btn_SignInClick(false); }); });
    connect(btn_SMTPSignIn, &QPushButton::clicked, this, [this] { Guarded([this] { btn_SignInClick(true); }); });
    connect(cmb_POP3Auth, &QComboBox::currentIndexChanged, this, [this] { UpdateSignInButtons(); });
    connect(cmb_SMTPAuth, &QComboBox::currentIndexChanged, this, [this] { UpdateSignInButtons(); });
    UpdateSignInButtons();
    connect(btn_Quit, &QPushButton::clicked, this, [this] {
        Guarded([this] {
            endRequested_ = true;
            mi_CloseClick();
        });
    });
    stack->activate();
    FitToPanels();
}

void Tfrm_Main::CreateTray() {
    pop_Tary = new QMenu(this);
    mi_Setting = pop_Tary->addAction(ToQString("設定"));
    mi_CheckNow = pop_Tary->addAction(ToQString("今すぐ確認"));
    mi_ShowLog = pop_Tary->addAction(ToQString("ログを表示"));
    pop_Tary->addSeparator();
    // 終了 stays last.
    mi_Close = pop_Tary->addAction(ToQString("終了"));
    connect(mi_Setting, &QAction::triggered, this, [this] { Guarded([this] { mi_SettingClick(); }); });
    connect(mi_CheckNow, &QAction::triggered, this, [this] { Guarded([this] { mi_CheckNowClick(); }); });
    connect(mi_ShowLog, &QAction::triggered, this, [this] { Guarded([this] { mi_ShowLogClick(); }); });
    connect(mi_Close, &QAction::triggered, this, [this] { Guarded([this] { mi_CloseClick(); }); });

    tray_Main = std::make_unique<TTrayIcon>(this);
    tray_Main->SetIcon(windowIcon());
    tray_Main->SetTipHelp("メール監視中");
    tray_Main->SetRBPopupMenu(pop_Tary);
    tray_Main->OnClick = [this](TTrayIcon&) { Guarded([this] { tray_MainClick(); }); };
}

void Tfrm_Main::AddLog(const std::string& text) { AppendUtf8LogLine(Cp932ToUtf8(FormatTimeHMS(Now()) + " " + text)); }

void Tfrm_Main::AppendUtf8LogLine(const std::string& text) {
    // Whatever came from outside in it shows as text: no control reaches the list or a terminal.
    const std::string line = ShownText(text, kMaxShownLine);
    // Follow the newest line unless the user scrolled up to read.
    const QScrollBar* bar = lsb_Log->verticalScrollBar();
    const bool following = bar->value() >= bar->maximum();
    lsb_Log->addItem(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
    // A program that runs for months keeps only the recent past.
    while (lsb_Log->count() > MaxLogLines) delete lsb_Log->takeItem(0);
    if (following) lsb_Log->scrollToBottom();
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
}

void Tfrm_Main::btn_ViewLogClick() {
    if (!pnl_Log->isHidden()) {
        pnl_Log->hide();
        btn_ViewLog->setText(ToQString("ログを表示▼"));
    } else {
        pnl_Log->show();
        btn_ViewLog->setText(ToQString("ログを非表示▲"));
    }
    FitToPanels();
}

QSize Tfrm_Main::PanelsSize() const {
    // Every panel of the stack, so that one added later counts too.
    int height = 0;
    for (int i = 0; i < layout()->count(); ++i) {
        const QWidget* panel = layout()->itemAt(i)->widget();
        if (panel && !panel->isHidden()) height += panel == pnl_Log ? pnl_Log->minimumHeight() : panel->height();
    }
    return QSize(ClientWidth, height);
}

void Tfrm_Main::FitToPanels() {
    fitting_ = true;
    const QSize first = PanelsSize();
    if (pnl_Log->isHidden()) {
        setFixedSize(first);
    } else {
        setMinimumSize(first);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        resize(logWindowSize_.isValid() ? logWindowSize_.expandedTo(first) : first);
    }
    layout()->activate();
    fitting_ = false;
}

void Tfrm_Main::SetLogWindowSize(QSize size) {
    logWindowSize_ = size;
    if (!pnl_Log->isHidden()) FitToPanels();
}

void Tfrm_Main::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // What the user made of the window while the log shows is the size it opens with next time.
    if (!fitting_ && !pnl_Log->isHidden() && isVisible()) logWindowSize_ = event->size();
}

void Tfrm_Main::btn_AdvancedClick() {
    Tdlg_Advanced dialog(this);
    dialog.SetFilter(loaded_.Filter);
    dialog.OnResendNow = [this] {
        ResendRequested = true;
        AddLog("送信を拒否されたメールを次の監視で送り直します");
    };
    const int result = AdvancedDialogHook ? AdvancedDialogHook(dialog) : dialog.exec();
    if (result == QDialog::Accepted) loaded_.Filter = dialog.Filter();
}

void Tfrm_Main::chk_AutostartClick() {
    const std::string entry = AutostartFile(std::getenv);
    try {
        if (chk_Autostart->isChecked()) {
            char cwd[4096];
            const std::string folder = ::getcwd(cwd, sizeof cwd) ? cwd : ExePath;
            EnableAutostart(entry, ExePath + ExeName, SettingsFileGiven ? SettingsFile : std::string(), folder);
        } else {
            DisableAutostart(entry);
        }
    } catch (...) {
        // The box shows what is on disk, also when writing or removing failed.
        chk_Autostart->setChecked(AutostartEnabled(entry));
        throw;
    }
}

void Tfrm_Main::edt_POP3ServerExit() {
    if (edt_SMTPServer->text().isEmpty()) edt_SMTPServer->setText(edt_POP3Server->text());
}

// The SMTP field follows the POP3 one until the user types in it: filled when empty, and again
// while it still holds exactly what was copied (a corrected POP3 password reaches SMTP too).
void Tfrm_Main::FollowPop3(QLineEdit* pop3, QLineEdit* smtp, QString& copied) {
    if (!smtp->text().isEmpty() && smtp->text() != copied) return;
    copied = pop3->text();
    smtp->setText(copied);
}

void Tfrm_Main::edt_POP3UserExit() { FollowPop3(edt_POP3User, edt_SMTPUser, copiedUser_); }

void Tfrm_Main::edt_POP3PassExit() { FollowPop3(edt_POP3Pass, edt_SMTPPass, copiedPass_); }

void Tfrm_Main::Trace(const char* what) {
    static const bool enabled = std::getenv("TARNWICK_TRACE") != nullptr;
    if (!enabled) return;
    std::fprintf(stdout, "trace: %s\n", what);
    std::fflush(stdout);
}

}  // namespace tarnwick
