#include "platform/TimeZone.h"

namespace tarnwick {

TTimeZoneId GetTimeZoneInformation(TTimeZoneInformation& info) {
    info = {};
    return TTimeZoneId::tzInvalid;
}

}  // namespace tarnwick
