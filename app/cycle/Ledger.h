#pragma once
// The forwarded-id ledger and the bookkeeping that decides which listed messages are new.
// Unique ids are compared exactly, byte for byte, as servers send them; the membership tests go
// through hash tables so a mailbox of 100,000 messages costs milliseconds.
//
// The ledger holds one line per forwarded message. A server that lists one id on several lines
// has several messages under it: the ledger then holds that id once for each of them forwarded,
// and only the listing lines beyond that count are new.
#include <sys/types.h>

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/FileReplace.h"
#include "platform/StringList.h"

namespace tarnwick {

// A set of unique ids, compared byte for byte.
class TUidSet {
public:
    TUidSet() = default;
    explicit TUidSet(const TStringList& ids);
    void Add(std::string_view id);
    bool Contains(std::string_view id) const;

private:
    std::unordered_set<std::string> keys_;
};

// The ledger file of a forwarding address: address + ".txt" in the current folder.
std::string LedgerFileName(const std::string& forwardAddress);
// Loads the ledger file if it exists (any line end); a missing file leaves the list empty. A last
// line without a line end was cut off (a crash, a full disk) and is not taken for an id.
void LoadLedger(const std::string& forwardAddress, TStringList& ledger);
// One line of a UIDL listing: the message number as listed (empty when the line has none; Number
// is 0 then, or when it is not a number) and the unique id, everything after the first blank.
struct TListedMessage {
    std::string NumberText;
    int Number = 0;
    std::string Id;
};
std::vector<TListedMessage> ParseListing(const TStringList& listing);
// Whether an id can stand as one line of the ledger: not empty, no control bytes. An id holding a
// line end would read back as two ids and hide another message.
bool IsRecordableId(std::string_view id);

// What a cycle does with a listing, given the ledger: the ledger loses, in place and in order, the
// ids no longer on the server; every listing line whose id the ledger does not account for is
// new, in server order. An id listed n times and held k times by the ledger is new on its listing
// lines after the first k.
struct TCyclePlan {
    std::vector<TListedMessage> New;
};
TCyclePlan PlanCycle(const std::vector<TListedMessage>& listed, TStringList& ledger);
// The ids of every listing line, in order.
void ListedIds(const std::vector<TListedMessage>& listed, TStringList& ids);

// Writes the ledger of one cycle. The first save of a cycle replaces the file atomically (temporary
// file in the same folder, synced, renamed over it); each later save of the same cycle, which only
// adds one id at the end, appends that id and syncs. Either way the file always holds exactly the
// list: a failed or short append is cut back off, and a crash leaves it whole up to the last id
// saved. Raises EFCreateError / EWriteError naming the full path and the system's reason.
class TLedgerWriter {
public:
    explicit TLedgerWriter(std::string forwardAddress);
    ~TLedgerWriter();  // drops a reservation no save used (its temporary file goes)
    TLedgerWriter(const TLedgerWriter&) = delete;
    TLedgerWriter& operator=(const TLedgerWriter&) = delete;

    // Proves, before anything is sent, that this cycle's saves can reach the disk: an existing
    // ledger opens for writing, and the temporary file of the first save is created now with
    // room reserved for the ledger and every new id. Raises EFCreateError when it cannot.
    void Reserve(const TStringList& ledger, const TStringList& newIds);
    void SaveLedger(const TStringList& ledger);

private:
    void Rewrite(const TStringList& ledger);
    void Append(const std::string& id);
    void DropReservation();

    std::string path_;
    std::unique_ptr<TFileReplacement> reserved_;  // the first save's temporary file, made by Reserve
    std::string lastSaved_;  // the last entry written, to recognise a one-id extension
    int savedCount_ = -1;    // entries on disk from this writer; -1 before the first save
    int appendFd_ = -1;      // the ledger file, open for the appends of this cycle
    off_t appendSize_ = 0;   // its length after the last complete save
};

}  // namespace tarnwick
