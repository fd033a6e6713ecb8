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
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QStyle>
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
#include "app/window/FormLayout.h"
#include "message/ShownText.h"
#include "platform/DateTime.h"
#include "platform/Locale.h"
#include "platform/qt/Edit.h"
#include "platform/qt/QtText.h"
#include "platform/qt/SpinEdit.h"
#include "tray/TrayIcon.h"

namespace tarnwick {

using namespace layout;

namespace {

// The log shows at least this many lines: the window with it still fits a 1280 x 720 screen.
constexpr int LogLines = 10;

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
    SetUpFieldChecks();
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
        hooks_.SendTest = [this](const TSettings& settings) { return forwardingCycle_->SendTestMessage(settings); };
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
    example(edt_ImapFolder, "INBOX");
    tip(edt_ImapFolder, "IMAPで読むフォルダ(空なら INBOX)。読み取り専用で開き、既読にも削除にもしません");
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

    example(edt_MailAddress, "例: taro@example.jp");
    tip(edt_MailAddress, "受信するメールのアドレス。「自動設定」でサーバの設定を埋めます");
    tip(btn_LookUp, "メールアドレスからPOP3とSMTPのサーバ、暗号化、ユーザ名を調べて埋めます");
    example(edt_POP3Pass, "メールのパスワード");
    example(edt_SMTPPass, "空ならPOP3のパスワード");
    for (TServerKind kind : kServerKinds) {
        const TAccessBoxes boxes = AccessBoxes(kind);
        example(boxes.ClientId, "例: 00000000-0000-0000-0000-000000000000");
        tip(boxes.ClientId, "プロバイダに登録したデスクトップアプリのクライアントID");
        example(boxes.Tenant, "common");
        tip(boxes.Tenant, "Microsoft のテナント: common、consumers(個人用)、または組織のテナントID");
        example(boxes.AuthUrl, "例: https://auth.example.jp/authorize");
        tip(boxes.AuthUrl, "ブラウザでサインインするページのURL");
        example(boxes.TokenUrl, "例: https://auth.example.jp/token");
        tip(boxes.TokenUrl, "トークンを受け取るURL");
        example(boxes.DeviceUrl, "空でも可(--authorize で使います)");
        tip(boxes.DeviceUrl, "ブラウザのない端末でコードを入力してサインインするためのURL");
        example(boxes.Scopes, "例: https://mail.example.jp/ offline_access");
        tip(boxes.Scopes, "求める権限。空白で区切ります");
    }
    tip(btn_POP3SignIn, "ブラウザでサインインします");
    tip(btn_SMTPSignIn, "ブラウザでサインインします");
    tip(chk_SkipExisting, "最初の監視で、いまサーバにあるメールは転送せず記録だけします");
    tip(btn_Test, "POP3とSMTPのサーバに接続してログインできるか確かめます(メールは送りません)");
    tip(btn_SendTest, "転送先にテストのメールを1通送ります");
    tip(chk_Autostart, "デスクトップにログインしたときに起動します");
    tip(chk_KeyringSecrets, "パスワードとトークンを設定ファイルでなくデスクトップのキーリングに保存します");
    tip(btn_Advanced, "サイズの上限、転送しないメールの規則、今すぐ再送");
    tip(btn_ViewLog, "監視と転送の記録を表示します");
}

void Tfrm_Main::CreateControls() {
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    // The window's size follows the panels that are visible (FitToPanels); only the log grows.
    stack->setSizeConstraint(QLayout::SetNoConstraint);

    CreateServerGroups(stack);
    CreateProtocolChoice();

    pnl_Setting = MakePanel(this, stack, 30);
    Label7 = MakeLabel(pnl_Setting, "転送先メールアドレス", 16, 6);
    edt_Adress = Place(new TEdit(pnl_Setting), 134, 2, 110, 20);
    Label10 = MakeLabel(pnl_Setting, "@", 248, 6);
    cmb_Adress = Place(new QComboBox(pnl_Setting), 260, 2, 150, 20);
    cmb_Adress->setEditable(true);
    // Typed domains stay typed; the list itself never changes.
    cmb_Adress->setInsertPolicy(QComboBox::NoInsert);
    for (const char* domain : MobileDomains) cmb_Adress->addItem(ToQString(domain));
    RestrictToCodePage932(cmb_Adress->lineEdit(), nullptr);
    cmb_Adress->setCurrentIndex(-1);
    cmb_Adress->setEditText(QString());
    Label8 = MakeLabel(pnl_Setting, "監視間隔", 440, 6);
    edt_WatchInterval = Place(new TSpinEdit(pnl_Setting), 490, 2, 65, 21);
    edt_WatchInterval->SetRange(1, 120);
    edt_WatchInterval->Increment = 1;
    edt_WatchInterval->setMaxLength(3);
    edt_WatchInterval->SetValue(10);
    Label9 = MakeLabel(pnl_Setting, "分ごとに監視・転送", 560, 6);

    // The test result takes two lines beside the buttons: a hint after the error fits there.
    const int twoLines = 2 * fontMetrics().lineSpacing() + 2;
    pnl_Check = MakePanel(this, stack, std::max(58, 26 + twoLines + 2));
    chk_SkipExisting = Place(new QCheckBox(ToQString("サーバにある既存のメールは転送しない"), pnl_Check), 16, 4, 400, 20);
    btn_Test = Place(new QPushButton(ToQString("接続テスト"), pnl_Check), 16, 28, 89, 25);
    btn_SendTest = Place(new QPushButton(ToQString("テスト送信"), pnl_Check), 110, 28, 89, 25);
    lbl_TestResult = Place(new QLabel(pnl_Check), 208, 26, ClientWidth - 12 - 208, twoLines);
    lbl_TestResult->setWordWrap(true);
    lbl_TestResult->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    pnl_Autostart = MakePanel(this, stack, 30);
    chk_Autostart = Place(new QCheckBox(ToQString("ログイン時に起動"), pnl_Autostart), 16, 6, 160, 20);
    chk_Autostart->setChecked(AutostartEnabled(AutostartFile(std::getenv)));
    chk_KeyringSecrets = Place(new QCheckBox(ToQString("パスワードをキーリングに保存"), pnl_Autostart), 180, 6, 300, 20);
    btn_Advanced = Place(new QPushButton(ToQString("詳細設定..."), pnl_Autostart), ClientWidth - 12 - 89, 4, 89, 24);

    pnl_Status = MakePanel(this, stack, 34);
    lbl_Status = Place(new QLabel(pnl_Status), 16, 8, ClientWidth - 16 - 12 - 100 - 8, 20);
    btn_ViewLog = Place(new QPushButton(ToQString("ログを表示▼"), pnl_Status), ClientWidth - 12 - 100, 5, 100, 25);

    CreateLogPanel(stack);

    pnl_Quit = MakePanel(this, stack, 33);
    btn_Quit = Place(new QPushButton(ToQString("終了"), pnl_Quit), ClientWidth - 12 - 89, 4, 89, 25);
    pnl_Quit->hide();

    ConnectControls();
    stack->activate();
    FitToPanels();
}

void Tfrm_Main::CreateLogPanel(QVBoxLayout* stack) {
    // The one panel that grows with the window; at its smallest the list shows LogLines lines,
    // also under a horizontal scroll bar.
    pnl_Log = new QWidget(this);
    pnl_Log->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    stack->addWidget(pnl_Log, 1);
    auto* logLayout = new QVBoxLayout(pnl_Log);
    logLayout->setContentsMargins(12, 2, 12, 12);
    lsb_Log = new QListWidget(pnl_Log);
    logLayout->addWidget(lsb_Log);
    lsb_Log->setUniformItemSizes(true);
    const int rowHeight = QFontMetrics(lsb_Log->font()).height() + 3;
    lsb_Log->setItemDelegate(new TFixedHeightDelegate(rowHeight, lsb_Log));
    const int listHeight = LogLines * rowHeight + 2 * lsb_Log->frameWidth() +
                           lsb_Log->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, lsb_Log);
    lsb_Log->setMinimumSize(ClientWidth - 24, listHeight);
    pnl_Log->setMinimumSize(ClientWidth, listHeight + 2 + 12);
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
}

