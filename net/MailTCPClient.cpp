#include "net/MailTCPClient.h"

#include <memory>

#include "net/MailIOHandlerSocket.h"

namespace tarnwick {

void TMailTCPClient::FireConnected() {
    if (OnConnected) OnConnected(*this);
}

void TMailTCPClient::Connect(int timeout) {
    if (IOHandler() == nullptr) {
        auto transport = std::make_unique<TMailIOHandlerSSL>();
        transport->OnStatus = OnStatus;
        AdoptIOHandler(std::move(transport));
    } else if (IOHandler()->IsConnected()) {
        throw EMailAlreadyConnected();
    }
    try {
        IOHandler()->Open();
        ResetInput();
        IOHandler()->ConnectTo(host_, port_, BoundIP, BoundPort, BoundPortMin, BoundPortMax, timeout);
        if (Security == TMailSecurity::msTLS) StartTLS();
        if (Intercept() != nullptr) Intercept()->Connect(*this);
        ReportStatus(TMailStatus::hsConnected, host_);
        FireConnected();
    } catch (...) {
        DropSocket();
        throw;
    }
}

void TMailTCPClient::StartTLS() {
    auto* tls = dynamic_cast<TMailIOHandlerSSL*>(IOHandler());
    if (tls == nullptr) throw EMailTLSError("This connection cannot use TLS.");
    if (InputBuffer().Size() > 0) throw EMailTLSError("The server sent data before the TLS handshake.");
    FlushWriteBuffer();
    tls->StartTLS(host_, CAFile, ReadTimeout > 0 ? ReadTimeout : -2);
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
