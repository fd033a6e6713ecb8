#include "app/cycle/CycleContext.h"

#include "app/cycle/CycleSteps.h"
#include "platform/Exception.h"

namespace tarnwick {

std::string Doing(const std::string& where, const std::string& step) { return where + "で" + step + "中に失敗: "; }

void TCycleContext::Skip(const std::string& subjectUtf8, const std::string& id, const std::string& reason) {
    ++Report.Skipped;
    LogSubject("メール転送失敗(", subjectUtf8, ") " + detail::OneLine(reason) + " [" + id + "]");
}

void TCycleContext::SaveBackoff() {
    try {
        Backoff->Save();
    } catch (const EStreamError& e) {
        if (!BackoffErrorShown) Log(detail::OneLine(e.Message()));
        BackoffErrorShown = true;
    }
}

void TCycleContext::SaveLedger() {
    DoingNow = "転送済みIDの保存中に失敗: ";
    Writer->SaveLedger(Ledger);
}

}  // namespace tarnwick
