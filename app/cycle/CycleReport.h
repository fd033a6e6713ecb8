#pragma once
// How a forwarding cycle ended, in one record: the window's tip, icon and notifications and the
// exit code of --once are all read from it.
#include <string>

namespace tarnwick {

struct TCycleReport {
    enum class TEnd {
        Done,              // logged in and went through the list (some messages may be skipped)
        Incomplete,        // settings missing; nothing was tried
        Pop3LoginFailed,
        SmtpLoginFailed,
        LedgerUnwritable,  // new mail left on the server: what is sent could not be recorded
        Error,             // an error left the cycle (Error holds its text)
    };
    TEnd End = TEnd::Done;
    int NewCount = 0;
    int Forwarded = 0;
    int Skipped = 0;
    // Sent as a short notice instead of whole (over the size limit).
    int Notices = 0;
    // Recorded as done without being sent: a rule matched, or over the limit without a notice.
    int HeldBack = 0;
    // Refused for good and waiting for their next try (refused in this cycle included).
    int Waiting = 0;
    // SMTP log-ins after a server ended the connection part way.
    int Reconnects = 0;
    // A stop request ended the cycle early (the connections cut if it did not end in time).
    bool Stopped = false;
    // The connections were cut from outside (also when a login failed for it).
    bool Aborted = false;
    std::string Error;  // code page 932
    // What to change after a failed login (code page 932), for its notice; empty when unknown.
    std::string Hint;

    bool Failed() const { return End != TEnd::Done; }
};

// "、通知 1件、保留 2件、再送待ち 1件" for the counts that are not 0; empty when all are.
std::string FilterCounts(const TCycleReport& report);

// An error's text as one log line: each run of line ends becomes one blank, none at the end.
std::string OneLogLine(const std::string& text);

// Exit codes of --once.
constexpr int kExitAllForwarded = 0;
constexpr int kExitSomeSkipped = 1;
constexpr int kExitFailed = 2;

// 0 when everything new went; 1 when some was skipped or waits for another try after a refusal,
// or a stop cut the cycle short (its login included); 2 on failure.
int ExitCodeOf(const TCycleReport& report);

// What the icon shows after a cycle: the second line of its tip, whether it warns, and the
// notification for a change between working and failing.
struct TCycleStatus {
    std::string Tip;
    bool Failing = false;
    std::string Notice;
};
// time: "hh:nn" of the cycle's end.
TCycleStatus StatusOf(const TCycleReport& report, const std::string& time);

}  // namespace tarnwick
