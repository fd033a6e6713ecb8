#pragma once
// A worker thread whose end is reported on the GUI thread. The object lives on the GUI thread and is
// owned by a QObject parent: destroying the parent asks the thread to stop and waits for it, and a
// termination report still queued then is dropped.
#include <QObject>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace tarnwick {

class TThread : public QObject {
public:
    explicit TThread(QObject* parent);
    ~TThread() override;
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Runs Execute on a new thread; call from the most derived constructor or later.
    void Start();
    // Asks Execute to end soon: Sleep returns early from now on.
    void Terminate();
    bool Terminated() const;

    // Runs on the GUI thread once Execute has returned.
    std::function<void()> OnTerminate;
    // Delete the object after OnTerminate has run.
    bool FreeOnTerminate = true;

protected:
    virtual void Execute() = 0;
    // Sleeps for ms milliseconds; false when woken early by Terminate.
    bool Sleep(int ms);

private:
    void Finished();

    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool terminated_ = false;
};

}  // namespace tarnwick
