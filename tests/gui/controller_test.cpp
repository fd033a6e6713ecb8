// Moving between the settings window and the tray, the watch timer, ending, and errors.
#include <QPushButton>

#include "gui/FormFixture.h"

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
    EXPECT_TRUE(form->tim_Watchinterval.Active());
    EXPECT_EQ(form->tim_Watchinterval.Interval(), 5 * 60000);
    ASSERT_EQ(cycles.size(), 1u);
    EXPECT_EQ(cycles[0].settings.Pop3Server, "127.0.0.1:2110");
    EXPECT_EQ(cycles[0].settings.Pop3User, "taro");
    EXPECT_EQ(cycles[0].settings.Pop3Pass, "secret");
    EXPECT_EQ(cycles[0].settings.SmtpServer, "127.0.0.1:2525");
    EXPECT_EQ(cycles[0].settings.SmtpUser, "su");
    EXPECT_EQ(cycles[0].settings.SmtpPass, "sp");
    EXPECT_EQ(cycles[0].address, "keitai@docomo.ne.jp");
    EXPECT_EQ(form->tray_Main->TipHelp(), "メール監視中");
    // Leaving for the tray does not save.
    EXPECT_TRUE(ReadIni().empty());
}

TEST_F(ControllerTest, ClickOnTheIconOrSettingShowsTheWindowAndStopsWatching) {
    StartWithoutFile();
    CloseWindow();
    shell.Send(WM_LBUTTONDOWN);
    shell.Send(WM_LBUTTONUP);
    QTRY_VERIFY_WITH_TIMEOUT(form->isVisible(), 2000);
    EXPECT_FALSE(form->tray_Main->Visible());
    EXPECT_FALSE(shell.held);
    EXPECT_FALSE(form->tim_Watchinterval.Enabled());

    // Closing again watches with the interval now in the box and runs a cycle at once.
    form->edt_WatchInterval->SetValue(7);
    CloseWindow();
    EXPECT_EQ(form->tim_Watchinterval.Interval(), 7 * 60000);
    EXPECT_EQ(cycles.size(), 2u);

    form->mi_Setting->trigger();
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->tim_Watchinterval.Enabled());
}

TEST_F(ControllerTest, EndingFromTheTrayMenuSavesShowsTheFirstRunMessageAndRunsALastCycle) {
    StartWithoutFile();
    TypeSettings();
    CloseWindow();
    ChooseEnd();
    EXPECT_TRUE(form->Ended());
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
    EXPECT_TRUE(form->Ended());
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
    EXPECT_EQ(form->ServerSettings.Pop3Server, "pop.example.jp");
    EXPECT_EQ(form->ForwardAddress, "u@d.jp");

    // The file exists: ending shows no message.
    ChooseEnd();
    EXPECT_TRUE(form->Ended());
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(cycles.size(), 1u);
}

TEST_F(ControllerTest, IntervalBlankBecomesTenAndAnUncorrectedValueIsClamped) {
    StartWithoutFile();
    form->edt_WatchInterval->setText(QStringLiteral("  "));
    CloseWindow();
    EXPECT_EQ(form->edt_WatchInterval->text(), "10");
    EXPECT_EQ(form->tim_Watchinterval.Interval(), 10 * 60000);

    form->ShowSettingsWindow();
    form->edt_WatchInterval->setText(QStringLiteral("0"));
    CloseWindow();
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
    form->tim_WatchintervalTimer();
    EXPECT_EQ(cycles.size(), 2u);
    EXPECT_TRUE(form->tim_Watchinterval.Active());

    // In the tray an error goes to a balloon and the log, never to a box that would pile up.
    cycleError = "Socket Error # 10061\r\nConnection refused.";
    form->tim_WatchintervalTimer();
    form->tim_WatchintervalTimer();
    EXPECT_TRUE(form->tim_Watchinterval.Active());
    EXPECT_TRUE(boxes.empty());
    ASSERT_EQ(shell.balloons.size(), 2u);
    EXPECT_EQ(shell.balloons[0], "Tarnwick|Socket Error # 10061 Connection refused.");
    EXPECT_EQ(LogTexts().back(), "Socket Error # 10061 Connection refused.");
}

TEST_F(ControllerTest, CycleErrorWhenClosingTheWindowLeavesTheProgramInTheTray) {
    StartWithoutFile();
    cycleError = "boom";
    CloseWindow();
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(form->tray_Main->Visible());
    EXPECT_TRUE(form->tim_Watchinterval.Active());
    EXPECT_FALSE(form->Ended());
    EXPECT_EQ(shell.balloons.size(), 1u);
}

TEST_F(ControllerTest, ErrorsOnTheWayOutAreShownAndTheProgramStillEnds) {
    StartWithoutFile();
    CloseWindow();
    cycleError = "last cycle failed";
    ExePath = "/dev/null/";  // the settings file cannot be written there
    ChooseEnd();
    EXPECT_TRUE(form->Ended());
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], "Tarnwick|/dev/null/tarnwick.ini に書き込めません");
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
    EXPECT_TRUE(form->Ended());
}

TEST_F(ControllerTest, WithoutANotificationAreaTheWindowIsMinimizedAndHasAnEndButton) {
    shell.available = false;
    StartWithoutFile();
    EXPECT_TRUE(form->pnl_Quit->isVisible());
    EXPECT_EQ(ClientHeight(), 305 + 33);
    CloseWindow();
    EXPECT_EQ(form->Background(), Tfrm_Main::TBackground::Window);
    EXPECT_TRUE(form->isMinimized());
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
    form->showNormal();  // the user brings the window back: watching stops
    QApplication::processEvents();
    EXPECT_EQ(form->Background(), Tfrm_Main::TBackground::None);
    EXPECT_FALSE(form->tim_Watchinterval.Enabled());
    QTest::mouseClick(form->btn_Quit, Qt::LeftButton);
    EXPECT_TRUE(form->Ended());
    EXPECT_EQ(boxes, std::vector<std::string>{FirstSaveBox});
    EXPECT_EQ(cycles.size(), 2u);
}

}  // namespace
}  // namespace tarnwick::test
