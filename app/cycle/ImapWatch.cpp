#include "app/cycle/ImapWatch.h"

#include <algorithm>
#include <exception>

#include "app/cycle/CycleSteps.h"
#include "app/cycle/ForwardingCycle.h"
#include "app/cycle/ImapTransport.h"
#include "net/MailAbort.h"
#include "net/MailExceptions.h"
#include "net/MailIMAP.h"

namespace tarnwick {

using detail::OneLine;

int TImapWatch::IdleSeconds(int intervalMinutes) { return std::clamp(intervalMinutes, 1, 29) * 60; }

void TImapWatch::Run(const TSettings& settings, const std::function<bool()>& keepGoing, const TEach& each) {
    TSettings run = settings;
    cycle_.KeepImapOpen = true;
    cycle_.ImapTransport().Forget();
    // Ending the whole cycle ends a wait as well.
    const TMailAbort::TListener listener = cycle_.AbortGroup().Listen([this] { cycle_.Wake(); });
    auto going = [&] { return keepGoing() && !cycle_.Aborted(); };
    bool lost = false;
    while (going()) {
        if (lost) {
            Reconnect(run, going);
            lost = false;
            if (!going()) break;
        }
        const TCycleReport report = RunCycle(cycle_, run);
        // 今すぐ再送 is for the first cycle only.
        run.ResendRefused = false;
        each(report);
        if (!going()) break;
        if (report.End != TCycleReport::TEnd::Error) {
            retrySeconds_ = kFirstRetrySeconds;
            lostSaid_ = false;
        }
        if (!cycle_.ImapSessionOpen(run.Servers)) {
            // An error closed the session: soon again. Settings that are incomplete, or a login
            // that failed (and said so), wait the interval as POP3 would.
            if (report.End == TCycleReport::TEnd::Error) {
                SayLost(run, OneLine(report.Error));
                lost = true;
            } else {
                cycle_.ImapTransport().Sleep(run.IntervalMinutes * 60);
            }
            continue;
        }
        lost = Wait(run) == TNews::Lost;
    }
    cycle_.KeepImapOpen = false;
    if (cycle_.ImapSessionOpen(run.Servers)) cycle_.LogoffPop3();
    cycle_.CloseImap();
}

TImapWatch::TNews TImapWatch::Wait(const TSettings& settings) {
    TImapTransport& transport = cycle_.ImapTransport();
    TMailIMAP& imap = cycle_.MailIMAP();
    const bool idle = imap.HasCapability("IDLE");
    if (idle ? !transport.Arm() : !transport.Sleep(settings.IntervalMinutes * 60)) return TNews::Woken;
    try {
        if (!idle) return imap.Noop() ? TNews::Changed : TNews::Quiet;
        const TMailIMAP::TIdleEnd end = imap.Idle(IdleSeconds(settings.IntervalMinutes));
        // A wake as it ended may have cut the session.
        if (transport.Disarm()) {
            cycle_.CloseImap();
            return TNews::Woken;
        }
        return end == TMailIMAP::TIdleEnd::Changed ? TNews::Changed : TNews::Quiet;
    } catch (const std::exception& e) {
        const bool woken = idle && transport.Disarm();
        cycle_.CloseImap();
        if (woken || cycle_.Aborted()) return TNews::Woken;
        SayLost(settings, OneLine(e.what()));
        return TNews::Lost;
    }
}

void TImapWatch::SayLost(const TSettings& settings, const std::string& why) {
    if (lostSaid_) return;
    lostSaid_ = true;
    cycle_.AddLog("IMAPサーバとの接続が切れたため再接続します(" + settings.Servers.Pop3Server + ")" +
                  (why.empty() ? "" : " " + why));
}

void TImapWatch::Reconnect(const TSettings& settings, const std::function<bool()>& keepGoing) {
    for (;;) {
        // A wake (今すぐ確認) tries at once.
        cycle_.ImapTransport().Sleep(retrySeconds_);
        retrySeconds_ = std::min(retrySeconds_ * 2, kLastRetrySeconds);
        if (!keepGoing()) return;
        try {
            cycle_.ReopenImap(settings.Servers);
            cycle_.AddLog("IMAPサーバに再接続(" + settings.Servers.Pop3Server + ")");
            return;
        } catch (const EMailException& e) {
            if (e.Kind() == TMailErrorKind::PermanentRefusal) return;
        } catch (const std::exception&) {
            return;
        }
    }
}

}  // namespace tarnwick
