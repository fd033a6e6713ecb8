#include "platform/qt/Timer.h"

namespace tarnwick {

TTimer::TTimer(bool enabled, int interval) : enabled_(enabled), interval_(interval) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        if (OnTimer) OnTimer();
    });
}

void TTimer::SetEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    Update();
}

void TTimer::SetInterval(int interval) {
    if (interval == interval_) return;
    interval_ = interval;
    Update();
}

void TTimer::Update() {
    timer_.stop();
    if (enabled_ && interval_ > 0 && OnTimer) timer_.start(interval_);
}

}  // namespace tarnwick
