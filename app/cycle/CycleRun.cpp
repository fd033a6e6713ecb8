// The steps of one forwarding cycle: the plan from the listing and the ledger, then for each new
// message retrieve, send and record. Where the servers pipeline, the next message is asked for
// while one is sent on and its SMTP replies are read once the next one is on its way; the steps
// are the same either way.
#include <algorithm>
#include <deque>
#include <memory>
#include <vector>

#include "app/cycle/CycleSteps.h"
#include "app/cycle/ForwardingCycle.h"
#include "app/cycle/Ledger.h"
#include "app/cycle/MessageScreening.h"
#include "app/cycle/RefusalBackoff.h"
#include "app/cycle/SizeNotice.h"
#include "message/HeaderUnicode.h"
#include "message/MailMessage.h"
#include "message/MessageReader.h"
#include "message/ShownText.h"
#include "net/MailAbort.h"
#include "net/MailExceptions.h"
#include "net/MailPOP3.h"
#include "net/MailSMTP.h"
#include "platform/Exception.h"
#include "platform/Locale.h"
#include "platform/Streams.h"
#include "platform/StringList.h"

namespace tarnwick {

using detail::ForceClose;
using detail::OneLine;

namespace {

// A refusal the server means for good (5xx): the message is skipped, the next one may pass.
bool IsPermanentRefusal(const EMailProtocolReplyError& e) { return e.ReplyCode >= 500 && e.ReplyCode <= 599; }

// What the cycle was doing with which server (as typed), put in front of an error that ends it:
// a bare "Read Timeout" does not say whether the POP3 or the SMTP server went quiet.
std::string Doing(const char* server, const std::string& shown, const std::string& step) {
    return std::string(server) + "サーバ(" + shown + ")で" + step + "中に失敗: ";
}

// The subject as sent, characters the code page lacks included.
std::string SubjectUtf8(const TMailMessage& message) { return DecodedSubjectUtf8(message); }

}  // namespace

struct TCycleRun {
    TForwardingCycle& Cycle;
    const TSettings& Settings;
    const TServerSettings& Servers;
    TMailPOP3& Pop3;
    TMailSMTP& Smtp;
    TCycleReport& Report;
    const std::string ForwardAddress;
    std::string DoingNow;  // the step under way, for the error that may end the cycle

    TStringList Ledger;
    std::unique_ptr<TLedgerWriter> Writer;
    std::vector<TListedMessage> New;
    // What becomes of each message of New, index by index.
    std::vector<TScreenedMessage> Screened;
    std::unique_ptr<TRefusalBackoff> Backoff;
    bool BackoffErrorShown = false;
    std::deque<size_t> Pending;  // indexes into New still to retrieve, in order
    bool Pipelined = false;
    std::vector<int64_t> Sizes;  // LIST sizes by index, when pipelined
    int InFlight = -1;           // the message whose RETR went out and whose answer is unread
    struct TSentOn {
        size_t Index;
        std::string Subject;      // code page 932, for error texts
        std::string SubjectUtf8;  // for the log
    };
    std::deque<TSentOn> SentOn;  // queued to the SMTP server, replies not read yet
    int AcceptedOnConnection = 0;
    TMailMessage Message;

    TCycleRun(TForwardingCycle& cycle, const TSettings& settings)
        : Cycle(cycle),
          Settings(settings),
          Servers(settings.Servers),
          Pop3(cycle.MailPOP3()),
          Smtp(cycle.MailSMTP()),
          Report(cycle.report_),
          ForwardAddress(settings.ForwardAddress()) {}

