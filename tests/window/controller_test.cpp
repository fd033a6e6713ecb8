// Moving between the settings window and the tray, the watch timer, ending, and errors.
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <csignal>

#include "app/window/EndSignals.h"

#include "window/FormFixture.h"

namespace tarnwick::test {
namespace {

const char* const FirstSaveBox = "情報|次回起動時よりタスクアイコン表示となります";

class ControllerTest : public FormTest {
protected:
    void TypeSettings() {
        form->edt_POP3Server->setText(QStringLiteral("127.0.0.1:2110"));
        form->edt_POP3User->setText(QStringLiteral("taro"));
        form->edt_POP3Pass->setText(QStringLiteral("secret"));
        form->edt_SMTPServer->setText(QStringLiteral("127.0.0.1:2525"));
        form->edt_SMTPUser->setText(QStringLiteral("su"));
        form->edt_SMTPPass->setText(QStringLiteral("sp"));
        form->edt_Adress->setText(QStringLiteral("keitai"));
        form->cmb_Adress->setEditText(QStringLiteral("docomo.ne.jp"));
    }
    // First start: no settings file, so the window stays.
    void StartWithoutFile() {
        ShowForm();
        form->tim_StartAtOnceTimer();
    }
    void CloseWindow() { form->close(); }
    void ChooseEnd() { form->mi_Close->trigger(); }
};

TEST_F(ControllerTest, FirstStartKeepsTheWindowThenClosingGoesToTheTrayAndRunsACycle) {
    StartWithoutFile();
    EXPECT_FALSE(form->tim_StartAtOnce.Enabled());
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->tray_Main->Visible());
    EXPECT_FALSE(form->tim_Watchinterval.Enabled());
    EXPECT_EQ(form->edt_WatchInterval->text(), "5");

    TypeSettings();
    CloseWindow();
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(form->tray_Main->Added());
    EXPECT_EQ(form->Background(), Tfrm_Main::TBackground::Tray);
    WaitIdle();
    EXPECT_TRUE(form->tim_Watchinterval.Active());
    EXPECT_EQ(form->tim_Watchinterval.Interval(), 5 * 60000);
    ASSERT_EQ(cycles.size(), 1u);
    EXPECT_EQ(cycles[0].settings.Pop3Server, "127.0.0.1:2110");
    EXPECT_EQ(cycles[0].settings.Pop3User, "taro");
    EXPECT_EQ(cycles[0].settings.Pop3Pass, "secret");
    EXPECT_EQ(cycles[0].settings.SmtpServer, "127.0.0.1:2525");
    EXPECT_EQ(cycles[0].settings.SmtpUser, "su");
    EXPECT_EQ(cycles[0].settings.SmtpPass, "sp");
    // A first start offers encrypted connections.
    EXPECT_EQ(cycles[0].settings.Pop3Access.Security, TSecurity::TLS);
    EXPECT_EQ(cycles[0].settings.SmtpAccess.Security, TSecurity::TLS);
    EXPECT_EQ(cycles[0].address, "keitai@docomo.ne.jp");
    EXPECT_EQ(form->tray_Main->TipHelp().substr(0, 13), "メール監視中\n");
    // Closed with new values: they are saved, lest a logout lose them.
    EXPECT_NE(ReadIni().find("Server=127.0.0.1:2110"), std::string::npos);
}

TEST_F(ControllerTest, SigtermKeepsWhatWasTypedAndEndsWithoutALastCycleWhileAnUntouchedWindowWritesNothing) {
    StartWithoutFile();
    TEndSignals endSignals([this] { form->EndNow(); });
    // Nothing typed: nothing written, or the next start would go to the tray unconfigured.
    EXPECT_FALSE(form->SaveChangedSettings());
    TypeSettings();
    std::raise(SIGTERM);
    WaitEnded();
    EXPECT_NE(ReadIni().find("Server=127.0.0.1:2110"), std::string::npos);
    EXPECT_TRUE(cycles.empty());
}

TEST_F(ControllerTest, ClickOnTheIconOrSettingShowsTheWindowAndStopsWatching) {
    StartWithoutFile();
    CloseWindow();
    WaitIdle();
    shell.Send(WM_LBUTTONDOWN);
    shell.Send(WM_LBUTTONUP);
    QTRY_VERIFY_WITH_TIMEOUT(form->isVisible(), 2000);
    EXPECT_FALSE(form->tray_Main->Visible());
    EXPECT_FALSE(shell.held);
    EXPECT_FALSE(form->tim_Watchinterval.Enabled());

    // Closing again watches with the interval now in the box and runs a cycle at once.
    form->edt_WatchInterval->SetValue(7);
    CloseWindow();
    WaitIdle();
    EXPECT_EQ(form->tim_Watchinterval.Interval(), 7 * 60000);
    EXPECT_EQ(cycles.size(), 2u);

    form->mi_Setting->trigger();
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->tim_Watchinterval.Enabled());
}

