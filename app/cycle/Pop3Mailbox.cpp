#include "app/cycle/Pop3Mailbox.h"

#include "app/cycle/CycleSteps.h"
#include "message/MailMessage.h"
#include "net/MailPOP3.h"
#include "platform/Exception.h"
#include "platform/StringList.h"

namespace tarnwick {

TPop3Mailbox::TPop3Mailbox(TMailPOP3& pop3, std::string shown, std::function<bool()> login)
    : pop3_(pop3), shown_(std::move(shown)), login_(std::move(login)) {}

std::string TPop3Mailbox::Where() const { return "POP3サーバ(" + shown_ + ")"; }

std::vector<TListedMessage> TPop3Mailbox::List() {
    // A refused UIDL leaves the listing empty: nothing is new.
    TStringList listing;
    pop3_.ListUniqueIds(listing);
    return ParseListing(listing);
}

std::vector<int64_t> TPop3Mailbox::Sizes(const std::vector<int>& numbers) { return pop3_.ListSizes(numbers); }

// A server that offers UTF8 (RFC 6856) may wrap 8-bit headers in a notice unless the client says
// it takes them; the message must go on as it is.
void TPop3Mailbox::ReadAsIs() { pop3_.EnableUtf8(); }

void TPop3Mailbox::ReadHeaders(const std::vector<int>& numbers, const THeaderEvent& each) {
    pop3_.RetrieveHeaders(numbers, each);
}

// Where the server pipelines, the sizes come in batches, and each message is asked for while the
// one before it is being sent on, so a slow link costs a round trip less per message. Without it,
// one command at a time.
void TPop3Mailbox::BeginReading(const std::vector<TListedMessage>& messages) {
    pipelined_ = messages.size() >= 2 && pop3_.Pipelining();
    if (!pipelined_) return;
    std::vector<int> numbers;
    for (const TListedMessage& m : messages)
        if (m.Number > 0) numbers.push_back(m.Number);
    const std::vector<int64_t> sizes = pop3_.ListSizes(numbers);
    for (size_t k = 0; k < numbers.size() && k < sizes.size(); ++k) sizes_[numbers[k]] = sizes[k];
}

int64_t TPop3Mailbox::Size(const TListedMessage& message) {
    const int number = StrToInt(message.NumberText);
    if (!pipelined_) return pop3_.ListSize(number);
    const auto it = sizes_.find(message.Number);
    return it == sizes_.end() ? -1 : it->second;
}

int64_t TPop3Mailbox::SizeLimit() const { return pop3_.MaxMessageSize; }

bool TPop3Mailbox::OverLimit(int64_t size) const { return pop3_.MaxMessageSize > 0 && size > pop3_.MaxMessageSize; }

bool TPop3Mailbox::Read(const TListedMessage& message, TMailMessage& into, std::string& refusal, const TNext& next) {
    const int number = StrToInt(message.NumberText);
    if (!pipelined_) {
        const bool retrieved = pop3_.RetrieveMessage(number, into);
        refusal = pop3_.LastReply.Text.Text();
        return retrieved;
    }
    if (inFlight_ != &message) {
        DropReadAhead();
        pop3_.SendRetrieve(number);
    }
    inFlight_ = nullptr;
    const bool retrieved = pop3_.ReadRetrieved(into);
    refusal = pop3_.LastReply.Text.Text();
    // The next one worth asking for: one that can be asked for and is not announced too big.
    const TWorth worth = [this](const TListedMessage& m) {
        const auto it = sizes_.find(m.Number);
        return m.Number > 0 && !(it != sizes_.end() && OverLimit(it->second));
    };
    if (const TListedMessage* following = next ? next(worth) : nullptr) {
        pop3_.SendRetrieve(following->Number);
        inFlight_ = following;
    }
    return retrieved;
}

// Reads the answer of a RETR asked for ahead and drops it.
void TPop3Mailbox::DropReadAhead() {
    if (inFlight_ == nullptr) return;
    inFlight_ = nullptr;
    TMailMessage scratch;
    scratch.NoEncode = scratch.NoDecode = scratch.KeepBodyText = true;
    pop3_.ReadRetrieved(scratch);
}

bool TPop3Mailbox::Reopen() {
    inFlight_ = nullptr;
    detail::ForceClose(pop3_);
    return login_();
}

}  // namespace tarnwick
