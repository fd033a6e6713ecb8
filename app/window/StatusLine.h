#pragma once
// The window's status line: when the mailbox is looked at next and was last, and the last forwarding.
#include <string>

namespace tarnwick {

struct TWatchState {
    // False while the window is open: watching waits until it closes.
    bool Watching = false;
    // "hh:mm"; empty when there is none (no check due, none done yet).
    std::string NextCheck, LastCheck, LastForward;
    int LastForwardCount = 0;
    // An IMAP watch waits for the server's word of new mail, not for a time.
    bool Idling = false;
};

// "次回確認 hh:mm / 最後の確認 hh:mm / 最後の転送 hh:mm (n件)", the parts without a time left
// out; "監視を停止中（ウィンドウを閉じると再開）" in place of the next check while not watching,
// "新着を待機中（IMAP）" while an IMAP watch waits.
std::string StatusLineText(const TWatchState& state);

}  // namespace tarnwick
