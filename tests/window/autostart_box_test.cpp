// The check box that makes the session start the program.
#include <QCheckBox>
#include <unistd.h>

#include "window/FormFixture.h"

namespace tarnwick::test {
namespace {

void ClickBox(QCheckBox* box) { QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2)); }

TEST_F(FormTest, AutostartBoxWritesAndRemovesTheSessionEntry) {
    ::setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
    ShowForm();
    EXPECT_EQ(FromQString(form->chk_Autostart->text()), "ログイン時に起動");
    const std::string entry = folder + "/config/autostart/tarnwick.desktop";
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);

    ClickBox(form->chk_Autostart);
    EXPECT_TRUE(form->chk_Autostart->isChecked());
    std::ifstream in(entry);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("\nExec=\"" + folder + "/tarnwick\"\n"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("\nPath=" + std::string(cwd) + "\n"), std::string::npos) << text.str();

    ClickBox(form->chk_Autostart);
    EXPECT_FALSE(form->chk_Autostart->isChecked());
    EXPECT_NE(::access(entry.c_str(), F_OK), 0);

    // A folder that cannot be made: the error is shown and the box stays as the disk is.
    ::setenv("XDG_CONFIG_HOME", "/dev/null", 1);
    ClickBox(form->chk_Autostart);
    EXPECT_FALSE(form->chk_Autostart->isChecked());
    EXPECT_EQ(boxes.size(), 1u);
    ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace tarnwick::test
