#include "net/MailIMAP.h"

#include "platform/Exception.h"

#include "message/MailMessage.h"
#include "net/ImapResponse.h"

namespace tarnwick {

TMailIMAP::TMailIMAP() { SetPort(143); }

TMailIMAP::~TMailIMAP() = default;

void TMailIMAP::Connect(int timeout) { TMailMessageClient::Connect(timeout); }

void TMailIMAP::Disconnect() { TMailTCPClient::Disconnect(); }

bool TMailIMAP::HasCapability(const std::string& name) const {
    for (const std::string& c : capabilities_)
        if (SameText(c, name)) return true;
    return false;
}

TMailIMAP::TFolderStatus TMailIMAP::Examine(const std::string&) { return {}; }
std::vector<uint32_t> TMailIMAP::SearchAll() { return {}; }
std::map<uint32_t, int64_t> TMailIMAP::FetchSizes(const std::vector<uint32_t>&) { return {}; }
void TMailIMAP::FetchHeaders(const std::vector<uint32_t>&, const THeaderEvent&) {}
bool TMailIMAP::FetchMessage(uint32_t, TMailMessage&) { return false; }
TMailIMAP::TIdleEnd TMailIMAP::Idle(int) { return TIdleEnd::Renew; }
bool TMailIMAP::Noop() { return false; }

}  // namespace tarnwick
