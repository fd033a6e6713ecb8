#include "net/MailComponent.h"

#include <algorithm>
#include <memory>
#include <mutex>

#include "net/MailStack.h"

namespace tarnwick {

namespace {

// Guards the live count and the stack's creation and release.
std::mutex& StackLock() {
    static std::mutex lock;
    return lock;
}
int gLiveComponents = 0;
std::atomic<TMailStack*> gStack{nullptr};

}  // namespace

TMailStack* TMailStack::Instance() { return gStack.load(std::memory_order_acquire); }

TMailComponent::TMailComponent() {
    std::lock_guard<std::mutex> guard(StackLock());
    if (gLiveComponents++ == 0) gStack.store(new TMailStackLinux, std::memory_order_release);
}

TMailComponent::~TMailComponent() {
    // Tell those that hold a pointer to this one, and stop being told about them.
    std::vector<TMailComponent*> notifies;
    notifies.swap(notifies_);
    for (TMailComponent* other : notifies) {
        other->notifies_.erase(std::remove(other->notifies_.begin(), other->notifies_.end(), this),
                               other->notifies_.end());
        other->Notification(this);
    }
    std::lock_guard<std::mutex> guard(StackLock());
    if (--gLiveComponents == 0) delete gStack.exchange(nullptr, std::memory_order_acq_rel);
}

int TMailComponent::LiveComponents() {
    std::lock_guard<std::mutex> guard(StackLock());
    return gLiveComponents;
}

TMailStack& TMailComponent::Stack() { return *TMailStack::Instance(); }

std::string TMailComponent::StatusText(TMailStatus status, const std::string& arg) {
    const char* format = "%s";
    switch (status) {
        case TMailStatus::hsResolving: format = "Resolving hostname %s."; break;
        case TMailStatus::hsConnecting: format = "Connecting to %s."; break;
        case TMailStatus::hsConnected: format = "Connected."; break;
        case TMailStatus::hsDisconnecting: format = "Disconnecting."; break;
        case TMailStatus::hsDisconnected: format = "Disconnected."; break;
        default: break;
    }
    std::string text = format;
    size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, arg);
    return text;
}

void TMailComponent::ReportStatus(TMailStatus status, const std::string& arg) {
    if (OnStatus) OnStatus(*this, status, StatusText(status, arg));
}

void TMailComponent::StartWork(TWorkMode mode, int32_t workCountMax) {
    WorkSection& w = work_[static_cast<int>(mode)];
    if (++w.open == 1) {
        w.max = workCountMax;
        w.total = 0;
        if (OnWorkBegin) OnWorkBegin(*this, mode, workCountMax);
    }
}

void TMailComponent::AddWork(TWorkMode mode, int32_t count) {
    WorkSection& w = work_[static_cast<int>(mode)];
    if (w.open < 1) return;
    w.total += count;
    if (OnWork) OnWork(*this, mode, w.total);
}

void TMailComponent::FinishWork(TWorkMode mode) {
    WorkSection& w = work_[static_cast<int>(mode)];
    if (w.open == 1 && OnWorkEnd) OnWorkEnd(*this, mode);
    // An unbalanced finish must not leave the count below zero.
    if (w.open > 0) --w.open;
}

std::string TMailComponent::LocalHostName() { return Stack().SockGetHostName(); }

void TMailComponent::FreeNotification(TMailComponent* other) {
    if (other == nullptr || other == this) return;
    if (std::find(notifies_.begin(), notifies_.end(), other) == notifies_.end()) notifies_.push_back(other);
    if (std::find(other->notifies_.begin(), other->notifies_.end(), this) == other->notifies_.end())
        other->notifies_.push_back(this);
}

void TMailComponent::RemoveFreeNotification(TMailComponent* other) {
    if (other == nullptr) return;
    notifies_.erase(std::remove(notifies_.begin(), notifies_.end(), other), notifies_.end());
    other->notifies_.erase(std::remove(other->notifies_.begin(), other->notifies_.end(), this),
                           other->notifies_.end());
}

}  // namespace tarnwick