    // The listing, the ledger and what is new. False when the ledger cannot take what would be
    // sent, or a login again during screening failed (logged; nothing is sent then; Report.End
    // says which).
    bool Plan() {
        TStringList listing;
        DoingNow = Doing("POP3", Servers.Pop3Server, "メールリストの取得");
        Pop3.ListUniqueIds(listing);
        Cycle.AddLog("メールリストを取得");
        const std::vector<TListedMessage> listed = RecordableOnly(ParseListing(listing));
        TStringList allIds;
        ListedIds(listed, allIds);
        DoingNow = "転送済みIDの読み込み中に失敗: ";
        try {
            if (Servers.SkipExisting && !FileExists(LedgerFileName(ForwardAddress))) {
                // A first run for this address: the mailbox may hold years of mail the phone must
                // not receive. The file is written even when empty, so the next cycle forwards.
                ListedIds(listed, Ledger);
                TLedgerWriter(ForwardAddress).SaveLedger(Ledger);
                Cycle.AddLog("既存のメール " + IntToStr(Ledger.Count()) + "件を転送済みとして記録しました");
            } else {
                LoadLedger(ForwardAddress, Ledger);
            }
        } catch (const EStreamError& e) {
            Cycle.AddLog(OneLine(e.Message()));
            return false;
        }
        New = PlanCycle(listed, Ledger).New;
        Report.NewCount = static_cast<int>(New.size());
        Cycle.AddLog("新規メール " + IntToStr(Report.NewCount) + "件");
        if (New.empty()) return true;
        Writer = std::make_unique<TLedgerWriter>(ForwardAddress);
        // A ledger that cannot record what is sent would send the same message every cycle.
        try {
            TStringList newIds;
            for (const TListedMessage& entry : New) newIds.Add(entry.Id);
            Writer->Reserve(Ledger, newIds);
        } catch (const EStreamError& e) {
            Cycle.AddLog(OneLine(e.Message()));
            return false;
        }
        return Screen(allIds);
    }

    // A message whose id cannot be recorded would go again every cycle: it is skipped, and said.
    std::vector<TListedMessage> RecordableOnly(std::vector<TListedMessage> listed) {
        std::vector<TListedMessage> kept;
        kept.reserve(listed.size());
        for (TListedMessage& entry : listed) {
            if (IsRecordableId(entry.Id)) {
                kept.push_back(std::move(entry));
                continue;
            }
            ++Report.Skipped;
            Cycle.AddLogWithSubject("メール転送失敗(" + entry.NumberText + ") IDに使えない文字を含むため転送しません [",
                                    ShownText(entry.Id), "]");
        }
        return kept;
    }

