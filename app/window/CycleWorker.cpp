#include "app/window/CycleWorker.h"

#include <QMetaObject>

namespace tarnwick {

TCycleWorker::TCycleWorker(QObject* parent) : QObject(parent) {}

TCycleWorker::~TCycleWorker() {
    // Reports still queued are dropped with this object.
    if (thread_.joinable()) thread_.join();
}

bool TCycleWorker::Start(std::function<void()> job, std::function<void()> finished) {
    if (busy_) return false;
    if (thread_.joinable()) thread_.join();
    busy_ = true;
    thread_ = std::thread([this, job = std::move(job), finished = std::move(finished)]() mutable {
        try {
            job();
        } catch (...) {
            // A job reports its own errors; nothing may escape a thread.
        }
        Post([this, finished = std::move(finished)] {
            if (thread_.joinable()) thread_.join();
            busy_ = false;
            if (finished) finished();
        });
    });
    return true;
}

void TCycleWorker::Post(std::function<void()> fn) {
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

}  // namespace tarnwick
