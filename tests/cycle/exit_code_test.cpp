// The exit code of --once for each way a cycle can end.
#include <gtest/gtest.h>

#include "app/cycle/Cycle.h"
#include "app/settings/Settings.h"

namespace tarnwick {
namespace {

using TEnd = TCycleReport::TEnd;

TEST(ExitCode, EachEndOfACycle) {
    struct Row {
        const char* what;
        TEnd end;
        int skipped, waiting;
        bool stopped, aborted;
        int code;
    };
    const Row rows[] = {
        {"all forwarded", TEnd::Done, 0, 0, false, false, kExitAllForwarded},
        {"one skipped", TEnd::Done, 1, 0, false, false, kExitSomeSkipped},
        {"refused mail waits", TEnd::Done, 0, 4, false, false, kExitSomeSkipped},
        {"stopped between messages", TEnd::Done, 0, 0, true, false, kExitSomeSkipped},
        {"stopped in flight", TEnd::Error, 0, 0, true, true, kExitSomeSkipped},
        {"an error", TEnd::Error, 0, 0, false, false, kExitFailed},
        {"login cut by a stop", TEnd::Pop3LoginFailed, 0, 0, true, true, kExitSomeSkipped},
        {"SMTP login cut by a stop", TEnd::SmtpLoginFailed, 0, 0, true, true, kExitSomeSkipped},
        {"login refused during a stop", TEnd::Pop3LoginFailed, 0, 0, true, false, kExitFailed},
        {"login refused", TEnd::SmtpLoginFailed, 0, 0, false, false, kExitFailed},
        {"ledger unwritable", TEnd::LedgerUnwritable, 0, 0, true, true, kExitFailed},
        {"incomplete settings", TEnd::Incomplete, 0, 0, false, false, kExitFailed},
    };
    for (const Row& row : rows) {
        TCycleReport report;
        report.End = row.end;
        report.Skipped = row.skipped;
        report.Waiting = row.waiting;
        report.Stopped = row.stopped;
        report.Aborted = row.aborted;
        EXPECT_EQ(ExitCodeOf(report), row.code) << row.what;
    }
}

// A cut login says so in the report, so that a stop during it is told from a refused login.
TEST(ExitCode, ALoginTheStopCutOffIsReportedAsAborted) {
    TForwardingCycle cycle([](const std::string&) {});
    cycle.Abort();
    TSettings settings;
    settings.Servers.Pop3Server = "127.0.0.1:9";
    settings.Servers.Pop3User = settings.Servers.Pop3Pass = "u";
    settings.Servers.SmtpServer = "127.0.0.1:9";
    settings.MailUser = "taro";
    settings.MailDomain = "docomo.ne.jp";
    const TCycleReport report = RunCycle(cycle, settings);
    EXPECT_EQ(report.End, TEnd::Pop3LoginFailed);
    EXPECT_TRUE(report.Aborted);
}

}  // namespace
}  // namespace tarnwick
