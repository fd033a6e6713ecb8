#pragma once
// The POP3 client as the cycle's mailbox: UIDL, LIST, TOP and RETR, pipelined where the server
// allows it, each message asked for while the one before it is sent on.
#include <functional>
#include <map>
#include <string>

#include "app/cycle/Mailbox.h"

namespace tarnwick {

class TMailPOP3;

class TPop3Mailbox : public TMailbox {
public:
    // shown: the server as typed; login: logs in again after a close (false when it failed).
    TPop3Mailbox(TMailPOP3& pop3, std::string shown, std::function<bool()> login);

    std::string Where() const override;
    std::vector<TListedMessage> List() override;
    std::vector<int64_t> Sizes(const std::vector<int>& numbers) override;
    void ReadAsIs() override;
    void ReadHeaders(const std::vector<int>& numbers, const THeaderEvent& each) override;
    void BeginReading(const std::vector<TListedMessage>& messages) override;
    int64_t Size(const TListedMessage& message) override;
    int64_t SizeLimit() const override;
    bool Read(const TListedMessage& message, TMailMessage& into, std::string& refusal, const TNext& next) override;
    void DropReadAhead() override;
    bool Reopen() override;

private:
    bool OverLimit(int64_t size) const;

    TMailPOP3& pop3_;
    std::string shown_;
    std::function<bool()> login_;
    bool pipelined_ = false;
    std::map<int, int64_t> sizes_;  // LIST sizes asked for at once, when pipelined
    const TListedMessage* inFlight_ = nullptr;  // its RETR went out and the answer is unread
};

}  // namespace tarnwick
