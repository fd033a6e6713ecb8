// RFC 822 dates and zones, and the text helpers the mail code shares.
#include "message/MailGlobal.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/Exception.h"
#include "platform/Locale.h"
#include "platform/StringList.h"
#include "platform/TempFiles.h"
#include "platform/TimeZone.h"

namespace tarnwick {

namespace {

const char* const kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

const std::vector<std::string>& UpperDayNames() {
    static const std::vector<std::string> names = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};
    return names;
}

const std::vector<std::string>& UpperMonthNames() {
    static const std::vector<std::string> names = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                   "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    return names;
}

// Chosen once: on a system with double-byte characters the search walks whole characters.
const bool kMultiByteSearch = SysLocaleFarEast();

size_t PlainPos(std::string_view needle, std::string_view text) {
    if (needle.empty() || needle.size() > text.size()) return 0;
    size_t p = text.find(needle);
    return p == std::string_view::npos ? 0 : p + 1;
}

size_t MultiBytePos(std::string_view needle, std::string_view text) {
    if (needle.empty() || needle.size() > text.size()) return 0;
    const size_t last = text.size() - needle.size();
    size_t i = 0;
    while (i <= last) {
        if (text[i] == needle[0] && std::memcmp(text.data() + i, needle.data(), needle.size()) == 0) return i + 1;
        i += (IsLeadByte(text[i]) && i + 1 < text.size()) ? 2 : 1;
    }
    return 0;
}

std::string CutAt(std::string& text, size_t pos, size_t delimiterLength, bool deleteToken) {
    if (pos == 0) {
        std::string result = text;
        if (deleteToken) text.clear();
        return result;
    }
    std::string result = text.substr(0, pos - 1);
    if (deleteToken) text.erase(0, pos - 1 + delimiterLength);
    return result;
}

TDateTime HoursMinutes(int hours, int minutes) {
    return (hours * 3600000.0 + minutes * 60000.0) / MSecsPerDay;
}

}  // namespace

EMailFailedToRetreiveTimeZoneInfo::EMailFailedToRetreiveTimeZoneInfo()
    : EMailException("Failed attempting to retrieve time zone information.") {}

TDateTime ParseInternetDate(std::string& text) {
    text = Trim(text);
    if (text.empty()) return 0;
    try {
        if (DayNameIndex(std::string_view(text).substr(0, 3)) > 0) {
            CutToken(text);
            text = TrimLeft(text);
        }
        // "7-Sep-2001" style dates separate their fields with dashes.
        std::string delimiter = " ";
        size_t dash = TextPos("-", text);
        if (dash > 1 && dash < TextPos(" ", text)) delimiter = "-";

        int day, month;
        if (MonthIndex(CutToken(text, delimiter, false)) > 0) {
            month = MonthIndex(CutToken(text, delimiter));
            text = TrimLeft(text);
            day = StrToIntDef(CutToken(text, delimiter), 1);
            text = TrimLeft(text);
        } else {
            day = StrToIntDef(CutToken(text, delimiter), 1);
            text = TrimLeft(text);
            month = MonthIndex(CutToken(text, delimiter));
            text = TrimLeft(text);
        }

        std::string token = CutToken(text);
        uint16_t year = static_cast<uint16_t>(StrToIntDef(token, 1900));
        if (year == 1900) {
            // "Fri Sep 7 12:00:00 2001": the time comes before the year.
            year = static_cast<uint16_t>(StrToIntDef(text, 1900));
            text = token;
        }
        if (year < 80) year = static_cast<uint16_t>(year + 2000);
        else if (year < 100) year = static_cast<uint16_t>(year + 1900);

        TDateTime result = EncodeDate(year, month, day);
        if (TextPos(":", text) > 0) {
            std::string time = CutToken(text);
            int hours = StrToIntDef(CutToken(time, ":"), 0);
            int minutes = StrToIntDef(CutToken(time, ":"), 0);
            int seconds = StrToIntDef(CutToken(time, ":"), 0);
            result += EncodeTime(hours, minutes, seconds, 0);
        }
        text = TrimLeft(text);
        return result;
    } catch (const EConvertError&) {
        return 0;
    }
}

TDateTime InternetDateToLocal(std::string_view text) {
    std::string rest(text);
    TDateTime value = ParseInternetDate(rest);
    TDateTime offset = rest.size() >= 5 ? ParseZoneOffset(rest) : 0;
    return value - offset + LocalUtcOffset();
}

TDateTime ParseZoneOffset(std::string_view text) {
    std::string zone = Trim(text).substr(0, 5);
    if (zone.empty() || (zone[0] != '+' && zone[0] != '-')) return 0;
    int hours = 0, minutes = 0;
    if (!TryStrToInt(std::string_view(zone).substr(1, 2), hours) ||
        !TryStrToInt(std::string_view(zone).substr(3 < zone.size() ? 3 : zone.size(), 2), minutes))
        return 0;
    TDateTime offset;
    if (!TryEncodeTime(hours, minutes, 0, 0, offset)) return 0;
    return zone[0] == '-' ? -offset : offset;
}