    // Before anything is downloaded whole: what waits after a refusal, what is too big, what a
    // rule holds back. What is held back is recorded at once; New keeps what is to be sent.
    bool Screen(const TStringList& allIds) {
        const TServerSettings& s = Servers;
        // A refusal depends on the SMTP server, the account and the address: a change of any
        // of them lets every waiting message go at once.
        Backoff = std::make_unique<TRefusalBackoff>(
            TRefusalBackoff::FileName(ForwardAddress),
            TRefusalBackoff::FingerprintOf({s.SmtpServer, SecurityName(s.SmtpAccess.Security), s.SmtpAccess.CAFile,
                                            s.SmtpUser, s.SmtpPass, s.EnvelopeFrom, ForwardAddress}),
            int64_t{Settings.IntervalMinutes} * 60,
            Cycle.Clock ? Cycle.Clock : TRefusalBackoff::TClock(TRefusalBackoff::SystemClock));
        Backoff->Load();
        if (Settings.ResendRefused && Backoff->Count() > 0) {
            Backoff->Clear();
            Cycle.AddLog("送信を拒否されたメールを今すぐ再送します");
        }
        Backoff->Prune(TUidSet(allIds));
        Screened.clear();
        for (const TListedMessage& entry : New) {
            TScreenedMessage m;
            m.Number = entry.Number;
            m.Id = entry.Id;
            Screened.push_back(std::move(m));
        }
        // Header blocks come in the same form as whole messages later (8-bit headers unwrapped).
        if (Settings.Filter.MaxSizeKB > 0 || !Settings.Filter.Rules.Empty()) {
            DoingNow = Doing("POP3", Servers.Pop3Server, "機能の確認");
            Pop3.EnableUtf8();
        }
        DoingNow = Doing("POP3", Servers.Pop3Server, "ヘッダの取得");
        const bool loggedIn = ScreenMessages(Pop3, Settings.Filter, Backoff.get(), Screened, [this] {
            ForceClose(Pop3);
            return Cycle.LoginPop3(Servers);
        });
        if (!loggedIn) {
            Report.End = TCycleReport::TEnd::Pop3LoginFailed;
            return false;
        }

        std::vector<TListedMessage> toSend;
        std::vector<TScreenedMessage> toSendScreened;
        bool recorded = false;
        for (size_t i = 0; i < New.size(); ++i) {
            TScreenedMessage& m = Screened[i];
            switch (m.Action) {
                case TScreenAction::Waiting: ++Report.Waiting; break;
                case TScreenAction::Unreadable: Skip(m.SubjectUtf8, m.Id, m.Error); break;
                case TScreenAction::HeldByRule:
                case TScreenAction::SkipTooBig: {
                    const TScreenLog log = ScreenLog(m);
                    Cycle.AddLogWithSubject(log.Before, m.SubjectUtf8, log.After);
                    Ledger.Add(m.Id);
                    recorded = true;
                    ++Report.HeldBack;
                    break;
                }
                case TScreenAction::Forward:
                case TScreenAction::Notice:
                    toSend.push_back(New[i]);
                    toSendScreened.push_back(std::move(m));
                    break;
            }
        }
        New = std::move(toSend);
        Screened = std::move(toSendScreened);
        if (recorded) {
            DoingNow = "転送済みIDの保存中に失敗: ";
            Writer->SaveLedger(Ledger);
        }
        SaveBackoff();
        return true;
    }

    // The back-off state is a help, not a record: a file that cannot be written is said once and
    // costs early retries only.
    void SaveBackoff() {
        try {
            Backoff->Save();
        } catch (const EStreamError& e) {
            if (!BackoffErrorShown) Cycle.AddLog(OneLine(e.Message()));
            BackoffErrorShown = true;
        }
    }

    bool IsNotice(size_t i) const { return i < Screened.size() && Screened[i].Action == TScreenAction::Notice; }

    // Forwards every new message; false when a login on the way failed (Report says which).
    bool Forward() {
        for (size_t i = 0; i < New.size(); ++i) Pending.push_back(i);
        // A server that offers UTF8 (RFC 6856) may wrap 8-bit headers in a notice unless the
        // client says it takes them; the message must go on as it is.
        DoingNow = Doing("POP3", Servers.Pop3Server, "機能の確認");
        Pop3.EnableUtf8();
        // Where the server pipelines, the sizes come in batches, and each message is asked for
        // while the one before it is being sent on, so a slow link costs a round trip less per
        // message. Without it, one command at a time.
        Pipelined = New.size() >= 2 && Pop3.Pipelining();
        if (Pipelined) {
            DoingNow = Doing("POP3", Servers.Pop3Server, "メールサイズの取得");
            std::vector<int> listed;
            for (const TListedMessage& entry : New)
                if (entry.Number > 0) listed.push_back(entry.Number);
            const std::vector<int64_t> listedSizes = Pop3.ListSizes(listed);
            for (size_t i = 0, k = 0; i < New.size(); ++i) Sizes.push_back(New[i].Number > 0 ? listedSizes[k++] : -1);
        }
        return Drive();
    }

    // Until every message is settled; a connection the server ended puts what it had not
    // answered back in line.
    bool Drive() {
        for (;;) {
            if (!Pending.empty() && Cycle.StopRequested && Cycle.StopRequested()) {
                Report.Stopped = true;
                Cycle.AddLog("終了要求のため転送を中断");
                Pending.clear();
            }
            if (Pending.empty() && SentOn.empty()) return true;
            try {
                if (Pending.empty()) {
                    Settle();
                    continue;
                }
                const size_t i = Pending.front();
                Pending.pop_front();
                switch (Retrieve(i)) {
                    case TRetrieved::Skipped: continue;
                    case TRetrieved::LoginFailed: return false;
                    case TRetrieved::Ok: break;
                }
                current_ = static_cast<int>(i);
                Send(i);
                current_ = -1;
            } catch (const EMailException& e) {
                if (!ConnectionEnded(e)) throw;
                if (!Reconnect(e)) return false;
            }
        }
    }

