// The tray icon: registration, what reaches the shell, and how clicks become events.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTest>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "window/FakeShell.h"
#include "tray/TrayIcon.h"

namespace tarnwick::test {
namespace {

// Runs the event loop until the condition holds. The bound only ends a failing test: a busy
// machine may run a timer late, never early.
bool Eventually(const std::function<bool()>& condition) {
    QElapsedTimer limit;
    limit.start();
    while (!condition()) {
        if (limit.elapsed() > 30000) return false;
        QTest::qWait(5);
    }
    return true;
}

QIcon RedIcon() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::red);
    return QIcon(pixmap);
}

class TrayIconTest : public ::testing::Test {
protected:
    TFakeShell shell;
    QWidget owner;
    int clicks = 0;
    int doubleClicks = 0;
    qint64 clickAfter = -1;
    QElapsedTimer clock;

    std::unique_ptr<TTrayIcon> MakeVisibleIcon() {
        auto icon = std::make_unique<TTrayIcon>(&owner);
        icon->SetIcon(RedIcon());
        icon->OnClick = [this](TTrayIcon&) {
            ++clicks;
            clickAfter = clock.elapsed();
        };
        icon->OnDblClick = [this](TTrayIcon&) { ++doubleClicks; };
        icon->SetVisible(true);
        return icon;
    }
    int Wait() const { return GetDoubleClickTime() + 50; }
};

TEST_F(TrayIconTest, IdsCountUpFromTheLastEntryAndTheRegistryHoldsAtMostOneHundred) {
    std::vector<std::unique_ptr<TTrayIcon>> icons;
    for (int i = 0; i < MaxTrayIcons; ++i) icons.push_back(std::make_unique<TTrayIcon>(&owner));
    EXPECT_EQ(icons[0]->IconId(), 1);
    EXPECT_EQ(icons[99]->IconId(), 100);
    try {
        TTrayIcon extra(&owner);
        FAIL() << "a 101st icon was accepted";
    } catch (const ENotifyIconError& e) {
        EXPECT_EQ(e.Message(), "タスクトレイにアイコンを登録できません。");
    }
    EXPECT_EQ(TTrayIcon::RegisteredCount(), 100);
    // A new id is the last entry's plus one: freeing an earlier icon does not give its id back.
    icons[10].reset();
    TTrayIcon next(&owner);
    EXPECT_EQ(next.IconId(), 101);
    icons.clear();
}

TEST_F(TrayIconTest, ShowingAddsTheIconWithItsTipAndHidingRemovesIt) {
    TTrayIcon icon(&owner);
    icon.SetIcon(RedIcon());
    icon.SetTipHelp("メール監視中");
    icon.SetVisible(true);
    ASSERT_EQ(shell.Count(NIM_ADD), 1);
    EXPECT_TRUE(icon.Added());
    EXPECT_EQ(shell.calls.back().flags, 7u);
    EXPECT_EQ(shell.calls.back().tip, "メール監視中");
    EXPECT_EQ(shell.last.uCallbackMessage, 1224u);
    EXPECT_EQ(icon.NotifyData().cbSize, 88u);

    icon.SetTipHelp("");
    EXPECT_EQ(shell.calls.back().message, NIM_MODIFY);
    EXPECT_EQ(shell.calls.back().flags, 3u);

    icon.SetVisible(false);
    EXPECT_EQ(shell.calls.back().message, NIM_DELETE);
    EXPECT_FALSE(icon.Added());
    EXPECT_FALSE(shell.held);
}

TEST_F(TrayIconTest, TipIsCutTo62BytesWithoutSplittingACharacter) {
    TTrayIcon icon(&owner);
    EXPECT_EQ(icon.TipHelp(), "TipHelp");
    icon.SetIcon(RedIcon());
    icon.SetVisible(true);
    const std::string seventy(70, 'a');
    icon.SetTipHelp(seventy);
    EXPECT_EQ(icon.TipHelp(), std::string(62, 'a'));
    const size_t before = shell.calls.size();
    icon.SetTipHelp(std::string(62, 'a') + "bcd");  // same first 62: the shell is not asked
    EXPECT_EQ(shell.calls.size(), before);

    // 61 single bytes then a double-byte character: the pair would straddle the limit.
    icon.SetTipHelp(std::string(61, 'x') + "監視");
    EXPECT_EQ(icon.TipHelp(), std::string(61, 'x'));
}

TEST_F(TrayIconTest, WithoutAnyPictureTheIconStaysInvisible) {
    ASSERT_TRUE(QApplication::windowIcon().isNull());
    TTrayIcon icon(&owner);
    icon.SetVisible(true);
    EXPECT_FALSE(icon.Visible());
    EXPECT_EQ(shell.Count(NIM_ADD), 0);

    owner.setWindowIcon(RedIcon());  // the owner form's picture serves
    icon.SetVisible(true);
    EXPECT_TRUE(icon.Visible());
    EXPECT_TRUE(shell.calls.back().hasIcon);
}

