// The settings file (beside the executable, or where SettingsLocation puts it), read into and
// written from the window's controls through the one settings record.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <algorithm>

#include "app/cycle/Cycle.h"
#include "app/settings/Settings.h"
#include "app/window/MainForm.h"
#include "app/signin/SignIn.h"
#include "platform/Locale.h"
#include "platform/Streams.h"
#include "platform/qt/Edit.h"
#include "platform/qt/QtText.h"
#include "platform/qt/SpinEdit.h"

namespace tarnwick {

std::string Tfrm_Main::SettingsPath() const {
    if (!SettingsFile.empty()) return SettingsFile;
    return ExePath + ChangeFileExt(ExeName, ".ini");
}

Tfrm_Main::TAccessBoxes Tfrm_Main::AccessBoxes(TServerKind kind) const {
    if (kind == TServerKind::Pop3)
        return {cmb_POP3Security, cmb_POP3Auth, edt_POP3Pass, edt_POP3ClientId, edt_POP3Tenant, edt_POP3AuthUrl,
                edt_POP3TokenUrl, edt_POP3DeviceUrl, edt_POP3Scopes};
    return {cmb_SMTPSecurity, cmb_SMTPAuth, edt_SMTPPass, edt_SMTPClientId, edt_SMTPTenant, edt_SMTPAuthUrl,
            edt_SMTPTokenUrl, edt_SMTPDeviceUrl, edt_SMTPScopes};
}

bool Tfrm_Main::LoadSettings() {
    loaded_ = ReadSettingsFile(SettingsPath(), [this](const std::string& line) { AddLog(line); });
    TSignInState& signIn = SignInState();
    // A first start keeps secrets in the keyring only when one answers.
    if (!loaded_.Existed && loaded_.KeyringSecrets) loaded_.KeyringSecrets = signIn.Keyring().Available(true);
    signIn.KeyringSecrets = loaded_.KeyringSecrets;
    signIn.LoadPasswords(loaded_);
    auto text = [](const std::string& value, QLineEdit* edit) { edit->setText(ToQString(value)); };
    TServerSettings& s = loaded_.Servers;
    text(s.Pop3Server, edt_POP3Server);
    text(s.Pop3User, edt_POP3User);
    text(s.Pop3Pass, edt_POP3Pass);
    text(s.SmtpServer, edt_SMTPServer);
    text(s.SmtpUser, edt_SMTPUser);
    text(s.SmtpPass, edt_SMTPPass);
    text(s.EnvelopeFrom, edt_EnvelopeFrom);
    text(s.ImapFolder, edt_ImapFolder);
    text(loaded_.MailUser, edt_Adress);
    text(loaded_.MailDomain, cmb_Adress->lineEdit());
    for (TServerKind kind : kServerKinds) {
        const TAccessBoxes boxes = AccessBoxes(kind);
        const TOAuthSettings& auth = s.Access(kind).Auth;
        boxes.Security->setCurrentIndex(static_cast<int>(s.Access(kind).Security));
        text(auth.ClientId, boxes.ClientId);
        text(auth.Tenant, boxes.Tenant);
        text(auth.AuthorizationUrl, boxes.AuthUrl);
        text(auth.TokenUrl, boxes.TokenUrl);
        text(auth.DeviceUrl, boxes.DeviceUrl);
        text(auth.Scopes, boxes.Scopes);
        boxes.Auth->setCurrentIndex(static_cast<int>(auth.Method));
    }
    cmb_POP3Protocol->setCurrentIndex(static_cast<int>(s.Protocol));
    edt_WatchInterval->SetValue(loaded_.IntervalMinutes);
    chk_SkipExisting->setChecked(s.SkipExisting);
    if (loaded_.LogWindowWidth > 0 && loaded_.LogWindowHeight > 0)
        SetLogWindowSize(QSize(loaded_.LogWindowWidth, loaded_.LogWindowHeight));
    chk_KeyringSecrets->setChecked(loaded_.KeyringSecrets);
    UpdateSignInButtons();
    saved_ = SettingsFromFields();
    // Stored values that are the same still follow.
    copiedUser_ = edt_SMTPUser->text() == edt_POP3User->text() ? edt_SMTPUser->text() : QString();
    copiedPass_ = edt_SMTPPass->text() == edt_POP3Pass->text() ? edt_SMTPPass->text() : QString();
    return loaded_.Existed;
}

bool Tfrm_Main::SaveSettings() {
    const std::string path = SettingsPath();
    const bool existed = FileExists(path);
    const TSettings settings = SettingsFromFields();
    TSignInState& signIn = SignInState();
    signIn.KeyringSecrets = settings.KeyringSecrets;
    // With the box on, passwords move into the keyring and leave the file.
    WriteSettingsFile(path, signIn.MovePasswordsToKeyring(settings));
    saved_ = settings;
    if (!existed) createdThisRun_ = true;
    return existed;
}

bool Tfrm_Main::SaveChangedSettings() {
    if (SettingsFromFields() == saved_) return false;
    try {
        SaveSettings();
        return true;
    } catch (const std::exception& e) {
        AddLog(detail::OneLine(e.what()));
        return false;
    }
}

}  // namespace tarnwick
