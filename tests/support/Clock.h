#pragma once
// Monotonic milliseconds for tests that check how long something took.
#include <time.h>

#include <cstdint>

namespace tarnwick::test {

inline int64_t NowMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace tarnwick::test
