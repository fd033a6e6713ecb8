// The settings file (beside the executable, or where SettingsLocation puts it), read into and
// written from the window's controls.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <algorithm>

#include "app/AppPaths.h"
#include "app/MainForm.h"
#include "app/SettingsLocation.h"
#include "platform/IniFile.h"
#include "platform/Locale.h"
#include "platform/Streams.h"
#include "platform/qt/Edit.h"
#include "platform/qt/QtText.h"
#include "platform/qt/SpinEdit.h"

namespace tarnwick {

namespace {
constexpr int DefaultInterval = 5;

std::string KeyName(const char* section, const char* key) { return std::string(section) + "/" + key; }
}  // namespace

std::string Tfrm_Main::SettingsPath() const {
    if (!SettingsFile.empty()) return SettingsFile;
    return ExePath + ChangeFileExt(ExeName, ".ini");
}

bool Tfrm_Main::LoadSettings() {
    const std::string path = SettingsPath();
    const bool existed = FileExists(path);
    const TIniFile ini(path);
    refusedSettings_.clear();
    // A hand-edited file may hold what a field cannot: bytes that are not code page 932 would
    // reach the server as "?", and a text longer than the box would be cut. Such a value is
    // refused with a line naming it, never changed silently.
    auto text = [&](const char* section, const char* key, QLineEdit* edit) {
        const std::string value = ini.ReadString(section, key, "");
        std::string utf8;
        const char* why = nullptr;
        QString shown;
        if (!TryConvert("CP932", "UTF-8", value, utf8)) {
            why = "CP932 で表せない文字を含む";
        } else {
            shown = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
            if (shown.size() > edit->maxLength()) why = "長すぎる";
        }
        if (why) {
            AddLog(std::string("設定ファイルの[") + section + "]" + key + " は" + why + "ため読み込みません");
            refusedSettings_.push_back(KeyName(section, key));
            shown.clear();
        }
        edit->setText(shown);
    };
    text("POP3", "Server", edt_POP3Server);
    text("POP3", "User", edt_POP3User);
    text("POP3", "Pass", edt_POP3Pass);
    text("SMTP", "Server", edt_SMTPServer);
    text("SMTP", "User", edt_SMTPUser);
    text("SMTP", "Pass", edt_SMTPPass);
    text("SMTP", "EnvelopeFrom", edt_EnvelopeFrom);
    text("Mail", "User", edt_Adress);
    text("Mail", "Domain", cmb_Adress->lineEdit());
    // A first start offers SSL/TLS; a file from before the choice existed connects as it always did.
    auto security = [&](const char* section, QComboBox* box) {
        const TSecurity value = existed ? SecurityFromName(ini.ReadString(section, "Security", "")) : TSecurity::TLS;
        box->setCurrentIndex(static_cast<int>(value));
    };
    security("POP3", cmb_POP3Security);
    security("SMTP", cmb_SMTPSecurity);
    pop3CAFile_ = ini.ReadString("POP3", "CAFile", "");
    smtpCAFile_ = ini.ReadString("SMTP", "CAFile", "");
    edt_WatchInterval->SetValue(ini.ReadInteger("Common", "Interval", DefaultInterval));
    // On for a first start; a file from before the setting existed forwards as it always did.
    chk_SkipExisting->setChecked(ini.ReadInteger("Common", "SkipExisting", existed ? 0 : 1) != 0);
    return existed;
}

bool Tfrm_Main::SaveSettings() {
    const std::string path = SettingsPath();
    const bool existed = FileExists(path);
    TIniFile ini(path);
    auto text = [&](const char* section, const char* key, const QString& value) {
        // A refused value left empty in the window stays in the file as it was.
        const bool refused = std::find(refusedSettings_.begin(), refusedSettings_.end(), KeyName(section, key)) !=
                             refusedSettings_.end();
        if (refused && value.isEmpty()) return;
        ini.WriteString(section, key, FromQString(value));
    };
    text("POP3", "Server", edt_POP3Server->text());
    text("POP3", "User", edt_POP3User->text());
    text("POP3", "Pass", edt_POP3Pass->text());
    text("SMTP", "Server", edt_SMTPServer->text());
    text("SMTP", "User", edt_SMTPUser->text());
    text("SMTP", "Pass", edt_SMTPPass->text());
    text("SMTP", "EnvelopeFrom", edt_EnvelopeFrom->text());
    text("Mail", "User", edt_Adress->text());
    text("Mail", "Domain", cmb_Adress->currentText());
    ini.WriteString("POP3", "Security", SecurityName(static_cast<TSecurity>(cmb_POP3Security->currentIndex())));
    ini.WriteString("SMTP", "Security", SecurityName(static_cast<TSecurity>(cmb_SMTPSecurity->currentIndex())));
    ini.WriteInteger("Common", "Interval", edt_WatchInterval->Value());
    ini.WriteInteger("Common", "SkipExisting", chk_SkipExisting->isChecked() ? 1 : 0);
    return existed;
}

}  // namespace tarnwick