    int current_ = -1;  // the message being sent, before it is queued or settled

    enum class TRetrieved { Ok, Skipped, LoginFailed };

    void Skip(const std::string& subjectUtf8, const std::string& id, const std::string& reason) {
        ++Report.Skipped;
        Cycle.AddLogWithSubject("メール転送失敗(", subjectUtf8, ") " + OneLine(reason) + " [" + id + "]");
    }

    // The next message worth asking for ahead, -1 when none.
    int NextToRetrieve() const {
        for (size_t j : Pending)
            if (New[j].Number > 0 && !IsNotice(j) && !(Pop3.MaxMessageSize > 0 && Sizes[j] > Pop3.MaxMessageSize))
                return static_cast<int>(j);
        return -1;
    }

    // Reads the answer of a RETR asked for ahead and drops it: the message is asked for again in
    // its turn.
    void DrainInFlight() {
        if (InFlight < 0) return;
        InFlight = -1;
        TMailMessage scratch;
        scratch.NoEncode = scratch.NoDecode = scratch.KeepBodyText = true;
        Pop3.ReadRetrieved(scratch);
    }

    TRetrieved Retrieve(size_t i) {
        const TListedMessage& item = New[i];
        TMailMessage& message = Message;
        if (IsNotice(i)) {
            // Only its header block was read; the notice is made from it, nothing more is fetched.
            ComposeSizeNotice(*Screened[i].Header, Screened[i].Size, ForwardAddress, message);
            return TRetrieved::Ok;
        }
        message.Clear();
        message.NoEncode = true;
        // Body lines pass through unchanged; decoding would drop encoded content from what is
        // sent on. The subject is decoded from the header all the same.
        message.NoDecode = true;
        // One text for the body rather than a string per line.
        message.KeepBodyText = true;
        // A message that cannot be had is logged and left for the next cycle; a lost connection
        // ends the cycle.
        try {
            const int number = StrToInt(item.NumberText);
            DoingNow = Doing("POP3", Servers.Pop3Server, "メール" + item.NumberText + "の受信");
            // A message announced over the limit is never downloaded.
            const int64_t size = Pipelined ? Sizes[i] : Pop3.ListSize(number);
            if (Pop3.MaxMessageSize > 0 && size > Pop3.MaxMessageSize) {
                Skip(SubjectUtf8(message), item.Id, EMailMessageTooLarge(size, Pop3.MaxMessageSize).Message());
                return TRetrieved::Skipped;
            }
            // Room for it at once (the limit bounds what is trusted); no copy on growing.
            if (size > 0 && Pop3.MaxMessageSize > 0) message.BodyText.reserve(static_cast<size_t>(size));
            bool retrieved;
            std::string refusal;
            if (Pipelined) {
                if (InFlight != static_cast<int>(i)) {
                    DrainInFlight();
                    Pop3.SendRetrieve(number);
                }
                InFlight = -1;
                retrieved = Pop3.ReadRetrieved(message);
                refusal = Pop3.LastReply.Text.Text();
                if (const int next = NextToRetrieve(); next >= 0) {
                    Pop3.SendRetrieve(New[static_cast<size_t>(next)].Number);
                    InFlight = next;
                }
            } else {
                retrieved = Pop3.RetrieveMessage(number, message);
                refusal = Pop3.LastReply.Text.Text();
            }
            if (!retrieved) {
                Skip(SubjectUtf8(message), item.Id, refusal);
                return TRetrieved::Skipped;
            }
        } catch (const EConvertError& e) {
            Skip(SubjectUtf8(message), item.Id, e.Message());
            return TRetrieved::Skipped;
        } catch (const EMailException& e) {
            if (e.Kind() != TMailErrorKind::LocalLimit) throw;
            // The rest of the message (or of an over-long status line) is still on its way:
            // close and log in again.
            Skip(SubjectUtf8(message), item.Id, e.Message());
            ForceClose(Pop3);
            InFlight = -1;
            if (!Cycle.LoginPop3(Servers)) {
                Report.End = TCycleReport::TEnd::Pop3LoginFailed;
                return TRetrieved::LoginFailed;
            }
            return TRetrieved::Skipped;
        }
        return TRetrieved::Ok;
    }

