#include "app/cycle/ImapTransport.h"

#include <sys/socket.h>

#include <chrono>
#include <utility>

#include "net/MailSocketHandle.h"

namespace tarnwick {

void TImapTransport::ConnectTo(const std::string& host, int port, const std::string& boundIP, int boundPort,
                               int boundPortMin, int boundPortMax, int timeout) {
    TMailIOHandlerAbortable::ConnectTo(host, port, boundIP, boundPort, boundPortMin, boundPortMax, timeout);
    std::lock_guard<std::mutex> lock(mutex_);
    socket_ = Binding()->Handle();
}

// The number is forgotten before the descriptor is closed and can be reused.
void TImapTransport::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        socket_ = -1;
    }
    TMailIOHandlerAbortable::Close();
}

void TImapTransport::Wake() {
    std::lock_guard<std::mutex> lock(mutex_);
    wake_ = true;
    if (armed_ && socket_ >= 0) ::shutdown(socket_, SHUT_RDWR);
    woken_.notify_all();
}

bool TImapTransport::Arm() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (wake_) {
        wake_ = false;
        return false;
    }
    armed_ = true;
    return true;
}

bool TImapTransport::Disarm() {
    std::lock_guard<std::mutex> lock(mutex_);
    armed_ = false;
    return std::exchange(wake_, false);
}

bool TImapTransport::Sleep(int seconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    const bool woken = woken_.wait_for(lock, std::chrono::seconds(seconds), [this] { return wake_; });
    wake_ = false;
    return !woken;
}

void TImapTransport::Forget() {
    std::lock_guard<std::mutex> lock(mutex_);
    wake_ = false;
}

}  // namespace tarnwick
