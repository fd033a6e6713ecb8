#include "net/MailTCPClient.h"

#include <memory>

#include "net/MailIOHandlerSocket.h"

namespace tarnwick {

void TMailTCPClient::FireConnected() {
    if (OnConnected) OnConnected(*this);
}

void TMailTCPClient::Connect(int timeout) {
    if (IOHandler() == nullptr) {
        auto transport = std::make_unique<TMailIOHandlerSocket>();
        transport->OnStatus = OnStatus;
        AdoptIOHandler(std::move(transport));
    } else if (IOHandler()->IsConnected()) {
        throw EMailAlreadyConnected();
    }
    try {
        IOHandler()->Open();
        ResetInput();
        IOHandler()->ConnectTo(host_, port_, BoundIP, BoundPort, BoundPortMin, BoundPortMax, timeout);
        if (Intercept() != nullptr) Intercept()->Connect(*this);
        ReportStatus(TMailStatus::hsConnected, host_);
        FireConnected();
    } catch (...) {
        DropSocket();
        throw;
    }
}

std::string TMailTCPClient::ConnectAndReadAll() {
    Connect(-1);
    std::string all;
    try {
        all = ReadAll();
    } catch (...) {
        Disconnect();
        throw;
    }
    Disconnect();
    return all;
}

}  // namespace tarnwick
