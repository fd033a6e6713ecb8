#include "app/cycle/CycleTransfer.h"

#include <algorithm>
#include <vector>

#include "app/cycle/CycleSteps.h"
#include "app/cycle/Mailbox.h"
#include "app/cycle/Outbox.h"
#include "app/cycle/SizeNotice.h"
#include "message/HeaderUnicode.h"
#include "net/MailExceptions.h"
#include "platform/Exception.h"

namespace tarnwick {

using detail::OneLine;

bool TCycleTransfer::Forward() {
    for (size_t i = 0; i < cycle_.New.size(); ++i) pending_.push_back(i);
    cycle_.DoingNow = Doing(mailbox_.Where(), "機能の確認");
    mailbox_.ReadAsIs();
    cycle_.DoingNow = Doing(mailbox_.Where(), "メールサイズの取得");
    mailbox_.BeginReading(cycle_.New);
    return Drive();
}

bool TCycleTransfer::Drive() {
    for (;;) {
        if (!pending_.empty() && cycle_.StopRequested && cycle_.StopRequested()) {
            cycle_.Report.Stopped = true;
            cycle_.Log("終了要求のため転送を中断");
            pending_.clear();
        }
        if (pending_.empty() && sentOn_.empty()) return true;
        try {
            if (pending_.empty()) {
                Settle();
                continue;
            }
            const size_t i = pending_.front();
            pending_.pop_front();
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

bool TCycleTransfer::IsNotice(size_t i) const {
    return i < cycle_.Screened.size() && cycle_.Screened[i].Action == TScreenAction::Notice;
}

TCycleTransfer::TRetrieved TCycleTransfer::Retrieve(size_t i) {
    if (IsNotice(i)) {
        // Only its header block was read; the notice is made from it, nothing more is fetched.
        const TScreenedMessage& m = cycle_.Screened[i];
        ComposeSizeNotice(*m.Header, m.Size, cycle_.ForwardAddress, message_, cycle_.Settings.Servers.EnvelopeFrom);
        return TRetrieved::Ok;
    }
    const TListedMessage& item = cycle_.New[i];
    message_.Clear();
    message_.NoEncode = true;
    // Body lines pass through unchanged; decoding would drop encoded content from what is sent
    // on. The subject is decoded from the header all the same.
    message_.NoDecode = true;
    // One text for the body rather than a string per line.
    message_.KeepBodyText = true;
    // A message that cannot be had is logged and left for the next cycle; a lost connection ends
    // the cycle.
    try {
        return ReadWhole(i) ? TRetrieved::Ok : TRetrieved::Skipped;
    } catch (const EConvertError& e) {
        cycle_.Skip(DecodedSubjectUtf8(message_), item.Id, e.Message());
        return TRetrieved::Skipped;
    } catch (const EMailException& e) {
        if (e.Kind() != TMailErrorKind::LocalLimit) throw;
        // The rest of the message (or of an over-long status line) is still on its way: close
        // and log in again.
        cycle_.Skip(DecodedSubjectUtf8(message_), item.Id, e.Message());
        if (!mailbox_.Reopen()) {
            cycle_.Report.End = TCycleReport::TEnd::Pop3LoginFailed;
            return TRetrieved::LoginFailed;
        }
        return TRetrieved::Skipped;
    }
}

// False when the message was skipped (logged).
bool TCycleTransfer::ReadWhole(size_t i) {
    const TListedMessage& item = cycle_.New[i];
    TMailMessage& message = message_;
    const int64_t limit = mailbox_.SizeLimit();
    cycle_.DoingNow = Doing(mailbox_.Where(), "メール" + item.NumberText + "の受信");
    // The size first: a message announced over the limit is never downloaded.
    const int64_t size = mailbox_.Size(item);
    if (limit > 0 && size > limit) {
        cycle_.Skip(DecodedSubjectUtf8(message), item.Id, EMailMessageTooLarge(size, limit).Message());
        return false;
    }
    // Room for it at once (the limit bounds what is trusted); no copy on growing.
    if (size > 0 && limit > 0) message.BodyText.reserve(static_cast<size_t>(size));
    auto next = [this](const TMailbox::TWorth& worth) -> const TListedMessage* {
        for (size_t j : pending_)
            if (!IsNotice(j) && worth(cycle_.New[j])) return &cycle_.New[j];
        return nullptr;
    };
    std::string refusal;
    if (!mailbox_.Read(item, message, refusal, next)) {
        cycle_.Skip(DecodedSubjectUtf8(message), item.Id, refusal);
        return false;
    }
    return true;
}

std::string TCycleTransfer::Sending(size_t i, const std::string& subject) const {
    return Doing(outbox_.Where(), "メール" + cycle_.New[i].NumberText + "(" + subject + ")の送信");
}

void TCycleTransfer::Send(size_t i) {
    TMailMessage& message = message_;
    message.Recipients.Clear();
    message.CCList.Clear();
    message.Recipients.ParseAddresses(cycle_.ForwardAddress);
    // A notice in UTF-8 holds its subject encoded: the error text names the original's.
    TSentOn sent{i, IsNotice(i) ? SizeNoticeSubjectTag + cycle_.Screened[i].Subject : message.Subject,
                 DecodedSubjectUtf8(message)};
    const std::string sending = Sending(i, sent.Subject);
    cycle_.DoingNow = sending;
    // Where the receiver allows it, the message goes without waiting for its replies, which are
    // read once the next one is on its way.
    if (outbox_.Queue(message)) {
        sentOn_.push_back(std::move(sent));
        while (sentOn_.size() > 1) Settle();
        return;
    }
    while (!sentOn_.empty()) Settle();
    cycle_.DoingNow = sending;
    try {
        outbox_.Send(message);
    } catch (const EMailException& e) {
        if (e.Kind() != TMailErrorKind::PermanentRefusal) throw;
        Refused(sent, e);
        return;
    }
    Record(sent);
}

void TCycleTransfer::Refused(const TSentOn& sent, const EMailException& e) {
    const std::string& id = cycle_.New[sent.Index].Id;
    // Offered again after a wait that doubles each time, not in every cycle; said once per try.
    const int64_t due = cycle_.Backoff->Refused(id);
    ++cycle_.Report.Waiting;
    cycle_.Skip(sent.SubjectUtf8, id, OneLine(outbox_.Reason(e)) + " 次の再送は" + TRefusalBackoff::TimeText(due) + "以降");
    cycle_.SaveBackoff();
}

void TCycleTransfer::Settle() {
    const TSentOn sent = sentOn_.front();
    cycle_.DoingNow = Sending(sent.Index, sent.Subject);
    try {
        outbox_.Finish();
    } catch (const EMailException& e) {
        if (!outbox_.Answered(e)) throw;
        if (e.Kind() == TMailErrorKind::PermanentRefusal) {
            sentOn_.pop_front();
            Refused(sent, e);
            return;
        }
        if (ConnectionEnded(e)) throw;
        // The cycle ends; what went after this message may have been accepted all the same, and
        // is recorded so that it does not go twice.
        sentOn_.pop_front();
        const std::string ending = cycle_.DoingNow;
        try {
            while (!sentOn_.empty()) Settle();
        } catch (...) {
        }
        cycle_.DoingNow = ending;
        throw;
    }
    sentOn_.pop_front();
    Record(sent);
}

// An accepted message is logged and recorded, in the receiver's order, before the next one.
void TCycleTransfer::Record(const TSentOn& sent) {
    if (IsNotice(sent.Index)) {
        const TScreenedMessage& m = cycle_.Screened[sent.Index];
        const TScreenLog log = ScreenLog(m);
        cycle_.LogSubject(log.Before, m.SubjectUtf8, log.After);
        ++cycle_.Report.Notices;
    } else {
        cycle_.LogSubject("メール転送(", sent.SubjectUtf8, ")");
        ++cycle_.Report.Forwarded;
    }
    const std::string& id = cycle_.New[sent.Index].Id;
    cycle_.Ledger.Add(id);
    cycle_.SaveLedger();
    ++acceptedOnConnection_;
    cycle_.Backoff->Forget(id);
    cycle_.SaveBackoff();
}

bool TCycleTransfer::ConnectionEnded(const EMailException& e) const {
    if ((cycle_.Aborted && cycle_.Aborted()) || acceptedOnConnection_ == 0) return false;
    return outbox_.Ended(e);
}

// Logs in again and puts every message whose acceptance was not read back in front of the rest.
bool TCycleTransfer::Reconnect(const EMailException& e) {
    std::vector<size_t> again;
    for (const TSentOn& sent : sentOn_) again.push_back(sent.Index);
    sentOn_.clear();
    if (current_ >= 0 && std::find(again.begin(), again.end(), static_cast<size_t>(current_)) == again.end())
        again.push_back(static_cast<size_t>(current_));
    current_ = -1;
    mailbox_.DropReadAhead();
    for (auto it = again.rbegin(); it != again.rend(); ++it) pending_.push_front(*it);
    cycle_.Log("SMTPサーバが接続を終了したため再接続します(" + cycle_.Settings.Servers.SmtpServer + ") " +
               OneLine(e.Message()));
    ++cycle_.Report.Reconnects;
    acceptedOnConnection_ = 0;
    if (!outbox_.Reopen()) {
        cycle_.Report.End = TCycleReport::TEnd::SmtpLoginFailed;
        return false;
    }
    return true;
}

}  // namespace tarnwick
