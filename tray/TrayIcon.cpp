#include "tray/TrayIcon.h"

#include <QApplication>
#include <QMenu>
#include <QWidget>
#include <cstring>

#include "platform/Locale.h"
#include "platform/StringList.h"

namespace tarnwick {

namespace {

// One entry per registered icon: the decimal text of its id, the component as the object.
TStringList& TrayIconRegistry() {
    static TStringList registry;
    return registry;
}

QPointer<TCallbackWindow> callbackWindow;

// The first max bytes of text, without splitting a double-byte character.
std::string CutTip(std::string_view text, size_t max) {
    if (text.size() <= max) return std::string(text);
    size_t end = 0;
    while (end < max) {
        const size_t width = IsLeadByte(text[end]) && end + 1 < text.size() ? 2 : 1;
        if (end + width > max) break;
        end += width;
    }
    return std::string(text.substr(0, end));
}

}  // namespace

ENotifyIconError::ENotifyIconError() : Exception("タスクトレイにアイコンを登録できません。") {}

TTrayIcon::TTrayIcon(QWidget* owner) : owner_(owner) {
    TStringList& registry = TrayIconRegistry();
    if (registry.Count() >= MaxTrayIcons) {
        iconId_ = 0;
        throw ENotifyIconError();
    }
    iconId_ = registry.Empty() ? 1 : StrToInt(registry[registry.Count() - 1]) + 1;
    registry.AddObject(IntToStr(iconId_), this);

    if (!callbackWindow) callbackWindow = new TCallbackWindow(owner ? static_cast<QObject*>(owner) : qApp);
    notifyData_ = std::make_unique<TNotifyIconData>();
    notifyData_->cbSize = 88;
    notifyData_->uCallbackMessage = TrayCallbackMessage;
    notifyData_->uID = static_cast<uint32_t>(iconId_);
}

TTrayIcon::~TTrayIcon() {
    if (iconId_ == 0) return;
    if (added_) UpdateNotifyIcon(TNotifyAction::Delete);
    notifyData_.reset();
    TStringList& registry = TrayIconRegistry();
    const int index = registry.IndexOf(IntToStr(iconId_));
    if (index >= 0) registry.Delete(index);
    // A click wait still running must not reach a destroyed icon.
    if (callbackWindow && callbackWindow->CurrentTrayIcon == this) callbackWindow->CurrentTrayIcon = nullptr;
}

int TTrayIcon::RegisteredCount() { return TrayIconRegistry().Count(); }

void TTrayIcon::SetEnabled(bool enabled) {
    enabled_ = enabled;
    if (!enabled) clickPending_ = false;
}

void TTrayIcon::SetIcon(const QIcon& icon) {
    if (!icon.isNull() && icon.cacheKey() == icon_.cacheKey()) return;
    icon_ = icon;
    IconChanged();
}

void TTrayIcon::SetTipHelp(std::string_view tip) {
    std::string cut = CutTip(tip, MaxTipLength);
    if (cut == tipHelp_) return;
    tipHelp_ = std::move(cut);
    IconChanged();
}

void TTrayIcon::SetVisible(bool visible) {
    if (visible == visible_) return;
    visible_ = visible && !ResolveIconHandle().isNull();
    if (visible_)
        UpdateNotifyIcon(TNotifyAction::Add);
    else if (added_)
        UpdateNotifyIcon(TNotifyAction::Delete);
}

void TTrayIcon::IconChanged() {
    if (added_) UpdateNotifyIcon(TNotifyAction::Modify);
}

QIcon TTrayIcon::ResolveIconHandle() const {
    if (!icon_.isNull()) return icon_;
    if (owner_ && owner_->isWindow() && !owner_->windowIcon().isNull()) return owner_->windowIcon();
    return QApplication::windowIcon();
}

void TTrayIcon::UpdateNotifyIcon(TNotifyAction action) {
    TNotifyIconData& data = *notifyData_;
    data.hIcon = ResolveIconHandle();
    std::memset(data.szTip, 0, sizeof data.szTip);
    std::memcpy(data.szTip, tipHelp_.data(), std::min(tipHelp_.size(), sizeof data.szTip - 1));
    data.uFlags = tipHelp_.empty() ? (NIF_MESSAGE | NIF_ICON) : (NIF_MESSAGE | NIF_ICON | NIF_TIP);
    switch (action) {
        case TNotifyAction::Add:
            if (!visible_) return;
            if (!callbackWindow) callbackWindow = new TCallbackWindow(owner_ ? static_cast<QObject*>(owner_) : qApp);
            data.hWnd = callbackWindow.data();
            if (!Shell_NotifyIcon(NIM_ADD, data)) throw ENotifyIconError();
            added_ = true;
            break;
        case TNotifyAction::Modify:
            if (!Shell_NotifyIcon(NIM_MODIFY, data)) throw ENotifyIconError();
            break;
        case TNotifyAction::Delete:
            Shell_NotifyIcon(NIM_DELETE, data);
            added_ = false;
            break;
    }
}

void TTrayIcon::ShowBalloon(const std::string& title, const std::string& text, TBalloonKind kind) {
    if (added_) NotifyShell().ShowBalloon(*notifyData_, title, text, kind);
}

TSingleClick::TSingleClick(QObject* parent, std::function<void()> onTerminate)
    : TThread(parent), wait_(GetDoubleClickTime() + 50) {
    OnTerminate = std::move(onTerminate);
    Start();
}

TSingleClick::~TSingleClick() = default;

void TSingleClick::Execute() { Sleep(wait_); }

TCallbackWindow::TCallbackWindow(QObject* owner) : TNotifyWindow(owner) {}

TCallbackWindow::~TCallbackWindow() = default;

TCallbackWindow* TCallbackWindow::Instance() { return callbackWindow.data(); }

void TCallbackWindow::WndProc(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (message != TrayCallbackMessage) return;
    TStringList& registry = TrayIconRegistry();
    const int index = registry.IndexOf(IntToStr(static_cast<long long>(wParam)));
    if (index < 0) return;
    TTrayIcon& icon = *static_cast<TTrayIcon*>(registry.Objects(index));
    CurrentTrayIcon = &icon;
    if (!icon.enabled_) return;
    const QPoint at = GetCursorPos();
    const int x = at.x();
    const int y = at.y();
    switch (static_cast<uint32_t>(lParam)) {
        case WM_MOUSEMOVE:
            if (icon.OnMouseMove) icon.OnMouseMove(icon, 0, x, y);
            break;
        case WM_LBUTTONDOWN:
            if (icon.lbPopupMenu_ && icon.AutoPopup)
                PopupAt(icon, icon.lbPopupMenu_, at);
            else if (icon.OnMouseDown)
                icon.OnMouseDown(icon, TMouseButton::mbLeft, ssLeft, x, y);
            break;
        case WM_LBUTTONUP:
            if (icon.OnMouseUp) {
                icon.OnMouseUp(icon, TMouseButton::mbLeft, ssLeft, x, y);
            } else if (icon.OnClick) {
                if (!icon.clickPending_) {
                    icon.clickPending_ = true;
                    new TSingleClick(this, [this] { SingleClickExpired(); });
                } else {
                    icon.clickPending_ = false;
                }
            } else {
                icon.clickPending_ = false;
            }
            break;
        case WM_LBUTTONDBLCLK:
            icon.clickPending_ = true;
            if (icon.OnDblClick) icon.OnDblClick(icon);
            break;
        case WM_RBUTTONDOWN:
            if (icon.rbPopupMenu_ && icon.AutoPopup)
                PopupAt(icon, icon.rbPopupMenu_, at);
            else if (icon.OnMouseDown)
                icon.OnMouseDown(icon, TMouseButton::mbRight, ssRight, x, y);
            break;
        case WM_RBUTTONUP:
            if (icon.OnMouseUp) icon.OnMouseUp(icon, TMouseButton::mbRight, ssRight, x, y);
            break;
        case WM_MBUTTONDOWN:
            if (icon.OnMouseDown) icon.OnMouseDown(icon, TMouseButton::mbMiddle, ssMiddle, x, y);
            break;
        case WM_MBUTTONUP:
            if (icon.OnMouseUp) icon.OnMouseUp(icon, TMouseButton::mbMiddle, ssMiddle, x, y);
            break;
        default:
            break;
    }
}

void TCallbackWindow::PopupAt(TTrayIcon& icon, QMenu* menu, const QPoint& at) {
    QPointer<QMenu> guard(menu);
    if (QWidget* owner = icon.owner_; owner && owner->isWindow()) {
        if (owner->isVisible()) owner->activateWindow();
        QCoreApplication::processEvents();
    }
    if (guard) guard->popup(at);
}

void TCallbackWindow::SingleClickExpired() {
    TTrayIcon* icon = CurrentTrayIcon;
    if (!icon) return;
    if (icon->OnClick && icon->clickPending_) {
        const TNotifyEvent onClick = icon->OnClick;
        onClick(*icon);
    }
    // The click handler may have destroyed the icon.
    if (CurrentTrayIcon == icon) icon->clickPending_ = false;
}

}  // namespace tarnwick
