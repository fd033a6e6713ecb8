#pragma once
// SIGTERM and SIGHUP (a logout, a service manager stopping the session) in the window mode: taken
// into the event loop, so the settings can be saved before the program ends.
#include <QObject>
#include <functional>

class QSocketNotifier;

namespace tarnwick {

class TEndSignals : public QObject {
    Q_OBJECT
public:
    // onEnd runs in the event loop, once per signal.
    explicit TEndSignals(std::function<void()> onEnd);
    ~TEndSignals() override;
    TEndSignals(const TEndSignals&) = delete;
    TEndSignals& operator=(const TEndSignals&) = delete;

private:
    std::function<void()> onEnd_;
    int fds_[2] = {-1, -1};
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace tarnwick
