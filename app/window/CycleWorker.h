#pragma once
// Runs the slow work (a forwarding cycle, a connection test) on a thread of its own, one job at a
// time, so the window, the icon and its menu keep answering whatever the servers do. What a job
// reports reaches the GUI thread through queued calls, in the order it was posted.
#include <QObject>
#include <functional>
#include <thread>

namespace tarnwick {

class TCycleWorker : public QObject {
public:
    explicit TCycleWorker(QObject* parent = nullptr);
    // Waits for a running job: whoever owns the worker ends the job first (by aborting it).
    ~TCycleWorker() override;
    TCycleWorker(const TCycleWorker&) = delete;
    TCycleWorker& operator=(const TCycleWorker&) = delete;

    // Runs job on the worker thread, then finished on the GUI thread after everything the job
    // posted. False, and nothing runs, while another job has not finished.
    bool Start(std::function<void()> job, std::function<void()> finished);
    bool Busy() const { return busy_; }
    // Any thread: runs fn on the GUI thread, after what was posted before it.
    void Post(std::function<void()> fn);

private:
    std::thread thread_;
    bool busy_ = false;
};

}  // namespace tarnwick
