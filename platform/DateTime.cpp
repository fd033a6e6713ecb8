#include "platform/DateTime.h"

#include <cmath>
#include <ctime>
#include <sys/time.h>

#include "platform/Exception.h"

namespace tarnwick {

namespace {
const int kDaysInMonth[2][12] = {{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                                 {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};
constexpr int kDaysFrom0001To1899_12_30 = 693594;

// Splits a value into whole days and milliseconds of the day, rounding to the millisecond.
void Split(TDateTime value, int64_t& days, int64_t& msecs) {
    int64_t total = static_cast<int64_t>(std::llround(value * MSecsPerDay));
    // Negative values count days backwards but keep a positive time of day, as the runtime does.
    days = total / 86400000;
    msecs = total % 86400000;
    if (msecs < 0) msecs = -msecs;
}
}  // namespace

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
    if (year < 1 || year > 9999 || month < 1 || month > 12) return false;
    if (day < 1 || day > kDaysInMonth[IsLeapYear(year)][month - 1]) return false;
    int64_t days = day;
    for (int m = 1; m < month; ++m) days += kDaysInMonth[IsLeapYear(year)][m - 1];
    int64_t y = year - 1;
    days += y * 365 + y / 4 - y / 100 + y / 400;
    result = static_cast<double>(days - kDaysFrom0001To1899_12_30);
    return true;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& result) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 ||
        msec > 999)
        return false;
    result = (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + msec) / MSecsPerDay;
    return true;
}

TDateTime EncodeDate(int year, int month, int day) {
    TDateTime r;
    if (!TryEncodeDate(year, month, day, r)) throw EConvertError("日付が正しくありません");
    return r;
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
    TDateTime r;
    if (!TryEncodeTime(hour, minute, second, msec, r)) throw EConvertError("時刻が正しくありません");
    return r;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
    int64_t days, msecs;
    Split(value, days, msecs);
    int64_t t = days + kDaysFrom0001To1899_12_30;  // days since 0001-01-01 (day 1)
    if (t <= 0) {
        year = month = day = 0;
        return;
    }
    --t;
    int64_t y = 1;
    int64_t n400 = t / 146097;
    t %= 146097;
    int64_t n100 = t / 36524;
    t %= 36524;
    if (n100 == 4) {
        n100 = 3;
        t += 36524;
    }
    int64_t n4 = t / 1461;
    t %= 1461;
    int64_t n1 = t / 365;
    t %= 365;
    if (n1 == 4) {
        n1 = 3;
        t += 365;
    }
    y += n400 * 400 + n100 * 100 + n4 * 4 + n1;
    year = static_cast<int>(y);
    int m = 0;
    const int* table = kDaysInMonth[IsLeapYear(year)];
    while (t >= table[m]) {
        t -= table[m];
        ++m;
    }
    month = m + 1;
    day = static_cast<int>(t) + 1;
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec) {
    int64_t days, msecs;
    Split(value, days, msecs);
    hour = static_cast<int>(msecs / 3600000);
    minute = static_cast<int>(msecs / 60000 % 60);
    second = static_cast<int>(msecs / 1000 % 60);
    msec = static_cast<int>(msecs % 1000);
}

int DayOfWeek(TDateTime value) {
    int64_t days, msecs;
    Split(value, days, msecs);
    // 1899-12-30 was a Saturday.
    int64_t d = (days + 6) % 7;
    if (d < 0) d += 7;
    return static_cast<int>(d) + 1;
}

TDateTime Now() {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    time_t secs = tv.tv_sec;
    struct tm local;
    localtime_r(&secs, &local);
    TDateTime date = EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    int sec = local.tm_sec > 59 ? 59 : local.tm_sec;
    return date + EncodeTime(local.tm_hour, local.tm_min, sec, static_cast<int>(tv.tv_usec / 1000));
}

TDateTime UnixToDateTime(int64_t seconds) { return 25569.0 + static_cast<double>(seconds) / 86400.0; }

int64_t DateTimeToUnix(TDateTime value) { return std::llround((value - 25569.0) * 86400.0); }

std::string FormatTimeHMS(TDateTime value) {
    int h, m, s, ms;
    DecodeTime(value, h, m, s, ms);
    return Format("%02d:%02d:%02d", h, m, s);
}

}  // namespace tarnwick
