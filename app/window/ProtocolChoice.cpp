// 受信方式: POP3 or IMAP, beside the receiving server's 暗号化 (the group keeps its rows and size).
#include <QComboBox>

#include "platform/qt/Edit.h"

#include "app/window/FormLayout.h"
#include "app/window/MainForm.h"

namespace tarnwick {

using namespace layout;

// Items in the order of TReceiveProtocol.
void Tfrm_Main::CreateProtocolChoice() {
    QWidget* row = cmb_POP3Security->parentWidget();
    cmb_POP3Protocol = Place(new QComboBox(row), RowButtonLeft, 0, RowButtonWidth, 20);
    for (const char* name : {"POP3", "IMAP"}) cmb_POP3Protocol->addItem(ToQString(name));
    cmb_POP3Protocol->setAccessibleName(ToQString("受信方式"));
    cmb_POP3Protocol->setToolTip(
        ToQString("受信方式: POP3 は監視間隔ごとに確認します。IMAP はサーバからの新着の知らせ(IDLE)ですぐに転送します"
                  "(標準のポートは 143、SSL/TLS は 993)"));
    connect(cmb_POP3Protocol, &QComboBox::currentIndexChanged, this, [this] {
        LayOutServerGroups();
        FitToPanels();
    });
    LayOutServerGroups();
}

}  // namespace tarnwick
