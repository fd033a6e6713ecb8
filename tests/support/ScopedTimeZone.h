#pragma once
// The process time zone for one test: Use() sets TZ, and the old zone (or none) comes back when
// the object goes. Dates in logs and headers depend on it.
//
//     ScopedTimeZone zone_{"Asia/Tokyo"};
#include <time.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace tarnwick::test {

class ScopedTimeZone {
public:
    ScopedTimeZone() {
        if (const char* old = std::getenv("TZ")) old_ = old;
    }
    explicit ScopedTimeZone(const char* zone) : ScopedTimeZone() { Use(zone); }
    ~ScopedTimeZone() {
        if (old_) ::setenv("TZ", old_->c_str(), 1);
        else ::unsetenv("TZ");
        ::tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

    void Use(const char* zone) {
        ::setenv("TZ", zone, 1);
        ::tzset();
    }

private:
    std::optional<std::string> old_;
};

}  // namespace tarnwick::test
