// テスト送信 with the real cycle against the local Postfix: the message reaches the forwarding
// address with its subject.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "app/settings/AppPaths.h"
#include "app/window/MainForm.h"
#include "message/HeaderUnicode.h"
#include "platform/Locale.h"
#include "platform/qt/Edit.h"
#include "platform/qt/QtText.h"
#include "support/MailServers.h"
#include "support/TempDir.h"
#include "window/FakeShell.h"

namespace tarnwick::test {
namespace {

TEST(SendTestWithServers, TheTestMessageArrivesAtTheForwardingAddress) {
    TARNWICK_REQUIRE_MAIL_SERVERS(servers);
    TFakeShell shell;
    ScratchFolder scratch{"sendtest"};
    ExePath = scratch.Path() + "/";
    ExeName = "tarnwick";
    Tfrm_Main form;
    form.show();
    form.tim_StartAtOnceTimer();  // no settings file: the window stays
    form.edt_POP3User->setText(QStringLiteral("taro"));
    form.edt_POP3Pass->setText(QStringLiteral("never-in-the-message"));
    form.edt_SMTPServer->setText(QString::fromStdString(servers->smtpHost + ":" + std::to_string(servers->smtpPort)));
    form.cmb_SMTPSecurity->setCurrentIndex(0);
    form.edt_Adress->setText(QStringLiteral("keitai"));
    form.cmb_Adress->setEditText(QStringLiteral("docomo.ne.jp"));
    QTest::mouseClick(form.btn_SendTest, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.WorkerBusy(); }, 60000));

    const std::vector<DeliveredMessage> got = servers->WaitForDelivered(1);
    ASSERT_EQ(got.size(), 1u) << FromQString(form.lbl_TestResult->toolTip());
    EXPECT_EQ(got[0].OriginalTo(), "keitai@docomo.ne.jp");
    const std::string& text = got[0].content;
    size_t at = text.find("\nSubject: "), end = at;
    ASSERT_NE(at, std::string::npos);
    while ((end = text.find('\n', end + 1)) != std::string::npos && (text[end + 1] == ' ' || text[end + 1] == '\t')) {}
    EXPECT_EQ(DecodeHeaderToUtf8(text.substr(at + 10, end - at - 10)), Cp932ToUtf8("Tarnwick テスト送信"));
    EXPECT_EQ(text.find("never-in-the-message"), std::string::npos);
}

}  // namespace
}  // namespace tarnwick::test
