#pragma once
// Where the cycle reads mail from: the ids and sizes of what is there, header blocks and whole
// messages. What the source can do beyond that (asking ahead, taking 8-bit headers) stays inside.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/cycle/Ledger.h"

namespace tarnwick {

class TMailMessage;

class TMailbox {
public:
    virtual ~TMailbox() = default;

    // "POP3サーバ(host as typed)": put in front of what failed there.
    virtual std::string Where() const = 0;

    // Every message there, in the source's order: how it is asked for (Number 0 where it cannot
    // be) and its unique id. Raises what the source said.
    virtual std::vector<TListedMessage> List() = 0;
    // After List: why the ids the ledger holds for this source no longer name the same messages
    // ("UIDVALIDITY 1→2"); empty while they do. What the source holds is then recorded as sent.
    virtual std::string IdsRenewed(const TStringList& /*ledger*/) const { return {}; }
    // The announced sizes of these messages, in the same order; -1 where none is known.
    virtual std::vector<int64_t> Sizes(const std::vector<int>& numbers) = 0;
    // Messages and header blocks are handed out as they are (8-bit header text included) from now on.
    virtual void ReadAsIs() = 0;
    // The header block of every number, in order, into a cleared message each: found is false
    // where the source has none for it.
    using THeaderEvent = std::function<void(size_t index, bool found, TMailMessage& header)>;
    virtual void ReadHeaders(const std::vector<int>& numbers, const THeaderEvent& each) = 0;

    // The messages to be read whole from now on, in order (some may turn out not to be): a source
    // that can learns their sizes at once.
    virtual void BeginReading(const std::vector<TListedMessage>& messages) = 0;
    // The size the source announces for the message; -1 when it announces none.
    virtual int64_t Size(const TListedMessage& message) = 0;
    // Largest message read whole (0: no limit).
    virtual int64_t SizeLimit() const = 0;
    // Reads the message whole into message. False, with the source's words in refusal, when it
    // refuses. next gives the first message still to be read after it that passes worth (nullptr:
    // none); a source that can asks for it while this one is being sent on.
    using TWorth = std::function<bool(const TListedMessage&)>;
    using TNext = std::function<const TListedMessage*(const TWorth& worth)>;
    virtual bool Read(const TListedMessage& message, TMailMessage& into, std::string& refusal, const TNext& next) = 0;
    // Forgets a message asked for ahead: it is asked for again in its turn.
    virtual void DropReadAhead() = 0;
    // After a failure that left the rest of an answer on its way: closes and logs in again. False
    // when the login failed (logged).
    virtual bool Reopen() = 0;
};

}  // namespace tarnwick