std::string FormatZoneOffset(TDateTime offset, bool useGMT) {
    if (offset == 0 && useGMT) return "GMT";
    int hours, minutes, seconds, msec;
    DecodeTime(offset < 0 ? -offset : offset, hours, minutes, seconds, msec);
    std::string result = Format(" %.2d%.2d", hours, minutes);
    result[0] = offset >= 0 ? '+' : '-';
    return result;
}

TDateTime LocalUtcOffset() {
    TTimeZoneInformation info;
    int bias;
    switch (GetTimeZoneInformation(info)) {
        case TTimeZoneId::tzStandard: bias = info.Bias + info.StandardBias; break;
        case TTimeZoneId::tzDaylight: bias = info.Bias + info.DaylightBias; break;
        case TTimeZoneId::tzUnknown: bias = info.Bias; break;
        default: throw EMailFailedToRetreiveTimeZoneInfo();
    }
    const int absolute = std::abs(bias);
    TDateTime result = HoursMinutes(absolute / 60, absolute % 60);
    // The bias is UTC minus local time.
    return bias > 0 ? -result : result;
}

std::string FormatInternetDate(TDateTime value, bool useGMT) {
    int year, month, day, hours, minutes, seconds, msec;
    DecodeDate(value, year, month, day);
    DecodeTime(value, hours, minutes, seconds, msec);
    std::string time = Format("%.2d:%.2d:%.2d", hours, minutes, seconds);
    // Dates before year 1 have no month; they get an empty name rather than a stray read.
    const char* monthName = month >= 1 && month <= 12 ? kMonthNames[month - 1] : "";
    return Format("%s, %d %s %d %s %s", kDayNames[DayOfWeek(value) - 1], day, monthName, year,
                  time.c_str(), FormatZoneOffset(LocalUtcOffset(), useGMT).c_str());
}

int DayNameIndex(std::string_view text) { return IndexInList(UpperCase(text), UpperDayNames()) + 1; }

int MonthIndex(std::string_view text) { return IndexInList(UpperCase(text), UpperMonthNames()) + 1; }

int IndexInList(std::string_view text, const std::vector<std::string>& list, bool caseSensitive) {
    for (size_t i = 0; i < list.size(); ++i) {
        if (caseSensitive ? list[i] == text : SameText(list[i], text)) return static_cast<int>(i);
    }
    return -1;
}

std::string CutToken(std::string& text, std::string_view delimiter, bool deleteToken, bool caseSensitive) {
    if (!caseSensitive) return CutTokenAnyCase(text, delimiter, deleteToken);
    size_t pos;
    if (delimiter.size() == 1 && delimiter[0] == '\0') {
        size_t p = text.find('\0');
        pos = p == std::string::npos ? 0 : p + 1;
    } else {
        pos = TextPos(delimiter, text);
    }
    return CutAt(text, pos, delimiter.size(), deleteToken);
}

std::string CutTokenAnyCase(std::string& text, std::string_view delimiter, bool deleteToken) {
    size_t pos = TextPos(UpperCase(delimiter), UpperCase(text));
    return CutAt(text, pos, delimiter.size(), deleteToken);
}

size_t TextPos(std::string_view needle, std::string_view text) {
    return kMultiByteSearch ? MultiBytePos(needle, text) : PlainPos(needle, text);
}

size_t FindInMemory(std::string_view needle, const void* block, size_t size) {
    if (needle.empty() || block == nullptr || needle.size() > size) return 0;
    const char* base = static_cast<const char*>(block);
    const char* p = base;
    // Start positions where the needle still fits end at `last`.
    const char* last = base + (size - needle.size());
    const char first = needle[0];
    const size_t rest = needle.size() - 1;
    while (p <= last) {
        const void* hit = std::memchr(p, first, static_cast<size_t>(last - p) + 1);
        if (hit == nullptr) return 0;
        p = static_cast<const char*>(hit);
        if (rest == 0 || std::memcmp(p + 1, needle.data() + 1, rest) == 0) return static_cast<size_t>(p - base) + 1;
        ++p;
    }
    return 0;
}

void SplitCommaList(TStringList& list, std::string_view text) {
    list.Clear();
    size_t start = 0;
    int quotes = 0;
    auto addItem = [&](size_t end) {
        std::string item = Trim(text.substr(start, end - start));
        if (item.empty()) return;
        if (list.Count() >= MaxHeaderListItems) throw EMailException("Too many list items.");
        list.Add(std::move(item));
    };
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '"') {
            ++quotes;
        } else if (text[i] == ',' && quotes != 1) {
            addItem(i);
            start = i + 1;
            quotes = 0;
        }
    }
    addItem(text.size());
}

std::string TempFolder() { return GetTempFolder(); }

const std::string& TempFolderPath() {
    static const std::string path = TempFolder();
    return path;
}

std::string NewTempFileName(const std::string& folder) {
    std::string where = folder.empty() ? TempFolderPath() : folder;
    if (where.back() != '/') where += '/';
    return CreateTempFile(where, "Tarn");
}

bool IsMainThread() { return ::syscall(SYS_gettid) == ::getpid(); }

}  // namespace tarnwick
