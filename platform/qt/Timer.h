#pragma once
// A timer that is switched on and off and whose interval is set in milliseconds. Switching it on
// while it is on, or setting the interval it already has, leaves the running countdown alone; a new
// interval restarts it. An interval of 0 never fires.
#include <QTimer>
#include <functional>

namespace tarnwick {

class TTimer {
public:
    explicit TTimer(bool enabled = true, int interval = 1000);
    TTimer(const TTimer&) = delete;
    TTimer& operator=(const TTimer&) = delete;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    int Interval() const { return interval_; }
    void SetInterval(int interval);
    // Whether a countdown is running right now.
    bool Active() const { return timer_.isActive(); }
    void SetTimerType(Qt::TimerType type) { timer_.setTimerType(type); }

    std::function<void()> OnTimer;

    // Starts the countdown if the timer is enabled; call once OnTimer is set.
    void Update();

private:
    QTimer timer_;
    bool enabled_;
    int interval_;
};

}  // namespace tarnwick
