#pragma once
// The forwarded-id ledger and the bookkeeping that decides which listed messages are new.
// All comparisons of ids ignore ASCII letter case, like the string lists they live in; the
// membership tests go through hash sets so a mailbox of 100,000 messages costs milliseconds.
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "platform/StringList.h"

namespace tarnwick {

// A set of ids compared without regard to ASCII letter case.
class TIdSet {
public:
    TIdSet() = default;
    explicit TIdSet(const TStringList& ids);
    void Add(std::string_view id);
    bool Contains(std::string_view id) const;

private:
    std::unordered_set<std::string> keys_;
};

// "number id" -> "id": everything after the first blank; an entry without a blank stays whole.
void StripNumbers(TStringList& list);
// The ledger file of a forwarding address: address + ".txt" in the current folder.
std::string LedgerFileName(const std::string& forwardAddress);
// Loads the ledger file if it exists (any line end); a missing file leaves the list empty.
void LoadLedger(const std::string& forwardAddress, TStringList& ledger);
// Drops, in place and in order, the ledger entries that are no longer on the server.
void PruneLedger(TStringList& ledger, const TStringList& allIds);
// Appends, in server order, every listed id not in the ledger (a duplicate new id twice).
void SelectNewIds(const TStringList& allIds, const TStringList& ledger, TStringList& newIds);
// For each new id, the message number of the first listing line whose id equals it; numbers line
// up with the new ids index by index (an id listed without a number gets an empty number).
void MapIdsToNumbers(const TStringList& listing, const TStringList& newIds, TStringList& newNumbers);

// Writes the ledger of one cycle. The first save of a cycle replaces the file atomically (temporary
// file in the same folder, synced, renamed over it); each later save of the same cycle, which only
// adds one id at the end, appends that id and syncs. Either way the file always holds exactly the
// list, and a crash leaves it whole up to the last id saved. Raises EFCreateError / EWriteError.
class TLedgerWriter {
public:
    explicit TLedgerWriter(std::string forwardAddress);
    void SaveLedger(const TStringList& ledger);

private:
    void Rewrite(const TStringList& ledger);
    void Append(const std::string& id);

    std::string path_;
    std::string lastSaved_;  // the last entry written, to recognise a one-id extension
    int savedCount_ = -1;    // entries on disk from this writer; -1 before the first save
};

}  // namespace tarnwick