void Tfrm_Main::ConnectControls() {
    // As the eye reads: down the POP3 group, down the SMTP group, then the rows below, left to right.
    const std::vector<QWidget*> chain = {
        edt_MailAddress, btn_LookUp, edt_POP3Server, cmb_POP3Security, cmb_POP3Protocol, edt_ImapFolder, edt_POP3User,
        edt_POP3Pass, cmb_POP3Auth, btn_POP3SignIn, edt_POP3ClientId, edt_POP3Tenant, edt_POP3AuthUrl, edt_POP3TokenUrl,
        edt_POP3DeviceUrl, edt_POP3Scopes,
        edt_SMTPServer, cmb_SMTPSecurity, edt_SMTPUser, edt_SMTPPass, cmb_SMTPAuth, btn_SMTPSignIn,
        edt_SMTPClientId, edt_SMTPTenant, edt_SMTPAuthUrl, edt_SMTPTokenUrl, edt_SMTPDeviceUrl, edt_SMTPScopes,
        edt_EnvelopeFrom,
        edt_Adress, cmb_Adress, edt_WatchInterval, chk_SkipExisting, btn_Test, btn_SendTest, chk_Autostart,
        chk_KeyringSecrets, btn_Advanced, btn_ViewLog, lsb_Log, btn_Quit};
    for (size_t i = 1; i < chain.size(); ++i) setTabOrder(chain[i - 1], chain[i]);
    edt_MailAddress->setFocus(Qt::OtherFocusReason);

    edt_POP3Server->OnExit = [this] { Guarded([this] { edt_POP3ServerExit(); }); };
    edt_POP3User->OnExit = [this] { Guarded([this] { edt_POP3UserExit(); }); };
    edt_POP3Pass->OnExit = [this] { Guarded([this] { edt_POP3PassExit(); }); };
    connect(btn_ViewLog, &QPushButton::clicked, this, [this] { Guarded([this] { btn_ViewLogClick(); }); });
    connect(btn_Test, &QPushButton::clicked, this, [this] { Guarded([this] { btn_TestClick(); }); });
    connect(btn_SendTest, &QPushButton::clicked, this, [this] { Guarded([this] { btn_SendTestClick(); }); });
    connect(btn_Advanced, &QPushButton::clicked, this, [this] { Guarded([this] { btn_AdvancedClick(); }); });
    connect(chk_Autostart, &QCheckBox::clicked, this, [this] { Guarded([this] { chk_AutostartClick(); }); });
    connect(btn_LookUp, &QPushButton::clicked, this, [this] { Guarded([this] { btn_LookUpClick(); }); });
    connect(btn_POP3SignIn, &QPushButton::clicked, this, [this] { Guarded([this] { btn_SignInClick(false); }); });
    connect(btn_SMTPSignIn, &QPushButton::clicked, this, [this] { Guarded([this] { btn_SignInClick(true); }); });
    for (QComboBox* auth : {cmb_POP3Auth, cmb_SMTPAuth}) {
        connect(auth, &QComboBox::currentIndexChanged, this, [this] {
            UpdateSignInButtons();
            LayOutServerGroups();
            FitToPanels();
        });
    }
    UpdateSignInButtons();
    UpdateStatusLine();
    connect(btn_Quit, &QPushButton::clicked, this, [this] {
        Guarded([this] {
            endRequested_ = true;
            mi_CloseClick();
        });
    });
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
        const QSize kept = logWindowSize_.isValid() ? logWindowSize_.expandedTo(first) : first;
        // A size left on a larger screen is cut to this one.
        resize(kept.boundedTo(ScreenRoom().size() - (frameGeometry().size() - size())).expandedTo(first));
    }
    layout()->activate();
    // Grown past the bottom of the screen, the window moves up.
    const QRect room = ScreenRoom(), frame = frameGeometry();
    QPoint to = pos();
    if (frame.bottom() > room.bottom()) to.setY(std::max(room.top(), to.y() - (frame.bottom() - room.bottom())));
    if (frame.right() > room.right()) to.setX(std::max(room.left(), to.x() - (frame.right() - room.right())));
    if (to != pos()) move(to);
    fitting_ = false;
}

QRect Tfrm_Main::ScreenRoom() const {
    const QScreen* shown = screen();
    return shown ? shown->availableGeometry() : QRect(0, 0, QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
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
