#include "platform/TimeZone.h"

#include <ctime>

namespace tarnwick {

TTimeZoneId GetTimeZoneInformation(TTimeZoneInformation& info) {
    info = {};
    // TZ may have changed since the last call; localtime_r alone does not promise to look again.
    tzset();
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (now == static_cast<std::time_t>(-1) || localtime_r(&now, &local) == nullptr) return TTimeZoneId::tzInvalid;
    const int currentBias = static_cast<int>(-local.tm_gmtoff / 60);
    if (local.tm_isdst > 0) {
        // timezone holds the standard offset (seconds west); the rest is the daylight shift.
        info.Bias = static_cast<int>(timezone / 60);
        info.DaylightBias = currentBias - info.Bias;
        return TTimeZoneId::tzDaylight;
    }
    info.Bias = currentBias;
    info.DaylightBias = -60;
    return daylight ? TTimeZoneId::tzStandard : TTimeZoneId::tzUnknown;
}

}  // namespace tarnwick