TEST_F(TrayIconTest, RefusedAddRaisesAndLeavesTheIconVisibleButNotAdded) {
    shell.refuseAdd = true;
    TTrayIcon icon(&owner);
    icon.SetIcon(RedIcon());
    EXPECT_THROW(icon.SetVisible(true), ENotifyIconError);
    EXPECT_TRUE(icon.Visible());
    EXPECT_FALSE(icon.Added());
    icon.SetTipHelp("other");  // not held by the shell: no change request
    EXPECT_EQ(shell.Count(NIM_MODIFY), 0);
}

TEST_F(TrayIconTest, PropertySetters) {
    TTrayIcon icon(&owner);
    icon.SetAnimateRate(20);
    EXPECT_EQ(icon.AnimateRate(), 100);
    icon.SetAnimateRate(750);
    EXPECT_EQ(icon.AnimateRate(), 750);
    auto* menu = new QMenu(&owner);
    icon.SetRBPopupMenu(menu);
    delete menu;  // a destroyed menu is forgotten
    EXPECT_EQ(icon.RBPopupMenu(), nullptr);
}

TEST_F(TrayIconTest, SingleClickFiresOnceAfterTheDoubleClickTimePlus50) {
    auto icon = MakeVisibleIcon();
    clock.start();
    shell.Send(WM_LBUTTONDOWN);
    shell.Send(WM_LBUTTONUP);
    EXPECT_TRUE(icon->ClickPending());
    ASSERT_TRUE(Eventually([&] { return clicks > 0; }));
    EXPECT_GE(clickAfter, Wait() - 2);
    EXPECT_FALSE(icon->ClickPending());
    QTest::qWait(Wait());
    EXPECT_EQ(clicks, 1);
}

TEST_F(TrayIconTest, DoubleClickGivesNoSingleClick) {
    auto icon = MakeVisibleIcon();
    shell.Send(WM_LBUTTONDOWN);
    shell.Send(WM_LBUTTONUP);
    // The double click follows before the wait for it could run out, however busy the machine.
    QCoreApplication::processEvents();
    shell.Send(WM_LBUTTONDBLCLK);
    shell.Send(WM_LBUTTONUP);
    QTest::qWait(Wait() + 300);
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(doubleClicks, 1);
}

TEST_F(TrayIconTest, WithMouseUpSetClicksAreOnlyReleases) {
    auto icon = MakeVisibleIcon();
    int ups = 0;
    icon->OnMouseUp = [&](TTrayIcon&, TMouseButton button, TShiftState shift, int, int) {
        ++ups;
        EXPECT_EQ(button, TMouseButton::mbLeft);
        EXPECT_EQ(shift, ssLeft);
    };
    shell.Send(WM_LBUTTONDOWN);
    shell.Send(WM_LBUTTONUP);
    QTest::qWait(Wait() + 200);
    EXPECT_EQ(ups, 1);
    EXPECT_EQ(clicks, 0);
}

TEST_F(TrayIconTest, RightPressOpensTheMenuInsteadOfMouseDown) {
    auto icon = MakeVisibleIcon();
    QMenu menu;
    menu.addAction(QStringLiteral("x"));
    icon->SetRBPopupMenu(&menu);
    int downs = 0;
    icon->OnMouseDown = [&](TTrayIcon&, TMouseButton button, TShiftState, int, int) {
        ++downs;
        EXPECT_EQ(button, TMouseButton::mbRight);
    };
    shell.Send(WM_RBUTTONDOWN);
    EXPECT_TRUE(menu.isVisible());
    EXPECT_EQ(downs, 0);
    menu.hide();

    icon->AutoPopup = false;
    shell.Send(WM_RBUTTONDOWN);
    EXPECT_FALSE(menu.isVisible());
    EXPECT_EQ(downs, 1);
}

TEST_F(TrayIconTest, DisabledIconsAndUnknownIdsIgnoreEverything) {
    auto icon = MakeVisibleIcon();
    int downs = 0;
    icon->OnMouseDown = [&](TTrayIcon&, TMouseButton, TShiftState, int, int) { ++downs; };
    shell.last.hWnd->WndProc(1224, 9999, WM_LBUTTONDOWN);  // id not registered
    EXPECT_EQ(downs, 0);

    shell.Send(WM_LBUTTONDOWN);
    shell.Send(WM_LBUTTONUP);
    icon->SetEnabled(false);  // drops the pending click too
    EXPECT_FALSE(icon->ClickPending());
    shell.Send(WM_LBUTTONDOWN);
    shell.Send(WM_LBUTTONUP);
    QTest::qWait(Wait() + 200);
    EXPECT_EQ(downs, 1);
    EXPECT_EQ(clicks, 0);
}

