#include "app/cycle/CyclePlanner.h"

#include "app/cycle/CycleSteps.h"
#include "app/cycle/Mailbox.h"
#include "message/ShownText.h"
#include "platform/Exception.h"
#include "platform/Streams.h"

namespace tarnwick {

using detail::OneLine;

bool TCyclePlanner::Plan() {
    TCycleContext& c = cycle_;
    c.DoingNow = Doing(mailbox_.Where(), "メールリストの取得");
    std::vector<TListedMessage> listing = mailbox_.List();
    c.Log("メールリストを取得");
    const std::vector<TListedMessage> listed = RecordableOnly(std::move(listing));
    TStringList allIds;
    ListedIds(listed, allIds);
    if (!LoadOrStartLedger(listed)) return false;
    if (!RecordRenewedIds(listed)) return false;
    c.New = PlanCycle(listed, c.Ledger).New;
    c.Report.NewCount = static_cast<int>(c.New.size());
    c.Log("新規メール " + IntToStr(c.Report.NewCount) + "件");
    if (c.New.empty()) return true;
    return Reserve() && Screen(allIds);
}

std::vector<TListedMessage> TCyclePlanner::RecordableOnly(std::vector<TListedMessage> listed) {
    std::vector<TListedMessage> kept;
    kept.reserve(listed.size());
    for (TListedMessage& entry : listed) {
        if (IsRecordableId(entry.Id)) {
            kept.push_back(std::move(entry));
            continue;
        }
        ++cycle_.Report.Skipped;
        cycle_.LogSubject("メール転送失敗(" + entry.NumberText + ") IDに使えない文字を含むため転送しません [",
                          ShownText(entry.Id), "]");
    }
    return kept;
}

bool TCyclePlanner::LoadOrStartLedger(const std::vector<TListedMessage>& listed) {
    TCycleContext& c = cycle_;
    c.DoingNow = "転送済みIDの読み込み中に失敗: ";
    try {
        if (c.Settings.Servers.SkipExisting && !FileExists(LedgerFileName(c.ForwardAddress))) {
            // A first run for this address: the mailbox may hold years of mail the phone must
            // not receive. The file is written even when empty, so the next cycle forwards.
            ListedIds(listed, c.Ledger);
            TLedgerWriter(c.ForwardAddress).SaveLedger(c.Ledger);
            c.Log("既存のメール " + IntToStr(c.Ledger.Count()) + "件を転送済みとして記録しました");
        } else {
            LoadLedger(c.ForwardAddress, c.Ledger);
        }
    } catch (const EStreamError& e) {
        c.Log(OneLine(e.Message()));
        return false;
    }
    return true;
}

// Ids given out anew (a folder rebuilt on the server) would send the whole folder again: what it
// holds is recorded as forwarded instead.
bool TCyclePlanner::RecordRenewedIds(const std::vector<TListedMessage>& listed) {
    TCycleContext& c = cycle_;
    const std::string why = mailbox_.IdsRenewed(c.Ledger);
    if (why.empty()) return true;
    c.Ledger.Clear();
    ListedIds(listed, c.Ledger);
    try {
        TLedgerWriter(c.ForwardAddress).SaveLedger(c.Ledger);
    } catch (const EStreamError& e) {
        c.Log(OneLine(e.Message()));
        return false;
    }
    c.Log("メールのIDが変わったため(" + why + ")、既存のメール " + IntToStr(c.Ledger.Count()) +
          "件を転送済みとして記録しました");
    return true;
}

// A ledger that cannot record what is sent would send the same message every cycle.
bool TCyclePlanner::Reserve() {
    TCycleContext& c = cycle_;
    c.Writer = std::make_unique<TLedgerWriter>(c.ForwardAddress);
    try {
        TStringList newIds;
        for (const TListedMessage& entry : c.New) newIds.Add(entry.Id);
        c.Writer->Reserve(c.Ledger, newIds);
    } catch (const EStreamError& e) {
        c.Log(OneLine(e.Message()));
        return false;
    }
    return true;
}

// A refusal depends on the SMTP server, the account and the address: a change of any of them
// lets every waiting message go at once.
void TCyclePlanner::LoadBackoff(const TStringList& allIds) {
    TCycleContext& c = cycle_;
    const TServerSettings& s = c.Settings.Servers;
    c.Backoff = std::make_unique<TRefusalBackoff>(
        TRefusalBackoff::FileName(c.ForwardAddress),
        TRefusalBackoff::FingerprintOf(TRefusalBackoff::FingerprintKey(c.RefusalKeyFile),
                                       {s.SmtpServer, SecurityName(s.SmtpAccess.Security), s.SmtpAccess.CAFile, s.SmtpUser,
                                        s.SmtpPass, s.EnvelopeFrom, c.ForwardAddress}),
        int64_t{c.Settings.IntervalMinutes} * 60, c.Clock ? c.Clock : TRefusalBackoff::TClock(TRefusalBackoff::SystemClock));
    c.Backoff->Load();
    if (c.Settings.ResendRefused && c.Backoff->Count() > 0) {
        c.Backoff->Clear();
        c.Log("送信を拒否されたメールを今すぐ再送します");
    }
    c.Backoff->Prune(TUidSet(allIds));
}

// Before anything is downloaded whole: what waits after a refusal, what is too big, what a rule
// holds back.
bool TCyclePlanner::Screen(const TStringList& allIds) {
    TCycleContext& c = cycle_;
    LoadBackoff(allIds);
    c.Screened.clear();
    for (const TListedMessage& entry : c.New) {
        TScreenedMessage m;
        m.Number = entry.Number;
        m.Id = entry.Id;
        c.Screened.push_back(std::move(m));
    }
    // Header blocks come in the same form as whole messages later (8-bit headers unwrapped).
    const TForwardFilter& filter = c.Settings.Filter;
    if (filter.MaxSizeKB > 0 || !filter.Rules.Empty()) {
        c.DoingNow = Doing(mailbox_.Where(), "機能の確認");
        mailbox_.ReadAsIs();
    }
    c.DoingNow = Doing(mailbox_.Where(), "ヘッダの取得");
    if (!ScreenMessages(mailbox_, filter, c.Backoff.get(), c.Screened)) {
        c.Report.End = TCycleReport::TEnd::Pop3LoginFailed;
        return false;
    }
    Sort();
    return true;
}

void TCyclePlanner::Sort() {
    TCycleContext& c = cycle_;
    std::vector<TListedMessage> toSend;
    std::vector<TScreenedMessage> toSendScreened;
    bool recorded = false;
    for (size_t i = 0; i < c.New.size(); ++i) {
        TScreenedMessage& m = c.Screened[i];
        switch (m.Action) {
            case TScreenAction::Waiting: ++c.Report.Waiting; break;
            case TScreenAction::Unreadable: c.Skip(m.SubjectUtf8, m.Id, m.Error); break;
            case TScreenAction::HeldByRule:
            case TScreenAction::SkipTooBig: {
                const TScreenLog log = ScreenLog(m);
                c.LogSubject(log.Before, m.SubjectUtf8, log.After);
                c.Ledger.Add(m.Id);
                recorded = true;
                ++c.Report.HeldBack;
                break;
            }
            case TScreenAction::Forward:
            case TScreenAction::Notice:
                toSend.push_back(c.New[i]);
                toSendScreened.push_back(std::move(m));
                break;
        }
    }
    c.New = std::move(toSend);
    c.Screened = std::move(toSendScreened);
    if (recorded) c.SaveLedger();
    c.SaveBackoff();
}

}  // namespace tarnwick
