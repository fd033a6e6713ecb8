#pragma once
// What the two parts of a forwarding cycle share: the settings, the log, the report, the step
// under way, and the book of this cycle (ledger, back-off, what is to be sent).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/cycle/CycleReport.h"
#include "app/cycle/Ledger.h"
#include "app/cycle/MessageScreening.h"
#include "app/cycle/RefusalBackoff.h"
#include "app/settings/Settings.h"

namespace tarnwick {

struct TCycleContext {
    const TSettings& Settings;
    TCycleReport& Report;
    const std::string ForwardAddress;
    // A code page 932 line; and one with a decoded subject in it (before and after code page 932).
    std::function<void(const std::string& cp932)> Log;
    std::function<void(const std::string& before, const std::string& subjectUtf8, const std::string& after)> LogSubject;
    std::function<bool()> StopRequested;
    std::function<bool()> Aborted;
    std::function<int64_t()> Clock;
    // The file of the key the wait file's fingerprint is made with (empty: one key for the process).
    std::string RefusalKeyFile;
    // The step under way, put in front of an error that ends the cycle.
    std::string DoingNow;

    // The ledger as it stands, and its writer once something may be recorded.
    TStringList Ledger;
    std::unique_ptr<TLedgerWriter> Writer;
    // What is still to be sent, and what becomes of each of them, index by index.
    std::vector<TListedMessage> New;
    std::vector<TScreenedMessage> Screened;
    std::unique_ptr<TRefusalBackoff> Backoff;
    bool BackoffErrorShown = false;

    TCycleContext(const TSettings& settings, TCycleReport& report)
        : Settings(settings), Report(report), ForwardAddress(settings.ForwardAddress()) {}

    // A message that is not sent this cycle: counted and logged with its reason.
    void Skip(const std::string& subjectUtf8, const std::string& id, const std::string& reason);
    // The back-off state is a help, not a record: a file that cannot be written is said once and
    // costs early retries only.
    void SaveBackoff();
    void SaveLedger();
};

// What the cycle was doing where, put in front of an error that ends it: a bare "Read Timeout"
// does not say whether the POP3 or the SMTP server went quiet.
std::string Doing(const std::string& where, const std::string& step);

}  // namespace tarnwick
