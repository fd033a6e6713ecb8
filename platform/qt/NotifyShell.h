#pragma once
// The notification area, reached the way the tray component expects: icons are added, changed and
// removed with one record, and the shell reports mouse activity on an icon as window messages sent
// to a callback window. The default shell stands on QSystemTrayIcon; tests may put in their own.
#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>

class QSystemTrayIcon;

namespace tarnwick {

constexpr uint32_t NIM_ADD = 0;
constexpr uint32_t NIM_MODIFY = 1;
constexpr uint32_t NIM_DELETE = 2;

constexpr uint32_t NIF_MESSAGE = 1;
constexpr uint32_t NIF_ICON = 2;
constexpr uint32_t NIF_TIP = 4;

constexpr uint32_t WM_USER = 0x0400;
constexpr uint32_t WM_MOUSEMOVE = 0x0200;
constexpr uint32_t WM_LBUTTONDOWN = 0x0201;
constexpr uint32_t WM_LBUTTONUP = 0x0202;
constexpr uint32_t WM_LBUTTONDBLCLK = 0x0203;
constexpr uint32_t WM_RBUTTONDOWN = 0x0204;
constexpr uint32_t WM_RBUTTONUP = 0x0205;
constexpr uint32_t WM_RBUTTONDBLCLK = 0x0206;
constexpr uint32_t WM_MBUTTONDOWN = 0x0207;
constexpr uint32_t WM_MBUTTONUP = 0x0208;

// Receives the shell's notifications for the icons it registered.
class TNotifyWindow : public QObject {
public:
    explicit TNotifyWindow(QObject* parent) : QObject(parent) {}
    virtual void WndProc(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};

// One icon as the shell sees it.
struct TNotifyIconData {
    uint32_t cbSize = 88;
    QPointer<TNotifyWindow> hWnd;
    uint32_t uID = 0;
    uint32_t uFlags = 0;
    uint32_t uCallbackMessage = 0;
    QIcon hIcon;
    char szTip[64] = {};
};

enum class TBalloonKind { Information, Error };

class TNotifyShell {
public:
    virtual ~TNotifyShell() = default;
    // NIM_ADD, NIM_MODIFY or NIM_DELETE; false when the shell refuses.
    virtual bool NotifyIcon(uint32_t message, const TNotifyIconData& data) = 0;
    // Whether a notification area is there at all.
    virtual bool TrayAvailable() const = 0;
    // A short message beside an icon the shell holds.
    virtual void ShowBalloon(const TNotifyIconData& data, const std::string& title, const std::string& text,
                             TBalloonKind kind) = 0;
};

// The shell in use. SetNotifyShell(nullptr) returns to the default one.
TNotifyShell& NotifyShell();
void SetNotifyShell(TNotifyShell* shell);

inline bool Shell_NotifyIcon(uint32_t message, const TNotifyIconData& data) {
    return NotifyShell().NotifyIcon(message, data);
}
// Mouse cursor in screen coordinates.
QPoint GetCursorPos();
// Milliseconds within which a second click makes a double click.
int GetDoubleClickTime();

// Qt reports presses only: a left press arrives as Trigger, the second press of a double click as
// DoubleClick, a right press as Context, a middle one as MiddleClick. Each becomes the press
// message followed by the release message the icon would also have seen.
class TQtNotifyShell : public QObject, public TNotifyShell {
public:
    explicit TQtNotifyShell(QObject* parent, std::function<bool()> trayAvailable = {});
    ~TQtNotifyShell() override;

    bool NotifyIcon(uint32_t message, const TNotifyIconData& data) override;
    bool TrayAvailable() const override;
    void ShowBalloon(const TNotifyIconData& data, const std::string& title, const std::string& text,
                     TBalloonKind kind) override;

    // The Qt icon standing for a registered one, or nullptr.
    QSystemTrayIcon* TrayIconOf(const TNotifyWindow* window, uint32_t id) const;

private:
    using Key = std::pair<const TNotifyWindow*, uint32_t>;
    void Apply(QSystemTrayIcon& icon, const TNotifyIconData& data);

    std::function<bool()> trayAvailable_;
    std::map<Key, QSystemTrayIcon*> icons_;
};

}  // namespace tarnwick