TEST_F(ControllerTest, TheMenuChecksNowWhileWatchingAndShowsTheLog) {
    StartWithoutFile();
    TypeSettings();
    form->mi_CheckNow->trigger();  // the window is open: nothing is watched
    EXPECT_TRUE(cycles.empty());
    CloseWindow();
    WaitIdle();
    form->mi_CheckNow->trigger();
    WaitIdle();
    EXPECT_EQ(cycles.size(), 2u);
    form->mi_ShowLog->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(form->isVisible(), 2000);
    EXPECT_FALSE(form->pnl_Log->isHidden());
}

TEST_F(ControllerTest, EndingFromTheTrayMenuSavesShowsTheFirstRunMessageAndRunsALastCycle) {
    StartWithoutFile();
    TypeSettings();
    CloseWindow();
    ChooseEnd();
    WaitEnded();
    EXPECT_EQ(boxes, std::vector<std::string>{FirstSaveBox});
    EXPECT_EQ(cycles.size(), 2u);
    const std::string ini = ReadIni();
    EXPECT_NE(ini.find("Server=127.0.0.1:2110"), std::string::npos);
    EXPECT_NE(ini.find("Domain=docomo.ne.jp"), std::string::npos);
    EXPECT_NE(ini.find("Interval=5"), std::string::npos);
}

TEST_F(ControllerTest, EndingAskedAgainWhileTheFirstSaveMessageWaitsIsIgnored) {
    StartWithoutFile();
    CloseWindow();
    form->MessageBoxHook = [this](const std::string& caption, const std::string& text) {
        boxes.push_back(caption + "|" + text);
        ChooseEnd();  // the tray menu still works while the box is up
    };
    ChooseEnd();
    WaitEnded();
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(cycles.size(), 2u);
}

TEST_F(ControllerTest, StartWithASettingsFileGoesToTheTrayByItselfAndWaitsAnInterval) {
    WriteIni("[POP3]\r\nServer=pop.example.jp\r\n[Mail]\r\nUser=u\r\nDomain=d.jp\r\n[Common]\r\nInterval=3\r\n");
    ShowForm();
    EXPECT_TRUE(form->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!form->isVisible(), 2000);
    EXPECT_TRUE(form->tray_Main->Added());
    EXPECT_EQ(form->tim_Watchinterval.Interval(), 3 * 60000);
    EXPECT_TRUE(form->tim_Watchinterval.Active());
    EXPECT_TRUE(cycles.empty());
    EXPECT_EQ(form->Settings.Servers.Pop3Server, "pop.example.jp");
    EXPECT_EQ(form->Settings.ForwardAddress(), "u@d.jp");

    // The file exists: ending shows no message.
    ChooseEnd();
    WaitEnded();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(cycles.size(), 1u);
}

