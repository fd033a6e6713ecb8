#pragma once
// The first part of a forwarding cycle: the listing, the ledger and what is new, then the
// screening of it before anything is downloaded whole.
#include "app/cycle/CycleContext.h"

namespace tarnwick {

class TMailbox;

class TCyclePlanner {
public:
    TCyclePlanner(TCycleContext& cycle, TMailbox& mailbox) : cycle_(cycle), mailbox_(mailbox) {}

    // Fills the cycle's ledger, New and Screened with what is to be sent. False when the ledger
    // cannot take what would be sent, or a login again during screening failed (logged; nothing
    // is sent then; Report.End is Pop3LoginFailed for the latter).
    bool Plan();

private:
    // A message whose id cannot be recorded would go again every cycle: it is skipped, and said.
    std::vector<TListedMessage> RecordableOnly(std::vector<TListedMessage> listed);
    // The ledger file as it stands, or made from the listing on a first run. False when unreadable.
    bool LoadOrStartLedger(const std::vector<TListedMessage>& listed);
    bool RecordRenewedIds(const std::vector<TListedMessage>& listed);
    bool Reserve();
    bool Screen(const TStringList& allIds);
    void LoadBackoff(const TStringList& allIds);
    // Records what is held back and keeps in New what is to be sent.
    void Sort();

    TCycleContext& cycle_;
    TMailbox& mailbox_;
};

}  // namespace tarnwick
