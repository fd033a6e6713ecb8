#pragma once
// What becomes of each new message before any is downloaded whole: it waits after a refusal,
// it is too big (a notice goes instead, or nothing), a rule holds it back, or it is forwarded.
// Only sizes and header blocks are asked for, and only when the settings need them.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/settings/Settings.h"

namespace tarnwick {

class TMailbox;
class TMailMessage;
class TRefusalBackoff;

enum class TScreenAction {
    Forward,     // retrieved whole and sent on
    Notice,      // too big: a short notice is sent instead
    SkipTooBig,  // too big and no notice wanted: recorded as done, nothing sent
    HeldByRule,  // a rule matched: recorded as done, nothing sent
    Waiting,     // refused for good before and its wait is not over: left for a later cycle
    Unreadable,  // its header block is past what is read: skipped this cycle, as retrieval skips
};

struct TScreenedMessage {
    int Number = 0;
    std::string Id;
    TScreenAction Action = TScreenAction::Forward;
    int64_t Size = -1;    // LIST size, when the limit asked for it
    std::string Rule;     // the rule that matched, as its text
    std::string Subject;      // decoded to code page 932, when the header block was read
    std::string SubjectUtf8;  // the same for the log, characters the code page lacks included
    std::string Error;    // why it is Unreadable
    // The header block, kept for a notice.
    std::shared_ptr<TMailMessage> Header;
};

// Decides every message's action in place. Sizes are asked for only with a limit, header blocks
// only for messages over it and, when rules exist, for all that would be forwarded; a message
// whose header block the server refuses is forwarded as before (the rules cannot judge it). A
// header block past the read limits makes that message Unreadable; the rest of it is still on the
// way, so the mailbox is opened again before the next one. False when that login failed.
bool ScreenMessages(TMailbox& mailbox, const TForwardFilter& filter, const TRefusalBackoff* backoff,
                    std::vector<TScreenedMessage>& messages);

// The log line for a message that is not forwarded whole, in code page 932 around its subject:
// Before + subject + After. Both empty for Forward and Waiting.
struct TScreenLog {
    std::string Before;
    std::string After;
};
TScreenLog ScreenLog(const TScreenedMessage& message);
// The same as one code page 932 line.
std::string ScreenLogLine(const TScreenedMessage& message);

}  // namespace tarnwick
