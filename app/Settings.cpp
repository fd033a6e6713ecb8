// The settings file (beside the executable, or where SettingsLocation puts it), read into and
// written from the window's controls.
#include <QCheckBox>
#include <QComboBox>

#include "app/AppPaths.h"
#include "app/MainForm.h"
#include "app/SettingsLocation.h"
#include "platform/IniFile.h"
#include "platform/Streams.h"
#include "platform/qt/Edit.h"
#include "platform/qt/QtText.h"
#include "platform/qt/SpinEdit.h"

namespace tarnwick {

namespace {
constexpr int DefaultInterval = 5;
}  // namespace

std::string Tfrm_Main::SettingsPath() const {
    if (!SettingsFile.empty()) return SettingsFile;
    return ExePath + ChangeFileExt(ExeName, ".ini");
}

bool Tfrm_Main::LoadSettings() {
    const std::string path = SettingsPath();
    const bool existed = FileExists(path);
    const TIniFile ini(path);
    edt_POP3Server->setText(ToQString(ini.ReadString("POP3", "Server", "")));
    edt_POP3User->setText(ToQString(ini.ReadString("POP3", "User", "")));
    edt_POP3Pass->setText(ToQString(ini.ReadString("POP3", "Pass", "")));
    edt_SMTPServer->setText(ToQString(ini.ReadString("SMTP", "Server", "")));
    edt_SMTPUser->setText(ToQString(ini.ReadString("SMTP", "User", "")));
    edt_SMTPPass->setText(ToQString(ini.ReadString("SMTP", "Pass", "")));
    edt_Adress->setText(ToQString(ini.ReadString("Mail", "User", "")));
    cmb_Adress->setEditText(ToQString(ini.ReadString("Mail", "Domain", "")));
    edt_WatchInterval->SetValue(ini.ReadInteger("Common", "Interval", DefaultInterval));
    // On for a first start; a file from before the setting existed forwards as it always did.
    chk_SkipExisting->setChecked(ini.ReadInteger("Common", "SkipExisting", existed ? 0 : 1) != 0);
    return existed;
}

bool Tfrm_Main::SaveSettings() {
    const std::string path = SettingsPath();
    const bool existed = FileExists(path);
    TIniFile ini(path);
    ini.WriteString("POP3", "Server", FromQString(edt_POP3Server->text()));
    ini.WriteString("POP3", "User", FromQString(edt_POP3User->text()));
    ini.WriteString("POP3", "Pass", FromQString(edt_POP3Pass->text()));
    ini.WriteString("SMTP", "Server", FromQString(edt_SMTPServer->text()));
    ini.WriteString("SMTP", "User", FromQString(edt_SMTPUser->text()));
    ini.WriteString("SMTP", "Pass", FromQString(edt_SMTPPass->text()));
    ini.WriteString("Mail", "User", FromQString(edt_Adress->text()));
    ini.WriteString("Mail", "Domain", FromQString(cmb_Adress->currentText()));
    ini.WriteInteger("Common", "Interval", edt_WatchInterval->Value());
    ini.WriteInteger("Common", "SkipExisting", chk_SkipExisting->isChecked() ? 1 : 0);
    return existed;
}

}  // namespace tarnwick