// IMAP: one watch from the start instead of the interval's cycles; 今すぐ確認 wakes it, the open
// window and 終了 end its wait at once, with no last cycle.
TEST_F(ControllerTest, ImapIsWatchedFromTheStartAndTheWindowOrTheEndStopsTheWatch) {
    WriteIni("[POP3]\r\nServer=imap.example.jp\r\nProtocol=IMAP\r\n[Mail]\r\nUser=u\r\nDomain=d.jp\r\n");
    ShowForm();
    QTRY_VERIFY_WITH_TIMEOUT(!form->isVisible(), 2000);
    EXPECT_EQ(form->cmb_POP3Protocol->currentText(), "IMAP");
    auto watched = [this] {
        std::lock_guard<std::mutex> lock(mutex);
        return watchCycles;
    };
    QTRY_COMPARE_WITH_TIMEOUT(watched(), 1, 5000);
    EXPECT_TRUE(form->WorkerBusy());
    EXPECT_FALSE(form->tim_Watchinterval.Active());
    form->mi_CheckNow->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(watched(), 2, 5000);
    form->mi_Setting->trigger();
    WaitIdle();
    CloseWindow();
    QTRY_COMPARE_WITH_TIMEOUT(watched(), 3, 5000);
    ChooseEnd();
    WaitEnded();
    EXPECT_EQ(watched(), 3);
    EXPECT_TRUE(cycles.empty());
    EXPECT_FALSE(aborted);
}

TEST_F(ControllerTest, IntervalBlankBecomesTenAndAnUncorrectedValueIsClamped) {
    StartWithoutFile();
    form->edt_WatchInterval->setText(QStringLiteral("  "));
    CloseWindow();
    WaitIdle();
    EXPECT_EQ(form->edt_WatchInterval->text(), "10");
    EXPECT_EQ(form->tim_Watchinterval.Interval(), 10 * 60000);

    form->ShowSettingsWindow();
    form->edt_WatchInterval->setText(QStringLiteral("0"));
    CloseWindow();
    WaitIdle();
    EXPECT_EQ(form->edt_WatchInterval->text(), "1");
    EXPECT_EQ(form->tim_Watchinterval.Interval(), 60000);

    form->ShowSettingsWindow();
    form->edt_WatchInterval->setText(QStringLiteral("999"));
    CloseWindow();
    EXPECT_EQ(form->tim_Watchinterval.Interval(), 120 * 60000);
}

TEST_F(ControllerTest, TimerTickRunsACycleAndSwitchesTheTimerOnAgainEvenAfterAnError) {
    StartWithoutFile();
    CloseWindow();
    WaitIdle();
    form->tim_WatchintervalTimer();
    WaitIdle();
    EXPECT_EQ(cycles.size(), 2u);
    EXPECT_TRUE(form->tim_Watchinterval.Active());

    // In the tray an error goes to the log and the icon; one notification when things start to
    // fail, never a box or a balloon per interval.
    cycleError = "Socket Error # 10061\r\nConnection refused.";
    for (int i = 0; i < 2; ++i) {
        form->tim_WatchintervalTimer();
        WaitIdle();
    }
    EXPECT_TRUE(form->tim_Watchinterval.Active());
    EXPECT_TRUE(boxes.empty());
    ASSERT_EQ(shell.balloons.size(), 1u);
    EXPECT_EQ(shell.balloons[0], "Tarnwick|エラーで転送が止まりました: Socket Error # 10061 Connection refused.");
    EXPECT_EQ(LogTexts().back(), "Socket Error # 10061 Connection refused.");
    EXPECT_TRUE(form->Failing());
    EXPECT_NE(form->tray_Main->TipHelp().find("エラーで中断"), std::string::npos);
}

TEST_F(ControllerTest, CycleErrorWhenClosingTheWindowLeavesTheProgramInTheTray) {
    StartWithoutFile();
    cycleError = "boom";
    CloseWindow();
    WaitIdle();
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(form->tray_Main->Visible());
    EXPECT_TRUE(form->tim_Watchinterval.Active());
    EXPECT_FALSE(form->Ended());
    EXPECT_EQ(shell.balloons.size(), 1u);
}

