#include "app/cycle/ImapMailbox.h"

#include "app/cycle/CycleSteps.h"
#include "message/MailMessage.h"
#include "net/MailIMAP.h"
#include "platform/Exception.h"

namespace tarnwick {

TImapMailbox::TImapMailbox(TMailIMAP& imap, std::string shown, uint32_t uidValidity, std::function<bool()> login)
    : imap_(imap), shown_(std::move(shown)), uidValidity_(uidValidity), login_(std::move(login)) {}

std::string TImapMailbox::Where() const { return "IMAPサーバ(" + shown_ + ")"; }

std::string TImapMailbox::IdOf(uint32_t uidValidity, uint32_t uid) {
    return std::to_string(uidValidity) + "." + std::to_string(uid);
}

// The number of a message is its place in the listing, as POP3 numbers them; the uid is asked for.
std::vector<TListedMessage> TImapMailbox::List() {
    uids_ = imap_.SearchAll();
    sizes_.clear();
    std::vector<TListedMessage> listed;
    listed.reserve(uids_.size());
    for (size_t i = 0; i < uids_.size(); ++i) {
        const int number = static_cast<int>(i + 1);
        listed.push_back({std::to_string(number), number, IdOf(uidValidity_, uids_[i])});
    }
    return listed;
}

// The ledger's last IMAP id tells the UIDVALIDITY it was kept under. A ledger with ids but none
// of this form was kept through POP3: either way what the folder holds cannot be told from what
// went, and must not go again.
std::string TImapMailbox::IdsRenewed(const TStringList& ledger) const {
    if (ledger.Count() == 0) return {};
    for (int i = ledger.Count() - 1; i >= 0; --i) {
        const std::string& id = ledger[i];
        const size_t dot = id.find('.');
        if (dot == 0 || dot == std::string::npos || id.find_first_not_of("0123456789.") != std::string::npos ||
            id.find('.', dot + 1) != std::string::npos || dot + 1 == id.size())
            continue;
        const std::string kept = id.substr(0, dot);
        if (kept == std::to_string(uidValidity_)) return {};
        return "UIDVALIDITY " + kept + "→" + std::to_string(uidValidity_);
    }
    return "UIDVALIDITY →" + std::to_string(uidValidity_);
}

uint32_t TImapMailbox::UidOf(int number) const {
    return number >= 1 && static_cast<size_t>(number) <= uids_.size() ? uids_[number - 1] : 0;
}

std::vector<uint32_t> TImapMailbox::UidsOf(const std::vector<int>& numbers) const {
    std::vector<uint32_t> uids;
    uids.reserve(numbers.size());
    for (int number : numbers) uids.push_back(UidOf(number));
    return uids;
}

std::vector<int64_t> TImapMailbox::Sizes(const std::vector<int>& numbers) {
    const std::map<uint32_t, int64_t> found = imap_.FetchSizes(UidsOf(numbers));
    sizes_.insert(found.begin(), found.end());
    std::vector<int64_t> sizes;
    sizes.reserve(numbers.size());
    for (int number : numbers) {
        const auto it = found.find(UidOf(number));
        sizes.push_back(it == found.end() ? -1 : it->second);
    }
    return sizes;
}

// Header blocks and their sizes in one command.
void TImapMailbox::ReadHeaders(const std::vector<int>& numbers, const THeaderEvent& each) {
    const std::vector<uint32_t> uids = UidsOf(numbers);
    imap_.FetchHeaders(uids, [&](size_t index, bool found, int64_t size, TMailMessage& header) {
        if (found && size >= 0) sizes_[uids[index]] = size;
        each(index, found, header);
    });
}

// The sizes of every message still to be read, in one round trip.
void TImapMailbox::BeginReading(const std::vector<TListedMessage>& messages) {
    std::vector<int> numbers;
    for (const TListedMessage& m : messages)
        if (sizes_.find(UidOf(m.Number)) == sizes_.end()) numbers.push_back(m.Number);
    if (!numbers.empty()) Sizes(numbers);
}

int64_t TImapMailbox::Size(const TListedMessage& message) {
    const uint32_t uid = UidOf(message.Number);
    if (sizes_.find(uid) == sizes_.end()) Sizes({message.Number});
    const auto it = sizes_.find(uid);
    return it == sizes_.end() ? -1 : it->second;
}

int64_t TImapMailbox::SizeLimit() const { return imap_.MaxMessageSize; }

bool TImapMailbox::Read(const TListedMessage& message, TMailMessage& into, std::string& refusal, const TNext&) {
    const uint32_t uid = UidOf(message.Number);
    if (uid != 0 && imap_.FetchMessage(uid, into)) return true;
    refusal = "サーバにありません(UID " + std::to_string(uid) + ")";
    return false;
}

bool TImapMailbox::Reopen() {
    detail::ForceClose(imap_);
    return login_();
}

}  // namespace tarnwick