    void Send(size_t i) {
        TMailMessage& message = Message;
        message.Recipients.Clear();
        message.CCList.Clear();
        message.Recipients.ParseAddresses(ForwardAddress);
        TSentOn sent{i, message.Subject, SubjectUtf8(message)};
        const std::string sending =
            Doing("SMTP", Servers.SmtpServer, "メール" + New[i].NumberText + "(" + message.Subject + ")の送信");
        DoingNow = sending;
        // Where the server allows it, the message goes without waiting for its replies, which are
        // read once the next one is on its way.
        if (Smtp.QueueMail(message)) {
            SentOn.push_back(std::move(sent));
            while (SentOn.size() > 1) Settle();
            return;
        }
        while (!SentOn.empty()) Settle();
        DoingNow = sending;
        try {
            Smtp.SendMail(message);
        } catch (const EMailProtocolReplyError& e) {
            if (!IsPermanentRefusal(e)) throw;
            Refused(sent, e);
            return;
        }
        Record(sent);
    }

    void Refused(const TSentOn& sent, const EMailProtocolReplyError& e) {
        // 530 refuses the sender, not the message: say that the server wants a log-in.
        const std::string reason = e.ReplyCode == 530 ? "SMTP認証が必要です: " + e.Message() : e.Message();
        // Offered again after a wait that doubles each time, not in every cycle; said once per try.
        const int64_t due = Backoff->Refused(New[sent.Index].Id);
        ++Report.Waiting;
        Skip(sent.SubjectUtf8, New[sent.Index].Id, OneLine(reason) + " 次の再送は" + TRefusalBackoff::TimeText(due) + "以降");
        SaveBackoff();
    }

    // The oldest message sent on: recorded when accepted, skipped when refused for good. It stays
    // queued when the connection ended under it, to be sent again.
    void Settle() {
        const TSentOn sent = SentOn.front();
        DoingNow = Doing("SMTP", Servers.SmtpServer, "メール" + New[sent.Index].NumberText + "(" + sent.Subject + ")の送信");
        try {
            Smtp.FinishMail();
        } catch (const EMailProtocolReplyError& e) {
            if (IsPermanentRefusal(e)) {
                SentOn.pop_front();
                Refused(sent, e);
                return;
            }
            if (ConnectionEnded(e)) throw;
            // The cycle ends; what went after this message may have been accepted all the same,
            // and is recorded so that it does not go twice.
            SentOn.pop_front();
            const std::string ending = DoingNow;
            try {
                while (!SentOn.empty()) Settle();
            } catch (...) {
            }
            DoingNow = ending;
            throw;
        }
        SentOn.pop_front();
        Record(sent);
    }

    // An accepted message is logged and recorded, in server order, before the next one.
    void Record(const TSentOn& sent) {
        if (IsNotice(sent.Index)) {
            const TScreenedMessage& m = Screened[sent.Index];
            const TScreenLog log = ScreenLog(m);
            Cycle.AddLogWithSubject(log.Before, m.SubjectUtf8, log.After);
            ++Report.Notices;
        } else {
            Cycle.AddLogWithSubject("メール転送(", sent.SubjectUtf8, ")");
            ++Report.Forwarded;
        }
        Ledger.Add(New[sent.Index].Id);
        DoingNow = "転送済みIDの保存中に失敗: ";
        Writer->SaveLedger(Ledger);
        ++AcceptedOnConnection;
        Backoff->Forget(New[sent.Index].Id);
        SaveBackoff();
    }

