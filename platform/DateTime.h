#pragma once
// The runtime's date-time value: days since 1899-12-30, the fraction being the time of day.
#include <cstdint>
#include <string>

namespace tarnwick {

using TDateTime = double;

constexpr double MSecsPerDay = 86400000.0;

bool TryEncodeDate(int year, int month, int day, TDateTime& result);
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& result);
// Raise EConvertError on an invalid date or time.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int msec);
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec);
// 1 = Sunday .. 7 = Saturday.
int DayOfWeek(TDateTime value);
bool IsLeapYear(int year);

// Local wall-clock time.
TDateTime Now();
// Seconds since the Unix epoch (UTC) <-> date-time in UTC.
TDateTime UnixToDateTime(int64_t seconds);
int64_t DateTimeToUnix(TDateTime value);

// "hh:nn:ss" of the value's time of day.
std::string FormatTimeHMS(TDateTime value);

}  // namespace tarnwick
