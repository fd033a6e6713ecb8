#include "app/cycle/CycleReport.h"

namespace tarnwick {

std::string OneLogLine(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r' || c == '\n') {
            if (!out.empty() && out.back() != ' ') out += ' ';
        } else {
            out += c;
        }
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

std::string FilterCounts(const TCycleReport& report) {
    std::string out;
    auto count = [&](int n, const char* what) {
        if (n > 0) out += std::string("、") + what + " " + std::to_string(n) + "件";
    };
    count(report.Notices, "通知");
    count(report.HeldBack, "保留");
    count(report.Waiting, "再送待ち");
    return out;
}

int ExitCodeOf(const TCycleReport& report) {
    switch (report.End) {
        case TCycleReport::TEnd::Done: break;
        case TCycleReport::TEnd::Error:
            // Ended on request: what was in flight goes next time, nothing failed.
            if (report.Stopped) return kExitSomeSkipped;
            return kExitFailed;
        case TCycleReport::TEnd::Pop3LoginFailed:
        case TCycleReport::TEnd::SmtpLoginFailed:
            // A login the stop cut off (a connect that hung) is a stopped run, not a failed one.
            if (report.Stopped && report.Aborted) return kExitSomeSkipped;
            return kExitFailed;
        default: return kExitFailed;
    }
    // A refused message waiting for its next try is offered again later, as a skipped one is.
    if (report.Skipped > 0 || report.Waiting > 0 || report.Stopped) return kExitSomeSkipped;
    return kExitAllForwarded;
}

TCycleStatus StatusOf(const TCycleReport& report, const std::string& time) {
    const std::string hint = report.Hint.empty() ? std::string() : ": " + report.Hint;
    switch (report.End) {
        case TCycleReport::TEnd::Done:
            return {time + " 転送 " + std::to_string(report.Forwarded) + "件" + FilterCounts(report), false,
                    "メールの転送を再開しました"};
        case TCycleReport::TEnd::Incomplete:
            return {time + " 設定が不完全です", true, "設定が不完全なため転送できません"};
        case TCycleReport::TEnd::Pop3LoginFailed:
            return {time + " POP3ログイン失敗", true, "POP3サーバにログインできません" + hint};
        case TCycleReport::TEnd::SmtpLoginFailed:
            return {time + " SMTPログイン失敗", true, "SMTPサーバにログインできません" + hint};
        case TCycleReport::TEnd::LedgerUnwritable:
            return {time + " 転送記録に書き込めません", true, "転送記録に書き込めないため転送できません"};
        case TCycleReport::TEnd::Error: break;
    }
    return {time + " エラーで中断", true, "エラーで転送が止まりました: " + OneLogLine(report.Error)};
}

}  // namespace tarnwick
