#pragma once
// An icon with a tool tip in the notification area. The shell's mouse notifications become events:
// press, release, move, a single click told apart from a double click, a double click, and popup
// menus on the left or right button.
#include <QIcon>
#include <QList>
#include <QMenu>
#include <QPointer>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Exception.h"
#include "platform/qt/NotifyShell.h"
#include "platform/qt/Thread.h"

class QWidget;

namespace tarnwick {

// "タスクトレイにアイコンを登録できません。"
class ENotifyIconError : public Exception {
public:
    ENotifyIconError();
};

enum class TMouseButton { mbLeft, mbRight, mbMiddle };
using TShiftState = unsigned;
constexpr TShiftState ssShift = 1;
constexpr TShiftState ssAlt = 2;
constexpr TShiftState ssCtrl = 4;
constexpr TShiftState ssLeft = 8;
constexpr TShiftState ssRight = 16;
constexpr TShiftState ssMiddle = 32;

class TTrayIcon;
using TNotifyEvent = std::function<void(TTrayIcon& sender)>;
using TMouseEvent = std::function<void(TTrayIcon& sender, TMouseButton button, TShiftState shift, int x, int y)>;
using TMouseMoveEvent = std::function<void(TTrayIcon& sender, TShiftState shift, int x, int y)>;

enum class TNotifyAction { Add, Modify, Delete };

constexpr uint32_t TrayCallbackMessage = WM_USER + 200;
constexpr int MaxTrayIcons = 100;
constexpr size_t MaxTipLength = 62;

class TTrayIcon {
public:
    // owner: the form whose icon is the fallback picture and which parents the callback window.
    explicit TTrayIcon(QWidget* owner);
    ~TTrayIcon();
    TTrayIcon(const TTrayIcon&) = delete;
    TTrayIcon& operator=(const TTrayIcon&) = delete;

    const QList<QIcon>& AnimateIcons() const { return animateIcons_; }
    void SetAnimateIcons(QList<QIcon> icons) { animateIcons_ = std::move(icons); }
    int AnimateRate() const { return animateRate_; }
    void SetAnimateRate(int rate) { animateRate_ = rate < 100 ? 100 : rate; }
    bool AutoPopup = true;
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    const QIcon& Icon() const { return icon_; }
    void SetIcon(const QIcon& icon);
    QMenu* LBPopupMenu() const { return lbPopupMenu_; }
    void SetLBPopupMenu(QMenu* menu) { lbPopupMenu_ = menu; }
    QMenu* RBPopupMenu() const { return rbPopupMenu_; }
    void SetRBPopupMenu(QMenu* menu) { rbPopupMenu_ = menu; }
    const std::string& TipHelp() const { return tipHelp_; }
    void SetTipHelp(std::string_view tip);
    bool Visible() const { return visible_; }
    void SetVisible(bool visible);

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;

    int IconId() const { return iconId_; }
    bool Added() const { return added_; }
    bool ClickPending() const { return clickPending_; }
    const TNotifyIconData& NotifyData() const { return *notifyData_; }
    QWidget* Owner() const { return owner_; }

    // The one place that talks to the shell; raises ENotifyIconError when it refuses an add or a change.
    void UpdateNotifyIcon(TNotifyAction action);
    // Own picture, else the owner form's, else the application's.
    QIcon ResolveIconHandle() const;
    // A message beside the icon, when the shell holds it.
    void ShowBalloon(const std::string& title, const std::string& text, TBalloonKind kind);

    // Registered components, for the limit of MaxTrayIcons.
    static int RegisteredCount();

private:
    friend class TCallbackWindow;
    void IconChanged();

    QWidget* owner_;
    QList<QIcon> animateIcons_;
    int animateRate_ = 500;
    bool enabled_ = true;
    QIcon icon_;
    QPointer<QMenu> lbPopupMenu_;
    QPointer<QMenu> rbPopupMenu_;
    std::string tipHelp_ = "TipHelp";
    bool visible_ = false;
    int iconId_ = 0;
    bool added_ = false;
    std::unique_ptr<TNotifyIconData> notifyData_;
    bool clickPending_ = false;
};

// Waits out the double-click time (plus 50 ms) on its own thread; its end is reported on the GUI thread.
class TSingleClick : public TThread {
public:
    TSingleClick(QObject* parent, std::function<void()> onTerminate);
    ~TSingleClick() override;

protected:
    void Execute() override;

private:
    int wait_;
};

// Receives the shell's notifications for every tray icon of the process; never shown.
class TCallbackWindow : public TNotifyWindow {
public:
    explicit TCallbackWindow(QObject* owner);
    ~TCallbackWindow() override;

    void WndProc(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    void SingleClickExpired();

    // The icon that received the latest notification.
    TTrayIcon* CurrentTrayIcon = nullptr;

    // The process's callback window, created by the first tray icon.
    static TCallbackWindow* Instance();

private:
    void PopupAt(TTrayIcon& icon, QMenu* menu, const QPoint& at);
};

}  // namespace tarnwick
