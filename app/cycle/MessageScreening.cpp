#include "app/cycle/MessageScreening.h"

#include "app/cycle/RefusalBackoff.h"
#include "message/HeaderUnicode.h"
#include "message/MailMessage.h"
#include "app/cycle/Mailbox.h"
#include "platform/Exception.h"

namespace tarnwick {

namespace {

std::string KiloBytes(int64_t size) { return IntToStr((size + 1023) / 1024) + "KB"; }

}  // namespace

bool ScreenMessages(TMailbox& mailbox, const TForwardFilter& filter, const TRefusalBackoff* backoff,
                    std::vector<TScreenedMessage>& messages) {
    if (backoff)
        for (TScreenedMessage& m : messages)
            if (!backoff->Due(m.Id)) m.Action = TScreenAction::Waiting;

    if (filter.MaxSizeKB > 0) {
        std::vector<size_t> asked;
        std::vector<int> numbers;
        for (size_t i = 0; i < messages.size(); ++i) {
            // A listing line without a number is left to the retrieval, which logs it.
            if (messages[i].Action != TScreenAction::Forward || messages[i].Number <= 0) continue;
            asked.push_back(i);
            numbers.push_back(messages[i].Number);
        }
        const std::vector<int64_t> sizes = mailbox.Sizes(numbers);
        for (size_t k = 0; k < asked.size() && k < sizes.size(); ++k) {
            TScreenedMessage& m = messages[asked[k]];
            m.Size = sizes[k];
            if (filter.TooBig(m.Size)) m.Action = filter.SizeNotice ? TScreenAction::Notice : TScreenAction::SkipTooBig;
        }
    }

    // Header blocks: a notice needs one, a skipped message is named by its subject, and the rules
    // judge everything that would otherwise go out.
    std::vector<size_t> asked;
    std::vector<int> numbers;
    for (size_t i = 0; i < messages.size(); ++i) {
        const TScreenAction action = messages[i].Action;
        if (messages[i].Number <= 0) continue;
        const bool tooBig = action == TScreenAction::Notice || action == TScreenAction::SkipTooBig;
        if (tooBig || (action == TScreenAction::Forward && !filter.Rules.Empty())) {
            asked.push_back(i);
            numbers.push_back(messages[i].Number);
        }
    }
    auto judge = [&](TScreenedMessage& m, bool found, TMailMessage& header) {
        if (!found) {
            // Still worth a notice: it then names only the size.
            if (m.Action == TScreenAction::Notice) m.Header = std::make_shared<TMailMessage>();
            return;
        }
        m.Subject = header.Subject;
        m.SubjectUtf8 = DecodedSubjectUtf8(header);
        if (const TForwardRule* rule = filter.Rules.FirstMatch(header)) {
            m.Action = TScreenAction::HeldByRule;
            m.Rule = rule->ToText();
            return;
        }
        if (m.Action == TScreenAction::Notice) {
            // The reader fills a message it is given; a notice keeps a copy of the header block only.
            auto kept = std::make_shared<TMailMessage>();
            kept->Headers.Assign(header.Headers);
            kept->LoadHeaderFields();
            m.Header = std::move(kept);
        }
    };
    // The headers are read in order; a failure belongs to the first one not judged yet.
    for (size_t from = 0; from < asked.size();) {
        size_t next = from;
        try {
            mailbox.ReadHeaders(std::vector<int>(numbers.begin() + static_cast<std::ptrdiff_t>(from), numbers.end()),
                                [&](size_t k, bool found, TMailMessage& header) {
                                    judge(messages[asked[from + k]], found, header);
                                    next = from + k + 1;
                                });
            return true;
        } catch (const EMailException& e) {
            if (e.Kind() != TMailErrorKind::LocalLimit || next >= asked.size()) throw;
            TScreenedMessage& m = messages[asked[next]];
            m.Action = TScreenAction::Unreadable;
            m.Error = e.Message();
            if (!mailbox.Reopen()) return false;
            from = next + 1;
        }
    }
    return true;
}

TScreenLog ScreenLog(const TScreenedMessage& m) {
    switch (m.Action) {
        case TScreenAction::HeldByRule: return {"転送しない条件に一致(", ") 条件「" + m.Rule + "」"};
        case TScreenAction::SkipTooBig:
            return {"サイズ超過のため転送せず(", ") " + KiloBytes(m.Size) + " [" + m.Id + "]"};
        case TScreenAction::Notice: return {"サイズ超過のため通知を転送(", ") " + KiloBytes(m.Size)};
        case TScreenAction::Forward:
        case TScreenAction::Waiting:
        case TScreenAction::Unreadable: break;
    }
    return {};
}

std::string ScreenLogLine(const TScreenedMessage& m) {
    const TScreenLog log = ScreenLog(m);
    return log.Before.empty() ? std::string() : log.Before + m.Subject + log.After;
}

}  // namespace tarnwick
