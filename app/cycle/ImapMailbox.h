#pragma once
// The IMAP client as the cycle's mailbox: the examined folder's uids as ids "<UIDVALIDITY>.<UID>",
// sizes and header blocks asked for together, each message read with BODY.PEEK[] so that nothing
// on the server changes.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/cycle/Mailbox.h"

namespace tarnwick {

class TMailIMAP;

class TImapMailbox : public TMailbox {
public:
    // shown: the server as typed; uidValidity: the folder's, from its EXAMINE; login: logs in and
    // examines it again after a close (false when it failed).
    TImapMailbox(TMailIMAP& imap, std::string shown, uint32_t uidValidity, std::function<bool()> login);

    std::string Where() const override;
    std::vector<TListedMessage> List() override;
    std::string IdsRenewed(const TStringList& ledger) const override;
    std::vector<int64_t> Sizes(const std::vector<int>& numbers) override;
    void ReadAsIs() override {}
    void ReadHeaders(const std::vector<int>& numbers, const THeaderEvent& each) override;
    void BeginReading(const std::vector<TListedMessage>& messages) override;
    int64_t Size(const TListedMessage& message) override;
    int64_t SizeLimit() const override;
    bool Read(const TListedMessage& message, TMailMessage& into, std::string& refusal, const TNext& next) override;
    void DropReadAhead() override {}
    bool Reopen() override;

    // "<uidValidity>.<uid>".
    static std::string IdOf(uint32_t uidValidity, uint32_t uid);

private:
    // The uid of a listed number (1-based position in the last listing); 0 when there is none.
    uint32_t UidOf(int number) const;
    std::vector<uint32_t> UidsOf(const std::vector<int>& numbers) const;

    TMailIMAP& imap_;
    std::string shown_;
    uint32_t uidValidity_;
    std::function<bool()> login_;
    std::vector<uint32_t> uids_;       // the last listing, ascending
    std::map<uint32_t, int64_t> sizes_;  // announced sizes learnt so far, by uid
};

}  // namespace tarnwick
