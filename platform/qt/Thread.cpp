#include "platform/qt/Thread.h"

#include <QMetaObject>
#include <chrono>

namespace tarnwick {

TThread::TThread(QObject* parent) : QObject(parent) {}

TThread::~TThread() {
    Terminate();
    if (thread_.joinable()) thread_.join();
}

void TThread::Start() {
    thread_ = std::thread([this] {
        Execute();
        // Posting is safe while the object exists; the destructor joins before it goes away.
        QMetaObject::invokeMethod(this, [this] { Finished(); }, Qt::QueuedConnection);
    });
}

void TThread::Terminate() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        terminated_ = true;
    }
    wake_.notify_all();
}

bool TThread::Terminated() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return terminated_;
}

bool TThread::Sleep(int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return terminated_; });
}

void TThread::Finished() {
    if (thread_.joinable()) thread_.join();
    if (OnTerminate) OnTerminate();
    if (FreeOnTerminate) deleteLater();
}

}  // namespace tarnwick