    // Whether the SMTP server ended this connection (421, a close) after it took messages on it:
    // many end a session after so many messages. A cut from outside is not such an end.
    bool ConnectionEnded(const EMailException& e) const {
        if (Cycle.Aborted() || AcceptedOnConnection == 0) return false;
        if (auto* reply = dynamic_cast<const EMailProtocolReplyError*>(&e)) return reply->ReplyCode == 421;
        return e.Kind() == TMailErrorKind::ConnectionLost;
    }

    // Logs in to the SMTP server again and puts every message whose acceptance was not read back
    // in front of the rest. False when the new login fails.
    bool Reconnect(const EMailException& e) {
        std::vector<size_t> again;
        for (const TSentOn& sent : SentOn) again.push_back(sent.Index);
        SentOn.clear();
        if (current_ >= 0 && std::find(again.begin(), again.end(), static_cast<size_t>(current_)) == again.end())
            again.push_back(static_cast<size_t>(current_));
        current_ = -1;
        DrainInFlight();
        for (auto it = again.rbegin(); it != again.rend(); ++it) Pending.push_front(*it);
        ForceClose(Smtp);
        Cycle.AddLog("SMTPサーバが接続を終了したため再接続します(" + Servers.SmtpServer + ") " + OneLine(e.Message()));
        ++Report.Reconnects;
        AcceptedOnConnection = 0;
        if (!Cycle.LoginSmtp(Servers)) {
            Report.End = TCycleReport::TEnd::SmtpLoginFailed;
            return false;
        }
        return true;
    }
};

TCycleReport TForwardingCycle::ForwardNewMail(const TSettings& settings) {
    report_ = TCycleReport{};
    const TServerSettings& servers = settings.Servers;
    // Incomplete settings are said once, not as a failed login every interval.
    if (std::string missing = MissingSettings(settings); !missing.empty()) {
        if (missing != missingShown_) AddLog(IncompleteSettingsLine(missing));
        missingShown_ = missing;
        report_.End = TCycleReport::TEnd::Incomplete;
        return report_;
    }
    missingShown_.clear();

    if (!LoginPop3(servers)) {
        report_.End = TCycleReport::TEnd::Pop3LoginFailed;
        return report_;
    }
    TCycleRun run(*this, settings);
    try {
        if (!run.Plan()) {
            // A login again after an unreadable header block failed, and said so.
            if (report_.End == TCycleReport::TEnd::Pop3LoginFailed) return report_;
            LogoffPop3();
            report_.End = TCycleReport::TEnd::LedgerUnwritable;
            return report_;
        }
        if (!run.New.empty()) {
            if (!LoginSmtp(servers)) {
                LogoffPop3();
                report_.End = TCycleReport::TEnd::SmtpLoginFailed;
                return report_;
            }
            if (!run.Forward()) {
                // A login on the way failed and said so; the other server is let go normally.
                if (report_.End == TCycleReport::TEnd::Pop3LoginFailed) LogoffSmtp();
                else LogoffPop3();
                return report_;
            }
        }
    } catch (Exception& e) {
        // Leave no half-open session behind: the next cycle logs in afresh.
        ForceClose(MailPOP3());
        ForceClose(MailSMTP());
        e.SetContext(run.DoingNow);
        throw;
    } catch (...) {
        ForceClose(MailPOP3());
        ForceClose(MailSMTP());
        throw;
    }
    if (report_.Notices + report_.HeldBack + report_.Waiting > 0)
        AddLog("転送 " + IntToStr(report_.Forwarded) + "件" + FilterCounts(report_));
    LogoffPop3();
    LogoffSmtp();
    return report_;
}

}  // namespace tarnwick
