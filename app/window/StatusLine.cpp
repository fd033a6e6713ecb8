// The window's status line.
#include "app/window/StatusLine.h"

namespace tarnwick {

std::string StatusLineText(const TWatchState& state) {
    std::string text;
    auto add = [&text](const std::string& part) { text += (text.empty() ? "" : " / ") + part; };
    if (!state.Watching) add("監視を停止中（ウィンドウを閉じると再開）");
    else if (state.Idling) add("新着を待機中（IMAP）");
    else if (!state.NextCheck.empty()) add("次回確認 " + state.NextCheck);
    if (!state.LastCheck.empty()) add("最後の確認 " + state.LastCheck);
    if (!state.LastForward.empty())
        add("最後の転送 " + state.LastForward + " (" + std::to_string(state.LastForwardCount) + "件)");
    return text;
}

}  // namespace tarnwick
