#pragma once
// The system's time-zone information, in the terms the mail code asks for: biases in minutes,
// UTC minus local time.
namespace tarnwick {

enum class TTimeZoneId {
    tzInvalid,       // the information could not be read
    tzUnknown,       // the zone makes no standard/daylight distinction
    tzStandard,      // standard time is in force
    tzDaylight,      // daylight saving time is in force
};

struct TTimeZoneInformation {
    int Bias = 0;          // UTC - local standard time, minutes
    int StandardBias = 0;  // added to Bias during standard time
    int DaylightBias = 0;  // added to Bias during daylight saving time
};

// Reads the zone in force now (from TZ through the C library).
TTimeZoneId GetTimeZoneInformation(TTimeZoneInformation& info);

}  // namespace tarnwick
