#pragma once
// A notification area for tests: records what the tray component asks of it and lets a test play
// the mouse messages the shell would send.
#include <QPointer>
#include <cstring>
#include <string>
#include <vector>

#include "platform/qt/NotifyShell.h"

namespace tarnwick::test {

struct TShellCall {
    uint32_t message;
    uint32_t id;
    uint32_t flags;
    std::string tip;
    bool hasIcon;
};

class TFakeShell : public TNotifyShell {
public:
    TFakeShell() { SetNotifyShell(this); }
    ~TFakeShell() override { SetNotifyShell(nullptr); }

    bool NotifyIcon(uint32_t message, const TNotifyIconData& data) override {
        calls.push_back({message, data.uID, data.uFlags, std::string(data.szTip, strnlen(data.szTip, sizeof data.szTip)),
                         !data.hIcon.isNull()});
        if (message == NIM_ADD) {
            if (refuseAdd || !available) return false;
            last = data;
            held = true;
        } else if (message == NIM_MODIFY) {
            if (refuseModify) return false;
        } else if (message == NIM_DELETE) {
            held = false;
        }
        return true;
    }
    bool TrayAvailable() const override { return available; }
    void ShowBalloon(const TNotifyIconData&, const std::string& title, const std::string& text, TBalloonKind) override {
        balloons.push_back(title + "|" + text);
    }

    // Sends one mouse message for the icon last added, as the shell would.
    void Send(uint32_t mouseMessage) {
        if (last.hWnd) last.hWnd->WndProc(last.uCallbackMessage, last.uID, static_cast<intptr_t>(mouseMessage));
    }
    int Count(uint32_t message) const {
        int n = 0;
        for (const TShellCall& call : calls) n += call.message == message;
        return n;
    }

    bool available = true;
    bool refuseAdd = false;
    bool refuseModify = false;
    bool held = false;
    TNotifyIconData last;
    std::vector<TShellCall> calls;
    std::vector<std::string> balloons;
};

}  // namespace tarnwick::test
