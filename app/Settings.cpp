// The settings file (beside the executable, or where SettingsLocation puts it), read into and
// written from the window's controls through the one settings record.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <algorithm>

#include "app/AppPaths.h"
#include "app/MainForm.h"
#include "app/SettingsLocation.h"
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

bool Tfrm_Main::LoadSettings() {
    loaded_ = ReadSettingsFile(SettingsPath(), [this](const std::string& line) { AddLog(line); });
    auto text = [](const std::string& value, QLineEdit* edit) { edit->setText(ToQString(value)); };
    TServerSettings& s = loaded_.Servers;
    text(s.Pop3Server, edt_POP3Server);
    text(s.Pop3User, edt_POP3User);
    text(s.Pop3Pass, edt_POP3Pass);
    text(s.SmtpServer, edt_SMTPServer);
    text(s.SmtpUser, edt_SMTPUser);
    text(s.SmtpPass, edt_SMTPPass);
    text(s.EnvelopeFrom, edt_EnvelopeFrom);
    text(loaded_.MailUser, edt_Adress);
    text(loaded_.MailDomain, cmb_Adress->lineEdit());
    cmb_POP3Security->setCurrentIndex(static_cast<int>(s.Pop3Security));
    cmb_SMTPSecurity->setCurrentIndex(static_cast<int>(s.SmtpSecurity));
    edt_WatchInterval->SetValue(loaded_.IntervalMinutes);
    chk_SkipExisting->setChecked(s.SkipExisting);
    if (loaded_.LogWindowWidth > 0 && loaded_.LogWindowHeight > 0)
        SetLogWindowSize(QSize(loaded_.LogWindowWidth, loaded_.LogWindowHeight));
    return loaded_.Existed;
}

bool Tfrm_Main::SaveSettings() {
    const std::string path = SettingsPath();
    const bool existed = FileExists(path);
    WriteSettingsFile(path, SettingsFromFields());
    return existed;
}

}  // namespace tarnwick
