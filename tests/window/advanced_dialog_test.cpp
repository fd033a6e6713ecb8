// The 詳細設定 dialog, the window that opens it and grows with its log, and Qt's own texts in Japanese.
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>

#include "app/window/AdvancedDialog.h"
#include "app/window/Translations.h"
#include "window/FormFixture.h"
#include "platform/IniFile.h"

namespace tarnwick::test {
namespace {

std::vector<std::string> Rows(const Tdlg_Advanced& dialog) {
    std::vector<std::string> rows;
    for (const TForwardRule& rule : dialog.Filter().Rules.Items) rows.push_back(rule.ToText());
    return rows;
}

TEST(AdvancedDialog, DefaultsForwardEverythingAndRulesAreAddedAndRemovedByHand) {
    Tdlg_Advanced dialog;
    EXPECT_EQ(dialog.Filter(), TForwardFilter{});
    EXPECT_FALSE(dialog.btn_AddRule->isEnabled());
    QTest::keyClicks(dialog.edt_RuleHeader, QStringLiteral("X-Spam-Flag"));
    EXPECT_FALSE(dialog.btn_AddRule->isEnabled()) << "no text yet";
    QTest::keyClicks(dialog.edt_RuleText, QStringLiteral("YES"));
    QTest::mouseClick(dialog.btn_AddRule, Qt::LeftButton);
    dialog.edt_RuleHeader->setText(QStringLiteral("Subject"));
    dialog.edt_RuleText->setText(ToQString("[迷惑]"));
    QTest::keyClick(dialog.edt_RuleText, Qt::Key_Return);
    dialog.edt_RuleHeader->setText(QStringLiteral("Bad:Name"));
    dialog.edt_RuleText->setText(QStringLiteral("x"));
    EXPECT_FALSE(dialog.btn_AddRule->isEnabled());
    EXPECT_EQ(Rows(dialog), (std::vector<std::string>{"X-Spam-Flag: YES", "Subject: [迷惑]"}));

    dialog.lsv_Rules->topLevelItem(0)->setSelected(true);
    QTest::mouseClick(dialog.btn_RemoveRule, Qt::LeftButton);
    EXPECT_EQ(Rows(dialog), (std::vector<std::string>{"Subject: [迷惑]"}));
    EXPECT_FALSE(dialog.btn_RemoveRule->isEnabled());
}

TEST(AdvancedDialog, AFilterGoesInAndComesBackOutWhole) {
    TForwardFilter filter;
    filter.MaxSizeKB = 300;
    filter.SizeNotice = false;
    filter.Rules.Items = {{"X-Spam-Flag", "YES"}, {"Subject", "[meiwaku]"}};
    Tdlg_Advanced dialog;
    dialog.SetFilter(filter);
    EXPECT_EQ(dialog.Filter(), filter);
    dialog.SetFilter(TForwardFilter{});
    EXPECT_EQ(dialog.Filter(), TForwardFilter{});
}

TEST(QtJapanese, StandardButtonsReadJapanese) {
    ASSERT_TRUE(InstallQtJapanese(*QCoreApplication::instance())) << "qtbase_ja missing (qt6-translations-l10n)";
    Tdlg_Advanced dialog;
    EXPECT_EQ(dialog.btn_Box->button(QDialogButtonBox::Cancel)->text(), ToQString("キャンセル"));
    // The edit fields' context menu: "Undo" no more.
    std::unique_ptr<QMenu> menu(dialog.edt_RuleText->createStandardContextMenu());
    ASSERT_FALSE(menu->actions().isEmpty());
    EXPECT_TRUE(menu->actions().first()->text().startsWith(ToQString("元に戻す"))) << menu->actions().first()->text().toStdString();
}

TEST_F(FormTest, TheAdvancedButtonOpensTheDialogAndKeepsWhatWasAccepted) {
    ShowForm();
    EXPECT_EQ(FromQString(form->btn_Advanced->text()), "詳細設定...");
    EXPECT_EQ(form->btn_Advanced->geometry(), QRect(607, 4, 89, 24));
    form->AdvancedDialogHook = [](Tdlg_Advanced& dialog) {
        dialog.edt_MaxSize->setValue(500);
        QTest::mouseClick(dialog.btn_ResendNow, Qt::LeftButton);
        return int(QDialog::Accepted);
    };
    QTest::mouseClick(form->btn_Advanced, Qt::LeftButton);
    EXPECT_EQ(form->SettingsFromFields().Filter.MaxSizeKB, 500);
    EXPECT_TRUE(form->ResendRequested);
    form->AdvancedDialogHook = [](Tdlg_Advanced& dialog) {
        EXPECT_EQ(dialog.edt_MaxSize->value(), 500);
        dialog.edt_MaxSize->setValue(1);
        return int(QDialog::Rejected);
    };
    QTest::mouseClick(form->btn_Advanced, Qt::LeftButton);
    EXPECT_EQ(form->SettingsFromFields().Filter.MaxSizeKB, 500) << "a cancelled dialog changes nothing";
}

TEST_F(FormTest, TheDialogsKeysAndTheWindowSizeRoundTripThroughTheSettingsFile) {
    WriteIni("[Common]\r\nInterval=7\r\n");
    form->LoadSettings();
    // A file from before the dialog: everything forwarded whole, a notice for big mail once a limit is set.
    form->AdvancedDialogHook = [](Tdlg_Advanced& dialog) {
        EXPECT_EQ(dialog.Filter(), TForwardFilter{});
        dialog.edt_MaxSize->setValue(300);
        dialog.chk_SizeNotice->setChecked(false);
        dialog.edt_RuleHeader->setText(QStringLiteral("X-Spam-Flag"));
        dialog.edt_RuleText->setText(QStringLiteral("YES"));
        QTest::mouseClick(dialog.btn_AddRule, Qt::LeftButton);
        dialog.edt_RuleHeader->setText(QStringLiteral("Subject"));
        dialog.edt_RuleText->setText(ToQString("[迷惑]"));
        QTest::mouseClick(dialog.btn_AddRule, Qt::LeftButton);
        return int(QDialog::Accepted);
    };
    ShowForm();
    QTest::mouseClick(form->btn_Advanced, Qt::LeftButton);
    QTest::mouseClick(form->btn_ViewLog, Qt::LeftButton);
    form->resize(760, 700);
    ASSERT_TRUE(QTest::qWaitFor([this] { return form->LogWindowSize() == QSize(760, 700); }, 5000));
    form->SaveSettings();
    const std::string saved = ReadIni();
    EXPECT_NE(saved.find("[Filter]"), std::string::npos);

    // A new start of the program with that file.
    TearDown();
    SetUp();
    WriteIni(saved);
    form->LoadSettings();
    TForwardFilter expected;
    expected.MaxSizeKB = 300;
    expected.SizeNotice = false;
    expected.Rules.Items = {{"X-Spam-Flag", "YES"}, {"Subject", "[迷惑]"}};
    EXPECT_EQ(form->SettingsFromFields().Filter, expected);
    EXPECT_EQ(form->SettingsFromFields().IntervalMinutes, 7);
    EXPECT_EQ(form->LogWindowSize(), QSize(760, 700));
    form->AdvancedDialogHook = [&](Tdlg_Advanced& dialog) {
        EXPECT_EQ(dialog.Filter(), expected);
        return int(QDialog::Rejected);
    };
    QTest::mouseClick(form->btn_Advanced, Qt::LeftButton);
}

TEST_F(FormTest, WithTheLogShownTheWindowResizesAndTheLogGrows) {
    ShowForm();
    EXPECT_EQ(form->minimumSize(), form->maximumSize()) << "fixed while the log is hidden";
    QTest::mouseClick(form->btn_ViewLog, Qt::LeftButton);
    const int first = 340 + form->pnl_Log->minimumHeight();
    const QSize list = form->lsb_Log->size();
    EXPECT_EQ(ClientHeight(), first);
    EXPECT_EQ(list.width(), 708 - 24);
    EXPECT_EQ(form->minimumSize(), QSize(708, first));
    EXPECT_GT(form->maximumHeight(), first);
    form->resize(780, 760);
    EXPECT_TRUE(QTest::qWaitFor([this] { return form->height() == 760; }, 5000));
    EXPECT_EQ(form->lsb_Log->size(), QSize(780 - 24, list.height() + 760 - first));
    EXPECT_EQ(form->LogWindowSize(), QSize(780, 760));
    // Hidden and shown again, the log comes back at the size the user gave it.
    QTest::mouseClick(form->btn_ViewLog, Qt::LeftButton);
    EXPECT_EQ(ClientHeight(), 340);
    EXPECT_EQ(form->width(), 708);
    QTest::mouseClick(form->btn_ViewLog, Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([this] { return form->height() == 760; }, 5000));
    EXPECT_EQ(form->size(), QSize(780, 760));
}

}  // namespace
}  // namespace tarnwick::test
