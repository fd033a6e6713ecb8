// The POP3 and SMTP groups of the window, side by side: their rows, and the sign-in rows that show
// only for the OAuth methods.
#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <array>

#include "app/window/FormLayout.h"
#include "app/window/MainForm.h"
#include "platform/qt/Edit.h"

namespace tarnwick {

using namespace layout;

namespace {

constexpr int GroupTop = 8, FirstRowTop = 20;
// Passwords show one "*" per character.
const QString PasswordStyle = QStringLiteral("QLineEdit { lineedit-password-character: 42; }");

constexpr TAuthMethod OAuthMethods[] = {TAuthMethod::amMicrosoft, TAuthMethod::amGoogle, TAuthMethod::amOther};

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

QGroupBox* MakeGroup(const char* title, QWidget* panel, int left) {
    return Place(new QGroupBox(ToQString(title), panel), left, GroupTop, GroupWidth, 100);
}

// Captions sit on the frame line, as on the desktop the window was laid out for. Set once the rows
// are in: it restyles them, and the password fields then take their "*".
void StyleGroup(QGroupBox* group) {
    group->setStyleSheet(QStringLiteral(
        "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 6px; }"
        "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 8px; padding: 0 2px; }"));
}

// Collects a group's rows; the groups place them (LayOutServerGroups).
class TRows {
public:
    TRows(QGroupBox* group, std::vector<Tfrm_Main::TGroupRow>& rows) : group_(group), rows_(rows) {}
    // A row with its caption; the caller puts its controls in it.
    QWidget* Row(const char* caption, QLabel** label = nullptr, std::vector<TAuthMethod> methods = {}) {
        auto* row = new QWidget(group_);
        row->resize(GroupWidth, RowHeight);
        QLabel* made = MakeLabel(row, caption, 8, 4);
        if (label) *label = made;
        rows_.push_back({row, std::move(methods)});
        return row;
    }
    TEdit* Field(const char* caption, QLabel** label = nullptr, std::vector<TAuthMethod> methods = {}) {
        return Place(new TEdit(Row(caption, label, std::move(methods))), FieldLeft, 0, FieldWidth, 20);
    }
    TEdit* Password(const char* caption, QLabel** label) {
        TEdit* edit = Field(caption, label);
        edit->setEchoMode(QLineEdit::Password);
        edit->setStyleSheet(PasswordStyle);
        return edit;
    }
    // 認証方式 with its サインイン button, then the sign-in settings under it.
    void Auth(QComboBox*& box, QPushButton*& signIn, std::array<TEdit**, 6> fields) {
        QWidget* row = Row("認証方式");
        box = Place(MakeAuthBox(row), FieldLeft, 0, ShortFieldWidth, 20);
        signIn = Place(new QPushButton(ToQString("サインイン"), row), RowButtonLeft, 0, RowButtonWidth, 21);
        const std::vector<TAuthMethod> oauth(std::begin(OAuthMethods), std::end(OAuthMethods));
        *fields[0] = Field("クライアントID", nullptr, oauth);
        *fields[1] = Field("テナント", nullptr, {TAuthMethod::amMicrosoft});
        int i = 2;
        for (const char* caption : {"認可URL", "トークンURL", "デバイスURL", "スコープ"})
            *fields[i++] = Field(caption, nullptr, {TAuthMethod::amOther});
    }

private:
    QGroupBox* group_;
    std::vector<Tfrm_Main::TGroupRow>& rows_;
};

}  // namespace

void Tfrm_Main::CreateServerGroups(QVBoxLayout* stack) {
    pnl_Servers = new QWidget(this);
    pnl_Servers->setFixedWidth(ClientWidth);
    stack->addWidget(pnl_Servers);
    const int half = ClientWidth / 2;
    pnl_POP = Place(new QWidget(pnl_Servers), 0, 0, half, 100);
    pnl_SMTP = Place(new QWidget(pnl_Servers), half, 0, ClientWidth - half, 100);

    GroupBox1 = MakeGroup("POPサーバ設定", pnl_POP, 12);
    TRows pop(GroupBox1, pop3Rows_);
    QWidget* address = pop.Row("メールアドレス", &Label14);
    edt_MailAddress = Place(new TEdit(address), FieldLeft, 0, ShortFieldWidth, 20);
    btn_LookUp = Place(new QPushButton(ToQString("自動設定"), address), RowButtonLeft, 0, RowButtonWidth, 21);
    edt_POP3Server = pop.Field("POP3サーバアドレス", &Label1);
    cmb_POP3Security = Place(MakeSecurityBox(pop.Row("暗号化", &Label11)), FieldLeft, 0, ShortFieldWidth, 20);
    edt_ImapFolder = pop.Field("フォルダ");
    pop3Rows_.back().ImapOnly = true;
    edt_POP3User = pop.Field("ユーザ名", &Label2);
    edt_POP3Pass = pop.Password("パスワード", &Label3);
    pop.Auth(cmb_POP3Auth, btn_POP3SignIn,
             {&edt_POP3ClientId, &edt_POP3Tenant, &edt_POP3AuthUrl, &edt_POP3TokenUrl, &edt_POP3DeviceUrl, &edt_POP3Scopes});

    GroupBox2 = MakeGroup("SMTPサーバ設定", pnl_SMTP, 4);
    TRows smtp(GroupBox2, smtpRows_);
    edt_SMTPServer = smtp.Field("SMTPサーバアドレス", &Label4);
    cmb_SMTPSecurity = Place(MakeSecurityBox(smtp.Row("暗号化", &Label12)), FieldLeft, 0, ShortFieldWidth, 20);
    edt_SMTPUser = smtp.Field("ユーザ名", &Label5);
    edt_SMTPPass = smtp.Password("パスワード", &Label6);
    smtp.Auth(cmb_SMTPAuth, btn_SMTPSignIn,
              {&edt_SMTPClientId, &edt_SMTPTenant, &edt_SMTPAuthUrl, &edt_SMTPTokenUrl, &edt_SMTPDeviceUrl, &edt_SMTPScopes});
    edt_EnvelopeFrom = smtp.Field("送信者アドレス", &Label13);
    StyleGroup(GroupBox1);
    StyleGroup(GroupBox2);

    LayOutServerGroups();
}

void Tfrm_Main::LayOutServerGroups() {
    // Both groups are as tall as the taller one's rows.
    int height = 0;
    // The 受信方式 choice comes after the groups.
    const bool imap = cmb_POP3Protocol && cmb_POP3Protocol->currentIndex() == static_cast<int>(TReceiveProtocol::Imap);
    for (TServerKind kind : kServerKinds) {
        const TAccessBoxes boxes = AccessBoxes(kind);
        const auto method = static_cast<TAuthMethod>(std::max(0, boxes.Auth->currentIndex()));
        // A sign-in needs no password.
        boxes.Pass->setEnabled(method == TAuthMethod::amPassword);
        int top = FirstRowTop;
        for (const TGroupRow& row : kind == TServerKind::Pop3 ? pop3Rows_ : smtpRows_) {
            const bool shown = (row.Methods.empty() ||
                                std::find(row.Methods.begin(), row.Methods.end(), method) != row.Methods.end()) &&
                               (!row.ImapOnly || imap);
            row.Row->setHidden(!shown);
            if (!shown) continue;
            row.Row->move(0, top);
            top += RowHeight;
        }
        height = std::max(height, top + 4);
    }
    GroupBox1->resize(GroupWidth, height);
    GroupBox2->resize(GroupWidth, height);
    const int panel = GroupTop + height + 6;
    pnl_POP->resize(pnl_POP->width(), panel);
    pnl_SMTP->resize(pnl_SMTP->width(), panel);
    pnl_Servers->setFixedHeight(panel);
}

}  // namespace tarnwick