TEST_F(ControllerTest, ErrorsOnTheWayOutAreShownAndTheProgramStillEnds) {
    StartWithoutFile();
    CloseWindow();
    WaitIdle();
    cycleError = "last cycle failed";
    ExePath = "/dev/null/";  // the settings file cannot be written there
    ChooseEnd();
    WaitEnded();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], "Tarnwick|/dev/null/tarnwick.ini に書き込めません。Not a directory");
    EXPECT_EQ(boxes[1], "Tarnwick|last cycle failed");
    EXPECT_FALSE(form->tim_Watchinterval.Active());
}

TEST_F(ControllerTest, RefusedTrayIconIsReportedInABoxAndTheWindowStays) {
    StartWithoutFile();
    shell.refuseAdd = true;
    CloseWindow();
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->tim_Watchinterval.Enabled());
    EXPECT_TRUE(cycles.empty());
    EXPECT_EQ(boxes, std::vector<std::string>{"Tarnwick|タスクトレイにアイコンを登録できません。"});
    // The icon still counts as shown, so the next close ends the program.
    CloseWindow();
    WaitEnded();
}

TEST_F(ControllerTest, WithoutANotificationAreaTheWindowIsMinimizedAndHasAnEndButton) {
    shell.available = false;
    StartWithoutFile();
    EXPECT_TRUE(form->pnl_Quit->isVisible());
    EXPECT_EQ(ClientHeight(), 340 + 33);
    CloseWindow();
    EXPECT_EQ(form->Background(), Tfrm_Main::TBackground::Window);
    EXPECT_TRUE(form->isMinimized());
    WaitIdle();
    EXPECT_TRUE(form->tim_Watchinterval.Active());
    EXPECT_EQ(cycles.size(), 1u);
    EXPECT_EQ(LogTexts()[0], "タスクトレイがないため、ウィンドウを最小化して監視します");
    EXPECT_EQ(shell.Count(NIM_ADD), 0);

    // A notification area that appears later is used.
    shell.available = true;
    QTRY_VERIFY_WITH_TIMEOUT(form->Background() == Tfrm_Main::TBackground::Tray, Tfrm_Main::TrayPollInterval + 1500);
    EXPECT_TRUE(form->tray_Main->Added());
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(form->tim_Watchinterval.Active());
}

TEST_F(ControllerTest, TheEndButtonEndsLikeTheTrayMenu) {
    shell.available = false;
    StartWithoutFile();
    CloseWindow();
    WaitIdle();
    form->showNormal();  // the user brings the window back: watching stops
    QApplication::processEvents();
    EXPECT_EQ(form->Background(), Tfrm_Main::TBackground::None);
    EXPECT_FALSE(form->tim_Watchinterval.Enabled());
    QTest::mouseClick(form->btn_Quit, Qt::LeftButton);
    WaitEnded();
    // No notification area: nothing to promise about an icon at the next start.
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(cycles.size(), 2u);
}

TEST_F(ControllerTest, OneCycleAtATimeAndNoneStartsWhileTheWindowIsOpen) {
    StartWithoutFile();
    TypeSettings();
    Hold();
    CloseWindow();
    ASSERT_TRUE(QTest::qWaitFor([this] { return CycleCount() == 1; }, 10000));

    // The window opens while the cycle runs; the cycle goes on, nothing new starts.
    form->mi_Setting->trigger();
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->WorkerBusy());
    form->tim_WatchintervalTimer();
    EXPECT_FALSE(form->tim_Watchinterval.Enabled());

    // Closing asks for a cycle with the fields as they are now; it waits for the running one.
    form->edt_POP3Server->setText(QStringLiteral("pop.changed.jp"));
    CloseWindow();
    EXPECT_EQ(CycleCount(), 1u);
    Release();
    WaitIdle();
    ASSERT_TRUE(QTest::qWaitFor([this] { return CycleCount() == 2 && !form->WorkerBusy(); }, 10000));
    EXPECT_EQ(cycles[0].settings.Pop3Server, "127.0.0.1:2110");
    EXPECT_EQ(cycles[1].settings.Pop3Server, "pop.changed.jp");
    EXPECT_TRUE(form->tim_Watchinterval.Active());

    // A cycle that ends while the window is open does not start the timer.
    Hold();
    form->tim_WatchintervalTimer();
    form->ShowSettingsWindow();
    Release();
    WaitIdle();
    EXPECT_EQ(CycleCount(), 3u);
    EXPECT_FALSE(form->tim_Watchinterval.Enabled());
}

