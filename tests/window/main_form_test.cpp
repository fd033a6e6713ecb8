// The settings window: layout, the POP3 fields' exit handlers, the log and the settings file.
#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <sys/stat.h>

#include "app/settings/ServerEndpoint.h"
#include "app/settings/SettingsFile.h"
#include "window/FormFixture.h"

namespace tarnwick::test {
namespace {

TEST_F(FormTest, WindowHasItsCaptionPanelsAndHeights) {
    ShowForm();
    EXPECT_EQ(FromQString(form->windowTitle()), "Tarnwick Ver1.01");
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(form->width(), 708);
    // The server groups side by side, the rows below them full width.
    EXPECT_EQ(ClientHeight(), 340);
    EXPECT_EQ(form->pnl_POP->geometry(), QRect(0, 0, 354, 182));
    EXPECT_EQ(form->pnl_SMTP->geometry(), QRect(354, 0, 354, 182));
    EXPECT_EQ(form->pnl_Setting->geometry(), QRect(0, 182, 708, 30));
    EXPECT_EQ(QRect(form->edt_EnvelopeFrom->mapTo(form->GroupBox2, QPoint()), form->edt_EnvelopeFrom->size()),
              QRect(122, 140, 208, 20));
    EXPECT_EQ(form->edt_WatchInterval->geometry(), QRect(490, 2, 65, 21));
    EXPECT_TRUE(form->lbl_TestResult->wordWrap());
    EXPECT_GE(form->lbl_TestResult->height(), 2 * form->lbl_TestResult->fontMetrics().height());
    EXPECT_EQ(FromQString(form->GroupBox1->title()), "POPサーバ設定");
    EXPECT_EQ(form->edt_POP3Pass->echoMode(), QLineEdit::Password);
    EXPECT_EQ(form->edt_SMTPPass->echoMode(), QLineEdit::Password);
    form->edt_POP3Pass->setText(QStringLiteral("abc"));
    EXPECT_EQ(form->edt_POP3Pass->displayText(), "***");
    EXPECT_EQ(form->windowIcon().pixmap(32, 32).size(), QSize(32, 32));

    QTest::mouseClick(form->btn_ViewLog, Qt::LeftButton);
    EXPECT_EQ(ClientHeight(), 340 + form->pnl_Log->minimumHeight());
    EXPECT_EQ(FromQString(form->btn_ViewLog->text()), "ログを非表示▲");
    QTest::mouseClick(form->btn_ViewLog, Qt::LeftButton);
    EXPECT_EQ(ClientHeight(), 340);
    EXPECT_EQ(FromQString(form->btn_ViewLog->text()), "ログを表示▼");
}

// With the log shown the window still fits a 1280 x 720 screen under a title bar and a desktop
// panel, and the log shows ten lines also under its horizontal scroll bar.
TEST_F(FormTest, WithItsLogTheWindowFitsA1280x720ScreenAndShowsTenLines) {
    ShowForm();
    form->AddLog(std::string(400, 'x'));
    QTest::mouseClick(form->btn_ViewLog, Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_LE(form->width(), 1280);
    EXPECT_LE(form->height(), 720 - 80);
    EXPECT_TRUE(form->lsb_Log->horizontalScrollBar()->isVisible());
    const int row = form->lsb_Log->visualItemRect(form->lsb_Log->item(0)).height();
    EXPECT_GE(form->lsb_Log->viewport()->height() / row, 10);
    // A size kept from a larger screen is cut to this one, and the window moves up to show all of it.
    form->SetLogWindowSize(QSize(3000, 3000));
    QApplication::processEvents();
    EXPECT_TRUE(form->screen()->availableGeometry().contains(form->frameGeometry()));
}

// Down the POP3 group, down the SMTP group (a sign-in's fields under its 認証方式), then the rows
// below from left to right.
TEST_F(FormTest, TabOrderRunsTopToBottomAndLeftToRight) {
    ShowForm();
    form->cmb_SMTPAuth->setCurrentIndex(static_cast<int>(TAuthMethod::amMicrosoft));
    form->cmb_POP3Protocol->setCurrentIndex(static_cast<int>(TReceiveProtocol::Imap));
    const std::vector<QWidget*> expected = {
        form->edt_MailAddress, form->btn_LookUp, form->edt_POP3Server, form->cmb_POP3Security, form->cmb_POP3Protocol,
        form->edt_ImapFolder, form->edt_POP3User, form->edt_POP3Pass, form->cmb_POP3Auth, form->edt_SMTPServer,
        form->cmb_SMTPSecurity, form->edt_SMTPUser, form->cmb_SMTPAuth, form->btn_SMTPSignIn,
        form->edt_SMTPClientId, form->edt_SMTPTenant, form->edt_EnvelopeFrom, form->edt_Adress,
        form->cmb_Adress, form->edt_WatchInterval, form->chk_SkipExisting, form->btn_Test,
        form->btn_SendTest, form->chk_Autostart, form->chk_KeyringSecrets, form->btn_Advanced,
        form->btn_ViewLog};
    form->edt_MailAddress->setFocus();
    for (size_t i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* focus = QApplication::focusWidget();
        // The editable combo box hands its focus to its own line edit.
        if (focus && focus->parentWidget() == form->cmb_Adress) focus = form->cmb_Adress;
        EXPECT_EQ(focus, expected[i]) << "stop " << i;
    }
}

TEST_F(FormTest, DomainListHasTheCarriersOfTodayAndTypedDomainsAreNotAdded) {
    ShowForm();
    EXPECT_EQ(form->cmb_Adress->count(), 10);
    EXPECT_TRUE(form->cmb_Adress->isEditable());
    EXPECT_EQ(form->cmb_Adress->currentText(), "");
    form->cmb_Adress->setFocus();
    QTest::keyClicks(form->cmb_Adress, QStringLiteral("example.jp"));
    QTest::keyClick(form->cmb_Adress, Qt::Key_Return);
    EXPECT_EQ(form->cmb_Adress->count(), 10);
    EXPECT_EQ(form->cmb_Adress->currentText(), "example.jp");
}

TEST_F(FormTest, LeavingAPop3FieldFillsOnlyAnEmptySmtpField) {
    ShowForm();
    form->edt_POP3Server->setFocus();
    QTest::keyClicks(form->edt_POP3Server, QStringLiteral("pop.example.jp"));
    form->edt_POP3User->setFocus();
    EXPECT_EQ(form->edt_SMTPServer->text(), "pop.example.jp");

    form->edt_SMTPUser->setText(QStringLiteral(" "));  // blanks are not empty
    QTest::keyClicks(form->edt_POP3User, QStringLiteral("taro"));
    form->edt_POP3Pass->setFocus();
    EXPECT_EQ(form->edt_SMTPUser->text(), " ");

    QTest::keyClicks(form->edt_POP3Pass, QStringLiteral("secret"));
    form->edt_Adress->setFocus();
    EXPECT_EQ(form->edt_SMTPPass->text(), "secret");
    // A corrected password follows while the SMTP field holds what was copied; typed, it stays.
    form->edt_POP3Pass->setFocus();
    form->edt_POP3Pass->setText(QStringLiteral("secret2"));
    form->edt_Adress->setFocus();
    EXPECT_EQ(form->edt_SMTPPass->text(), "secret2");
    form->edt_SMTPPass->setText(QStringLiteral("own"));
    form->edt_POP3Pass->setFocus();
    form->edt_POP3Pass->setText(QStringLiteral("secret3"));
    form->edt_Adress->setFocus();
    EXPECT_EQ(form->edt_SMTPPass->text(), "own");

    // Nothing flows back, and a filled SMTP field is never overwritten.
    form->edt_POP3Server->setFocus();
    form->edt_POP3Server->setText(QStringLiteral("other"));
    form->edt_Adress->setFocus();
    EXPECT_EQ(form->edt_SMTPServer->text(), "pop.example.jp");
}

TEST_F(FormTest, CharactersOutsideTheCodePageAreRefused) {
    ShowForm();
    int beeps = 0;
    form->edt_POP3Pass->OnBeep = [&] { ++beeps; };
    form->edt_POP3Pass->setFocus();
    for (const char8_t* text : {u8"パス", u8"\U0001F600", u8"\u00E9"}) {  // kana fit; an emoji and é do not
        QInputMethodEvent commit(QString(), {});
        commit.setCommitString(QString::fromUtf8(text));
        QApplication::sendEvent(form->edt_POP3Pass, &commit);
    }
    EXPECT_EQ(FromQString(form->edt_POP3Pass->text()), "パス");
    EXPECT_EQ(beeps, 2);
}

TEST_F(FormTest, LogFollowsTheNewestLineUnlessScrolledUpKeepsTheLastThousandAndCopies) {
    form->btn_ViewLogClick();
    ShowForm();
    for (int i = 0; i < 30; ++i) form->AddLog("行 " + std::to_string(i));
    const QString first = form->lsb_Log->item(0)->text();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d ")).match(first).hasMatch()) << first.toStdString();
    QApplication::processEvents();
    QScrollBar* bar = form->lsb_Log->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    // Rows are taller than the text, so lines do not touch.
    EXPECT_GT(form->lsb_Log->visualItemRect(form->lsb_Log->item(0)).height(), form->lsb_Log->fontMetrics().height());

    // Scrolled up to read: new lines do not pull the view away.
    bar->setValue(0);
    form->AddLog("one more");
    QApplication::processEvents();
    EXPECT_EQ(bar->value(), 0);
    bar->setValue(bar->maximum());
    form->AddLog("and one more");
    QApplication::processEvents();
    EXPECT_EQ(bar->value(), bar->maximum());

    for (int i = 0; i < Tfrm_Main::MaxLogLines; ++i) form->AddLog("x " + std::to_string(i));
    ASSERT_EQ(form->lsb_Log->count(), Tfrm_Main::MaxLogLines);
    EXPECT_EQ(LogTexts().front(), "x 0");
    EXPECT_EQ(LogTexts().back(), "x 999");

    // Ctrl+C copies the selected lines in log order.
    form->lsb_Log->item(5)->setSelected(true);
    form->lsb_Log->item(2)->setSelected(true);
    form->lsb_Log->setFocus();
    QTest::keyClick(form->lsb_Log, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), form->lsb_Log->item(2)->text() + "\n" + form->lsb_Log->item(5)->text());
}

TEST_F(FormTest, LoadingWithoutAFileGivesEmptyFieldsFiveAndSslTlsAndCreatesNothing) {
    form->edt_POP3Server->setText(QStringLiteral("leftover"));
    EXPECT_FALSE(form->LoadSettings());
    EXPECT_EQ(form->edt_POP3Server->text(), "");
    EXPECT_EQ(FromQString(form->cmb_POP3Security->currentText()), "SSL/TLS");
    EXPECT_EQ(FromQString(form->cmb_SMTPSecurity->currentText()), "SSL/TLS");
    EXPECT_EQ(form->cmb_Adress->currentText(), "");
    EXPECT_EQ(form->edt_WatchInterval->text(), "5");
    struct stat info;
    EXPECT_NE(stat(IniPath().c_str(), &info), 0);
}

TEST_F(FormTest, LoadingFillsEveryControlAndClampsTheInterval) {
    WriteIni("[POP3]\r\nServer=pop.example.jp\r\nUser=taro\r\nPass=p@ss=word\r\n"
             "[SMTP]\r\nServer=smtp.example.jp\r\nUser=jiro\r\nPass=\x83\x70\x83\x58\r\n"
             "[Mail]\r\nUser=keitai\r\nDomain=not.in.the.list\r\n[Common]\r\nInterval=500\r\n");
    EXPECT_TRUE(form->LoadSettings());
    EXPECT_EQ(form->edt_POP3Server->text(), "pop.example.jp");
    EXPECT_EQ(form->edt_POP3User->text(), "taro");
    EXPECT_EQ(form->edt_POP3Pass->text(), "p@ss=word");
    EXPECT_EQ(form->edt_SMTPServer->text(), "smtp.example.jp");
    EXPECT_EQ(form->edt_SMTPUser->text(), "jiro");
    EXPECT_EQ(FromQString(form->edt_SMTPPass->text()), "パス");
    EXPECT_EQ(form->edt_Adress->text(), "keitai");
    EXPECT_EQ(form->cmb_Adress->currentText(), "not.in.the.list");
    EXPECT_EQ(form->cmb_Adress->count(), 10);
    EXPECT_EQ(form->edt_WatchInterval->text(), "120");

    const std::pair<const char*, const char*> intervals[] = {{"0", "1"}, {"0x0A", "10"}, {"word", "5"}, {"7", "7"}};
    for (const auto& [stored, shown] : intervals) {
        WriteIni(std::string("[Common]\r\nInterval=") + stored + "\r\n");
        form->LoadSettings();
        EXPECT_EQ(form->edt_WatchInterval->text().toStdString(), shown) << stored;
    }
}

TEST_F(FormTest, SavingWritesEveryValueAsTypedAndTellsWhetherTheFileWasThere) {
    form->edt_POP3Server->setText(QStringLiteral("pop.example.jp"));
    form->edt_POP3User->setText(QStringLiteral("taro"));
    form->edt_POP3Pass->setText(QStringLiteral("spaced = pass"));
    form->edt_SMTPServer->setText(QStringLiteral("smtp.example.jp"));
    form->edt_SMTPPass->setText(ToQString("パス"));
    form->edt_Adress->setText(QStringLiteral("keitai"));
    form->cmb_Adress->setEditText(QStringLiteral("docomo.ne.jp"));
    form->edt_WatchInterval->setText(QStringLiteral("999"));  // typed, not yet corrected
    EXPECT_FALSE(form->SaveSettings());
    EXPECT_TRUE(form->SaveSettings());

    struct stat info;
    ASSERT_EQ(stat(IniPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    form->edt_POP3Server->clear();
    form->edt_POP3Pass->clear();
    form->edt_SMTPPass->clear();
    form->cmb_Adress->setEditText(QString());
    EXPECT_TRUE(form->LoadSettings());
    EXPECT_EQ(form->edt_POP3Server->text(), "pop.example.jp");
    EXPECT_EQ(form->edt_POP3Pass->text(), "spaced = pass");
    EXPECT_EQ(FromQString(form->edt_SMTPPass->text()), "パス");
    EXPECT_EQ(form->edt_SMTPUser->text(), "");
    EXPECT_EQ(form->cmb_Adress->currentText(), "docomo.ne.jp");
    EXPECT_EQ(form->edt_WatchInterval->text(), "120");
    EXPECT_NE(ReadIni().find("Interval=999"), std::string::npos);
}

// Encryption, envelope sender and the hand-set certificate authorities, as the window and the
// command-line modes read them.
TEST_F(FormTest, SecurityEnvelopeSenderAndCAFileRoundTripAndTheHeadlessReaderAgrees) {
    WriteIni("[POP3]\r\nServer=pop.example.jp\r\nSecurity=STARTTLS\r\nCAFile=/etc/own-ca.pem\r\n"
             "[SMTP]\r\nServer=smtp.example.jp:2525\r\nSecurity=tls\r\nCAFile=/srv/ca \x83\x70.pem\r\n"
             "EnvelopeFrom=taro@example.jp\r\n");
    EXPECT_TRUE(form->LoadSettings());
    EXPECT_EQ(FromQString(form->cmb_POP3Security->currentText()), "STARTTLS");
    EXPECT_EQ(FromQString(form->cmb_SMTPSecurity->currentText()), "SSL/TLS");
    EXPECT_EQ(form->edt_EnvelopeFrom->text(), "taro@example.jp");
    const TServerSettings fields = form->SettingsFromFields().Servers;
    const TServerSettings stored = ReadSettingsFile(IniPath()).Servers;
    for (const TServerSettings& s : {fields, stored}) {
        EXPECT_EQ(s.Pop3Access.Security, TSecurity::StartTLS);
        EXPECT_EQ(s.SmtpAccess.Security, TSecurity::TLS);
        EXPECT_EQ(s.SmtpServer, "smtp.example.jp:2525");
        EXPECT_EQ(s.Pop3Access.CAFile, "/etc/own-ca.pem");
        EXPECT_EQ(s.SmtpAccess.CAFile, "/srv/ca \x83\x70.pem");
        EXPECT_EQ(s.EnvelopeFrom, "taro@example.jp");
    }

    form->cmb_POP3Security->setCurrentIndex(2);
    form->cmb_SMTPSecurity->setCurrentIndex(0);
    form->edt_EnvelopeFrom->clear();
    form->SaveSettings();
    const std::string saved = ReadIni();
    EXPECT_NE(saved.find("[POP3]\r\nServer=pop.example.jp\r\nSecurity=TLS\r\nCAFile=/etc/own-ca.pem\r\n"),
              std::string::npos) << saved;
    EXPECT_NE(saved.find("Security=None\r\nCAFile=/srv/ca \x83\x70.pem\r\nEnvelopeFrom=\r\n"), std::string::npos) << saved;
    const TServerSettings resaved = ReadSettingsFile(IniPath()).Servers;
    EXPECT_EQ(resaved.Pop3Access.Security, TSecurity::TLS);
    EXPECT_EQ(resaved.SmtpAccess.Security, TSecurity::None);
    EXPECT_EQ(resaved.EnvelopeFrom, "");
    EXPECT_EQ(resaved.SmtpAccess.CAFile, "/srv/ca \x83\x70.pem");
}

// An upgrade changes nothing: a file from before the choice connects in plain text on the
// standard ports, also after the window has saved it.
TEST_F(FormTest, AFileWithoutSecurityLoadsAsNoneAndSavesNone) {
    WriteIni("[POP3]\r\nServer=pop.example.jp\r\n[SMTP]\r\nServer=smtp.example.jp\r\n");
    EXPECT_TRUE(form->LoadSettings());
    EXPECT_EQ(FromQString(form->cmb_POP3Security->currentText()), "なし");
    EXPECT_EQ(FromQString(form->cmb_SMTPSecurity->currentText()), "なし");
    EXPECT_EQ(ReadSettingsFile(IniPath()).Servers.Pop3Access.Security, TSecurity::None);
    form->SaveSettings();
    const std::string saved = ReadIni();
    EXPECT_NE(saved.find("[POP3]\r\nServer=pop.example.jp\r\n"), std::string::npos) << saved;
    const TServerSettings stored = ReadSettingsFile(IniPath()).Servers;
    EXPECT_EQ(stored.Pop3Access.Security, TSecurity::None);
    EXPECT_EQ(stored.SmtpAccess.Security, TSecurity::None);
    EXPECT_EQ(ParseServerText(stored.Pop3Server, DefaultPort(TServerKind::Pop3, stored.Pop3Access.Security)).Port, 110);
    EXPECT_EQ(ParseServerText(stored.SmtpServer, DefaultPort(TServerKind::Smtp, stored.SmtpAccess.Security)).Port, 25);
    EXPECT_EQ(saved.find("CAFile"), std::string::npos);
}

// A hand-edited file: what a field cannot hold is refused with a line naming it, not sent as "?"
// or cut, and stays in the file until the field is filled in again.
TEST_F(FormTest, StoredTextsAFieldCannotHoldAreRefusedByNameAndKeptInTheFile) {
    const std::string emoji = "\xF0\x9F\x98\x80", longPass(40000, 'p');
    WriteIni("[POP3]\r\nServer=pop.example.jp\r\nUser=" + emoji + "\r\nPass=" + longPass +
             "\r\n[SMTP]\r\nServer=smtp\x82\r\nEnvelopeFrom=" + emoji + "\r\n[Mail]\r\nUser=\" keitai \"\r\n");
    EXPECT_TRUE(form->LoadSettings());
    EXPECT_EQ(form->edt_POP3Server->text(), "pop.example.jp");
    EXPECT_EQ(form->edt_POP3User->text(), "");
    EXPECT_EQ(form->edt_POP3Pass->text(), "");
    EXPECT_EQ(form->edt_SMTPServer->text(), "");
    EXPECT_EQ(form->edt_Adress->text(), " keitai ");
    EXPECT_EQ(LogTexts(), (std::vector<std::string>{"設定ファイルの[POP3]User はCP932 で表せない文字を含むため読み込みません",
                                                    "設定ファイルの[POP3]Pass は長すぎるため読み込みません",
                                                    "設定ファイルの[SMTP]Server はCP932 で表せない文字を含むため読み込みません",
                                                    "設定ファイルの[SMTP]EnvelopeFrom はCP932 で表せない文字を含むため読み込みません"}));
    form->edt_SMTPServer->setText(QStringLiteral("smtp.example.jp"));
    form->SaveSettings();
    const std::string saved = ReadIni();
    EXPECT_NE(saved.find("\r\nUser=" + emoji + "\r\nPass=" + longPass + "\r\n"), std::string::npos);
    EXPECT_NE(saved.find("[SMTP]\r\nServer=smtp.example.jp\r\nEnvelopeFrom=" + emoji + "\r\n"), std::string::npos);
    EXPECT_NE(saved.find("[Mail]\r\nUser=\" keitai \"\r\n"), std::string::npos);
}

TEST_F(FormTest, AnotherExecutableNameUsesAnotherSettingsFile) {
    WriteIni("[POP3]\r\nServer=pop.example.jp\r\n");
    ExeName = "renamed.bin";
    EXPECT_EQ(form->SettingsPath(), folder + "/renamed.ini");
    EXPECT_FALSE(form->LoadSettings());
    ExeName = "noext";
    EXPECT_EQ(form->SettingsPath(), folder + "/noext.ini");
}

}  // namespace
}  // namespace tarnwick::test
