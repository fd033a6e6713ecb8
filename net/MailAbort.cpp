#include "net/MailAbort.h"

#include <sys/socket.h>

namespace tarnwick {

void TMailAbort::Abort() {
    std::lock_guard<std::mutex> lock(mutex_);
    aborted_ = true;
    // Shutting down (not closing) leaves the descriptor to its owner, who closes it as usual; a
    // blocked read then sees the end of the connection and a blocked write an error.
    for (int socket : sockets_) ::shutdown(socket, SHUT_RDWR);
}

bool TMailAbort::Aborted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return aborted_;
}

bool TMailAbort::Register(int socket) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (aborted_) return false;
    sockets_.insert(socket);
    return true;
}

void TMailAbort::Unregister(int socket) {
    std::lock_guard<std::mutex> lock(mutex_);
    sockets_.erase(socket);
}

TMailIOHandlerAbortable::~TMailIOHandlerAbortable() { Close(); }

void TMailIOHandlerAbortable::CheckConnectAborted() {
    if (abort_.Aborted()) throw EMailAborted();
}

void TMailIOHandlerAbortable::Close() {
    // Out of the group before the descriptor is closed and its number can be reused.
    if (registered_ >= 0) abort_.Unregister(registered_);
    registered_ = -1;
    TMailIOHandlerSSL::Close();
}

void TMailIOHandlerAbortable::ConnectTo(const std::string& host, int port, const std::string& boundIP,
                                        int boundPort, int boundPortMin, int boundPortMax, int timeout) {
    if (abort_.Aborted()) throw EMailAborted();
    TMailIOHandlerSSL::ConnectTo(host, port, boundIP, boundPort, boundPortMin, boundPortMax,
                                 timeout == -1 || timeout == 0 ? -2 : timeout);
    const int socket = Binding()->Handle();
    if (!abort_.Register(socket)) {
        // Aborted while connecting.
        TMailIOHandlerSSL::Close();
        throw EMailAborted();
    }
    registered_ = socket;
}

}  // namespace tarnwick
