// 自動設定: the mail address fills in both servers, from the providers' table or the provider's
// own settings document, on a thread of the lookup's own; every field stays the user's to change.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "app/window/MainForm.h"
#include "platform/qt/Edit.h"
#include "platform/qt/QtText.h"

namespace tarnwick {

void Tfrm_Main::btn_LookUpClick() {
    if (lookUp_ && !lookUp_->Finished()) return;
    lookUp_.reset();
    TProviderLookup lookup = ProviderLookup;
    // Both run on the lookup's thread: what they carry is handed to this one, in order.
    lookup.OnLog = [this](const std::string& line) {
        QMetaObject::invokeMethod(this, [this, line] { AddLog(line); }, Qt::QueuedConnection);
    };
    auto done = [this](const std::optional<TProviderFill>& fill) {
        QMetaObject::invokeMethod(this, [this, fill] { Guarded([&] { LookUpFinished(fill); }); }, Qt::QueuedConnection);
    };
    btn_LookUp->setEnabled(false);
    // "taro＠example．jp" as an input method may give it.
    const std::string address = FoldInput(FromQString(edt_MailAddress->text()));
    edt_MailAddress->setText(ToQString(address));
    lookUp_ = std::make_unique<TProviderLookupTask>(std::move(lookup), address, done);
}

void Tfrm_Main::LookUpFinished(const std::optional<TProviderFill>& fill) {
    btn_LookUp->setEnabled(true);
    if (!fill) return;
    for (const TServerKind kind : kServerKinds) {
        const TServerFill& server = kind == TServerKind::Pop3 ? fill->Pop3 : fill->Smtp;
        (kind == TServerKind::Pop3 ? edt_POP3Server : edt_SMTPServer)->setText(ToQString(server.Server));
        const TAccessBoxes boxes = AccessBoxes(kind);
        boxes.Security->setCurrentIndex(static_cast<int>(server.Security));
        boxes.Auth->setCurrentIndex(static_cast<int>(server.Auth));
    }
    // What is filled in is a POP3 server: the choice says so, lest it be read as IMAP.
    cmb_POP3Protocol->setCurrentIndex(static_cast<int>(TReceiveProtocol::Pop3));
    // The SMTP user follows the POP3 one as it does when typed there, unless the user set it apart.
    edt_POP3User->setText(ToQString(fill->Pop3.User));
    edt_POP3UserExit();
}

}  // namespace tarnwick