TEST_F(ControllerTest, EndDuringACycleWaitsForItThenRunsTheLastOne) {
    StartWithoutFile();
    Hold();
    CloseWindow();
    ASSERT_TRUE(QTest::qWaitFor([this] { return CycleCount() == 1; }, 10000));
    ChooseEnd();
    EXPECT_FALSE(form->Ended());
    EXPECT_EQ(form->Ending(), Tfrm_Main::TEnding::Waiting);
    EXPECT_EQ(LogTexts().back(), "転送の終了を待っています（もう一度「終了」を選ぶと中断します）");
    EXPECT_FALSE(ReadIni().empty());  // saved at once
    Release();
    WaitEnded();
    EXPECT_EQ(CycleCount(), 2u);
    EXPECT_FALSE(form->tray_Main->Added());
}

TEST_F(ControllerTest, SecondEndClosesTheConnectionsAndEndsWithoutALastCycle) {
    StartWithoutFile();
    Hold();
    CloseWindow();
    ASSERT_TRUE(QTest::qWaitFor([this] { return CycleCount() == 1; }, 10000));
    ChooseEnd();
    ChooseEnd();
    WaitEnded();
    EXPECT_TRUE(aborted);
    EXPECT_EQ(CycleCount(), 1u);
    const std::vector<std::string> log = LogTexts();
    EXPECT_NE(std::find(log.begin(), log.end(), "転送を中断して終了します"), log.end());
    EXPECT_EQ(boxes, std::vector<std::string>{FirstSaveBox});  // no error box for the cut-off cycle
}

TEST_F(ControllerTest, TipAndWarningIconTellTheLastOutcomeWithOneNotificationPerChange) {
    StartWithoutFile();
    const QImage normal = form->tray_Main->Icon().pixmap(32, 32).toImage();
    cycleResult.End = TCycleReport::TEnd::Pop3LoginFailed;
    CloseWindow();
    WaitIdle();
    EXPECT_TRUE(form->Failing());
    EXPECT_NE(form->tray_Main->TipHelp().find("POP3ログイン失敗"), std::string::npos);
    EXPECT_NE(form->tray_Main->Icon().pixmap(32, 32).toImage(), normal);
    cycleResult.End = TCycleReport::TEnd::SmtpLoginFailed;
    form->tim_WatchintervalTimer();
    WaitIdle();
    EXPECT_NE(form->tray_Main->TipHelp().find("SMTPログイン失敗"), std::string::npos);
    EXPECT_EQ(shell.balloons, std::vector<std::string>{"Tarnwick|POP3サーバにログインできません"});

    cycleResult = TCycleReport{};
    cycleResult.Forwarded = 3;
    form->tim_WatchintervalTimer();
    WaitIdle();
    EXPECT_FALSE(form->Failing());
    const std::string tip = form->tray_Main->TipHelp();
    EXPECT_EQ(tip.substr(0, 13), "メール監視中\n");
    EXPECT_NE(tip.find(" 転送 3件"), std::string::npos) << tip;
    EXPECT_LE(tip.size(), MaxTipLength);
    EXPECT_EQ(form->tray_Main->Icon().pixmap(32, 32).toImage(), normal);
    ASSERT_EQ(shell.balloons.size(), 2u);
    EXPECT_EQ(shell.balloons[1], "Tarnwick|メールの転送を再開しました");

    form->tim_WatchintervalTimer();
    WaitIdle();
    EXPECT_EQ(shell.balloons.size(), 2u);
    cycleResult = TCycleReport{};
    cycleResult.End = TCycleReport::TEnd::Incomplete;
    form->tim_WatchintervalTimer();
    WaitIdle();
    EXPECT_EQ(form->tray_Main->TipHelp().substr(0, 17), "設定が不完全です\n");
}

