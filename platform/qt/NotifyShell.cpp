#include "platform/qt/NotifyShell.h"

#include <QApplication>
#include <QCursor>
#include <QSystemTrayIcon>
#include <cstring>
#include <vector>

#include "platform/qt/QtText.h"

namespace tarnwick {

namespace {

QPointer<TQtNotifyShell> defaultShell;
TNotifyShell* currentShell = nullptr;

std::vector<uint32_t> MessagesFor(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
        case QSystemTrayIcon::Trigger: return {WM_LBUTTONDOWN, WM_LBUTTONUP};
        case QSystemTrayIcon::DoubleClick: return {WM_LBUTTONDBLCLK, WM_LBUTTONUP};
        case QSystemTrayIcon::Context: return {WM_RBUTTONDOWN, WM_RBUTTONUP};
        case QSystemTrayIcon::MiddleClick: return {WM_MBUTTONDOWN, WM_MBUTTONUP};
        default: return {};
    }
}

}  // namespace

TNotifyShell& NotifyShell() {
    if (currentShell) return *currentShell;
    if (!defaultShell) defaultShell = new TQtNotifyShell(qApp);
    return *defaultShell;
}

void SetNotifyShell(TNotifyShell* shell) { currentShell = shell; }

QPoint GetCursorPos() { return QCursor::pos(); }

int GetDoubleClickTime() { return QApplication::doubleClickInterval(); }

TQtNotifyShell::TQtNotifyShell(QObject* parent, std::function<bool()> trayAvailable)
    : QObject(parent), trayAvailable_(std::move(trayAvailable)) {}

TQtNotifyShell::~TQtNotifyShell() {
    if (currentShell == this) currentShell = nullptr;
}

bool TQtNotifyShell::TrayAvailable() const {
    return trayAvailable_ ? trayAvailable_() : QSystemTrayIcon::isSystemTrayAvailable();
}

void TQtNotifyShell::Apply(QSystemTrayIcon& icon, const TNotifyIconData& data) {
    if (data.uFlags & NIF_ICON) icon.setIcon(data.hIcon);
    const size_t tipLength = strnlen(data.szTip, sizeof data.szTip);
    icon.setToolTip((data.uFlags & NIF_TIP) ? ToQString(std::string_view(data.szTip, tipLength)) : QString());
}

bool TQtNotifyShell::NotifyIcon(uint32_t message, const TNotifyIconData& data) {
    const Key key{data.hWnd.data(), data.uID};
    auto found = icons_.find(key);
    switch (message) {
        case NIM_ADD: {
            if (!data.hWnd || found != icons_.end() || !TrayAvailable()) return false;
            auto* icon = new QSystemTrayIcon(this);
            Apply(*icon, data);
            const QPointer<TNotifyWindow> window = data.hWnd;
            const uint32_t id = data.uID;
            const uint32_t callback = (data.uFlags & NIF_MESSAGE) ? data.uCallbackMessage : 0;
            connect(icon, &QSystemTrayIcon::activated, this, [window, id, callback](QSystemTrayIcon::ActivationReason r) {
                if (callback == 0) return;
                for (uint32_t mouse : MessagesFor(r)) {
                    // The press may already have removed the icon or its window.
                    if (!window) return;
                    window->WndProc(callback, id, static_cast<intptr_t>(mouse));
                }
            });
            icons_[key] = icon;
            icon->show();
            return true;
        }
        case NIM_MODIFY:
            if (found == icons_.end()) return false;
            Apply(*found->second, data);
            return true;
        case NIM_DELETE: {
            if (found == icons_.end()) return false;
            QSystemTrayIcon* icon = found->second;
            icons_.erase(found);
            icon->hide();
            // Not deleted at once: this may run inside the icon's own activated signal.
            icon->disconnect(this);
            icon->deleteLater();
            return true;
        }
        default:
            return false;
    }
}

void TQtNotifyShell::ShowBalloon(const TNotifyIconData& data, const std::string& title, const std::string& text,
                                 TBalloonKind kind) {
    auto found = icons_.find(Key{data.hWnd.data(), data.uID});
    if (found == icons_.end()) return;
    found->second->showMessage(ToQString(title), ToQString(text),
                               kind == TBalloonKind::Error ? QSystemTrayIcon::Critical : QSystemTrayIcon::Information);
}

QSystemTrayIcon* TQtNotifyShell::TrayIconOf(const TNotifyWindow* window, uint32_t id) const {
    auto found = icons_.find(Key{window, id});
    return found == icons_.end() ? nullptr : found->second;
}

}  // namespace tarnwick
