// The サインイン buttons of the settings window: the browser sign-in of one server, its tokens
// kept where the settings keep secrets.
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

#include "app/window/MainForm.h"
#include "app/signin/SignIn.h"
#include "platform/qt/QtText.h"

namespace tarnwick {

namespace {

// Where to get a client ID: the README's sign-in section, as installed beside the program
// (<prefix>/share/doc/tarnwick).
std::string NoClientIdText() {
    const QString readme = QDir::cleanPath(ToQString(ExePath) + QStringLiteral("../share/doc/tarnwick/README.md"));
    return "サインインにはクライアントIDが必要です。\n"
           "プロバイダにデスクトップアプリを登録して、そのクライアントIDを「クライアントID」に入れてください。\n"
           "登録のしかたは README の「Signing in with Microsoft or Google (OAuth 2.0)」の「Client ID」にあります:\n" +
           FromQString(readme);
}

}  // namespace

TSignInState& Tfrm_Main::SignInState() {
    if (!signIn_) {
        signIn_ = std::make_shared<TSignInState>(SettingsPath());
        signIn_->OnLog = [this](const std::string& line) { AddLog(line); };
        // The cycle shares it, and it is made before the first cycle starts.
        if (forwardingCycle_) forwardingCycle_->SignIn = signIn_;
    }
    return *signIn_;
}

void Tfrm_Main::UpdateSignInButtons() {
    const bool pop3 = cmb_POP3Auth->currentIndex() > 0, smtp = cmb_SMTPAuth->currentIndex() > 0;
    btn_POP3SignIn->setEnabled(pop3 && (!signing_ || !signingSmtp_));
    btn_SMTPSignIn->setEnabled(smtp && (!signing_ || signingSmtp_));
    btn_POP3SignIn->setText(ToQString(signing_ && !signingSmtp_ ? "キャンセル" : "サインイン"));
    btn_SMTPSignIn->setText(ToQString(signing_ && signingSmtp_ ? "キャンセル" : "サインイン"));
}

void Tfrm_Main::btn_SignInClick(bool smtp) {
    if (signing_) {
        signing_->Cancel();
        return;
    }
    const TSettings settings = SettingsFromFields();
    const TServerKind kind = smtp ? TServerKind::Smtp : TServerKind::Pop3;
    const TOAuthSettings& auth = settings.Servers.Access(kind).Auth;
    if (auth.Method == TAuthMethod::amPassword) return;
    if (ProviderFor(settings.Servers.Account(kind)).ClientId.empty()) {
        ShowMessageBox(QMessageBox::Information, "サインイン", NoClientIdText());
        return;
    }
    SignInState().KeyringSecrets = settings.KeyringSecrets;
    signing_ = std::make_unique<TOAuthSignIn>(ProviderFor(settings.Servers.Account(kind)));
    signingSmtp_ = smtp;
    signing_->OnFinished = [this, smtp, kind, settings](bool ok, const TOAuthTokens& tokens,
                                                        const std::string& reason) {
        if (ok && !SignInState().SaveSignIn(settings.Servers, kind, tokens)) {
            SignInFinished(smtp, false, tokens, "トークンを保存できませんでした");
            return;
        }
        SignInFinished(smtp, ok, tokens, reason);
    };
    const std::string url = signing_->Start();
    if (url.empty()) return;  // already finished, with its reason
    AddLog(std::string(smtp ? "SMTP" : "POP3") + "サーバのサインインをブラウザで行ってください");
    if (OpenBrowser) OpenBrowser(url);
    else QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
    UpdateSignInButtons();
}

void Tfrm_Main::SignInFinished(bool smtp, bool ok, const TOAuthTokens&, const std::string& reason) {
    AddLog(std::string(smtp ? "SMTP" : "POP3") + (ok ? "サーバにサインインしました" : "サーバのサインイン失敗 " + reason));
    // Called from the sign-in's own handler: it goes once that has returned.
    if (signing_) signing_.release()->deleteLater();
    UpdateSignInButtons();
}

}  // namespace tarnwick