TEST_F(ControllerTest, FullWidthInputIsFoldedAndABadFieldStopsTheTestAndOnceTheClose) {
    StartWithoutFile();
    TypeSettings();
    form->edt_POP3Server->setText(QString::fromUtf8(u8"127.0.0.1\uff1a\uff12\uff11\uff11\uff10"));
    emit form->edt_POP3Server->editingFinished();
    EXPECT_EQ(form->edt_POP3Server->text(), "127.0.0.1:2110");
    form->edt_Adress->setText(QStringLiteral("taro@"));
    EXPECT_FALSE(form->edt_Adress->styleSheet().isEmpty());  // marked as typed
    QTest::mouseClick(form->btn_Test, Qt::LeftButton);
    EXPECT_TRUE(tests.empty());
    EXPECT_EQ(FromQString(form->lbl_TestResult->text()).rfind("転送先メールアドレスの", 0), 0u);
    CloseWindow();
    EXPECT_TRUE(form->isVisible());
    ASSERT_EQ(boxes.size(), 1u);
    CloseWindow();  // the second close goes on
    EXPECT_FALSE(form->isVisible());
}

TEST_F(ControllerTest, ConnectionTestUsesTheFieldsAsTypedAndShowsItsSummary) {
    StartWithoutFile();
    TypeSettings();
    testReport.Summary = "POP3: -ERR [AUTH] Authentication failed.";
    QTest::mouseClick(form->btn_Test, Qt::LeftButton);
    WaitIdle();
    ASSERT_EQ(tests.size(), 1u);
    EXPECT_EQ(tests[0].Pop3Server, "127.0.0.1:2110");
    EXPECT_EQ(tests[0].SmtpPass, "sp");
    EXPECT_EQ(FromQString(form->lbl_TestResult->toolTip()), "POP3: -ERR [AUTH] Authentication failed.");
    EXPECT_EQ(LogTexts().back(), "test");
    EXPECT_TRUE(ReadIni().empty());  // nothing saved
    EXPECT_TRUE(cycles.empty());

    // Not while a cycle runs.
    Hold();
    CloseWindow();
    ASSERT_TRUE(QTest::qWaitFor([this] { return CycleCount() == 1; }, 10000));
    form->ShowSettingsWindow();
    EXPECT_FALSE(form->btn_Test->isEnabled());
    form->btn_TestClick();
    Release();
    WaitIdle();
    EXPECT_EQ(tests.size(), 1u);
    EXPECT_TRUE(form->btn_Test->isEnabled());
}

TEST_F(ControllerTest, SkipExistingIsOnForAFirstStartOffForAnOldFileAndReachesTheCycle) {
    StartWithoutFile();
    EXPECT_TRUE(form->chk_SkipExisting->isChecked());
    CloseWindow();
    WaitIdle();
    EXPECT_TRUE(cycles[0].settings.SkipExisting);
    form->chk_SkipExisting->setChecked(false);
    EXPECT_FALSE(form->SaveSettings());
    EXPECT_NE(ReadIni().find("SkipExisting=0"), std::string::npos);

    WriteIni("[Common]\r\nInterval=3\r\n");
    form->chk_SkipExisting->setChecked(true);
    form->LoadSettings();
    EXPECT_FALSE(form->chk_SkipExisting->isChecked());
    WriteIni("[Common]\r\nSkipExisting=1\r\n");
    form->LoadSettings();
    EXPECT_TRUE(form->chk_SkipExisting->isChecked());
}

}  // namespace
}  // namespace tarnwick::test