TEST_F(TrayIconTest, IconDestroyedWhileAClickWaitRunsIsNotCalled) {
    auto icon = MakeVisibleIcon();
    shell.Send(WM_LBUTTONDOWN);
    shell.Send(WM_LBUTTONUP);
    icon.reset();
    QTest::qWait(Wait() + 200);
    EXPECT_EQ(clicks, 0);
}

// The Qt stand-in: a recording window sees the messages each kind of activation becomes.
class TRecordingWindow : public TNotifyWindow {
public:
    TRecordingWindow() : TNotifyWindow(nullptr) {}
    void WndProc(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
        EXPECT_EQ(message, 1224u);
        EXPECT_EQ(wParam, 7u);
        seen.push_back(static_cast<uint32_t>(lParam));
        if (onMessage) onMessage();
    }
    std::vector<uint32_t> seen;
    std::function<void()> onMessage;
};

TEST(QtNotifyShellTest, ActivationsBecomePressAndReleaseMessages) {
    TQtNotifyShell shell(nullptr, [] { return true; });
    TRecordingWindow window;
    TNotifyIconData data;
    data.hWnd = &window;
    data.uID = 7;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = 1224;
    data.hIcon = RedIcon();
    std::strcpy(data.szTip, "メール監視中");
    ASSERT_TRUE(shell.NotifyIcon(NIM_ADD, data));
    EXPECT_FALSE(shell.NotifyIcon(NIM_ADD, data));  // the same id twice
    QSystemTrayIcon* tray = shell.TrayIconOf(&window, 7);
    ASSERT_NE(tray, nullptr);
    EXPECT_EQ(tray->toolTip(), QString::fromUtf8(u8"メール監視中"));

    emit tray->activated(QSystemTrayIcon::Trigger);
    emit tray->activated(QSystemTrayIcon::DoubleClick);
    emit tray->activated(QSystemTrayIcon::Context);
    emit tray->activated(QSystemTrayIcon::MiddleClick);
    const std::vector<uint32_t> expected = {WM_LBUTTONDOWN, WM_LBUTTONUP,   WM_LBUTTONDBLCLK, WM_LBUTTONUP,
                                            WM_RBUTTONDOWN, WM_RBUTTONUP,   WM_MBUTTONDOWN,   WM_MBUTTONUP};
    EXPECT_EQ(window.seen, expected);

    // Removing the icon from inside its own notification is safe.
    window.seen.clear();
    window.onMessage = [&] { shell.NotifyIcon(NIM_DELETE, data); };
    emit tray->activated(QSystemTrayIcon::Trigger);
    EXPECT_EQ(shell.TrayIconOf(&window, 7), nullptr);
    EXPECT_FALSE(shell.NotifyIcon(NIM_MODIFY, data));
    QTest::qWait(10);
}

TEST(QtNotifyShellTest, NoNotificationAreaRefusesTheIcon) {
    TQtNotifyShell shell(nullptr, [] { return false; });
    TRecordingWindow window;
    TNotifyIconData data;
    data.hWnd = &window;
    data.uID = 7;
    EXPECT_FALSE(shell.TrayAvailable());
    EXPECT_FALSE(shell.NotifyIcon(NIM_ADD, data));
}

TEST(QtNotifyShellTest, TriggerThenDoubleClickThroughTheComponent) {
    TQtNotifyShell shell(nullptr, [] { return true; });
    SetNotifyShell(&shell);
    QWidget owner;
    TTrayIcon icon(&owner);
    icon.SetIcon(RedIcon());
    int clicks = 0;
    qint64 after = -1;
    QElapsedTimer clock;
    icon.OnClick = [&](TTrayIcon&) {
        ++clicks;
        after = clock.elapsed();
    };
    icon.SetVisible(true);
    QSystemTrayIcon* tray = shell.TrayIconOf(TCallbackWindow::Instance(), static_cast<uint32_t>(icon.IconId()));
    ASSERT_NE(tray, nullptr);
    const int wait = GetDoubleClickTime() + 50;

    clock.start();
    emit tray->activated(QSystemTrayIcon::Trigger);
    ASSERT_TRUE(Eventually([&] { return clicks > 0; }));
    EXPECT_GE(after, wait - 2);

    emit tray->activated(QSystemTrayIcon::Trigger);
    QCoreApplication::processEvents();
    emit tray->activated(QSystemTrayIcon::DoubleClick);
    QTest::qWait(wait + 300);
    EXPECT_EQ(clicks, 1);
    icon.SetVisible(false);
    SetNotifyShell(nullptr);
}

}  // namespace
}  // namespace tarnwick::test
