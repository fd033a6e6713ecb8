// The window's status line: its text, and what the window puts in it as watching stops and runs.
#include <QLabel>

#include "window/FormFixture.h"

namespace tarnwick::test {
namespace {

TEST(StatusLine, SaysWhatThereIsAndLeavesOutWhatIsNot) {
    const struct {
        TWatchState state;
        const char* text;
    } cases[] = {
        {{true, "10:30", "10:20", "09:50", 2}, "次回確認 10:30 / 最後の確認 10:20 / 最後の転送 09:50 (2件)"},
        {{true, "10:30", "", "", 0}, "次回確認 10:30"},
        {{true, "", "10:20", "", 0}, "最後の確認 10:20"},
        {{false, "10:30", "10:20", "", 0}, "監視を停止中（ウィンドウを閉じると再開） / 最後の確認 10:20"},
        {{false, "", "", "", 0}, "監視を停止中（ウィンドウを閉じると再開）"},
        {{true, "", "10:20", "", 0, true}, "新着を待機中（IMAP） / 最後の確認 10:20"},
    };
    for (const auto& c : cases) EXPECT_EQ(StatusLineText(c.state), c.text);
}

TEST_F(FormTest, TheOpenWindowSaysWatchingWaitsAndTheTrayTheCheckTimes) {
    cycleResult.Forwarded = 3;
    ShowForm();
    EXPECT_EQ(FromQString(form->lbl_Status->text()), "監視を停止中（ウィンドウを閉じると再開）");
    form->close();
    WaitIdle();
    const std::string shown = FromQString(form->lbl_Status->text());
    EXPECT_TRUE(shown.starts_with("次回確認 ")) << shown;
    EXPECT_NE(shown.find(" / 最後の確認 "), std::string::npos) << shown;
    EXPECT_TRUE(shown.ends_with("(3件)")) << shown;
}

}  // namespace
}  // namespace tarnwick::test
