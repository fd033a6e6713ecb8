#include "net/MailAbort.h"

#include <sys/socket.h>

namespace tarnwick {

namespace {
thread_local TMailAbort* currentAbort = nullptr;
}  // namespace

void TMailAbort::Abort() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (aborted_) return;
    aborted_ = true;
    // Shutting down (not closing) leaves the descriptor to its owner, who closes it as usual; a
    // blocked read then sees the end of the connection and a blocked write an error.
    for (int socket : sockets_) ::shutdown(socket, SHUT_RDWR);
    // Under the lock: a listener being destroyed waits until its call is over.
    for (auto& [id, onAbort] : listeners_) onAbort();
}

TMailAbort::TListener TMailAbort::Listen(std::function<void()> onAbort) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (aborted_) {
        onAbort();
        return TListener();
    }
    const int id = ++nextListener_;
    listeners_.emplace(id, std::move(onAbort));
    return TListener(this, id);
}

TMailAbort::TListener::TListener(TListener&& other) noexcept : group_(other.group_), id_(other.id_) {
    other.group_ = nullptr;
}

TMailAbort::TListener& TMailAbort::TListener::operator=(TListener&& other) noexcept {
    if (this != &other) {
        this->~TListener();
        group_ = other.group_;
        id_ = other.id_;
        other.group_ = nullptr;
    }
    return *this;
}

TMailAbort::TListener::~TListener() {
    if (group_ == nullptr) return;
    std::lock_guard<std::mutex> lock(group_->mutex_);
    group_->listeners_.erase(id_);
    group_ = nullptr;
}

TAbortScope::TAbortScope(TMailAbort& abort) : previous_(currentAbort) { currentAbort = &abort; }

TAbortScope::~TAbortScope() { currentAbort = previous_; }

TMailAbort* TAbortScope::Current() { return currentAbort; }

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
