#pragma once
// Shared helpers of the mail code: Internet dates and zone offsets, the token cutter, substring
// searches, the comma-list splitter and the temporary-file helpers.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "message/MailException.h"
#include "platform/DateTime.h"

namespace tarnwick {

class TStringList;

// "Failed attempting to retrieve time zone information."
class EMailFailedToRetreiveTimeZoneInfo : public EMailException {
public:
    EMailFailedToRetreiveTimeZoneInfo();
    using EMailException::EMailException;
};

// Parses the date and time at the front of text; text keeps what follows (the zone part).
// Any failure gives 0.
TDateTime ParseInternetDate(std::string& text);
// A "Date" header value to local time.
TDateTime InternetDateToLocal(std::string_view text);
// "+hhmm" / "-hhmm" to a signed offset (days); 0 for anything else.
TDateTime ParseZoneOffset(std::string_view text);
// Offset to "+hhmm" / "-hhmm", or "GMT" for a zero offset when useGMT is set.
std::string FormatZoneOffset(TDateTime offset, bool useGMT);
// Local time minus UTC; raises EMailFailedToRetreiveTimeZoneInfo.
TDateTime LocalUtcOffset();
// "Sun, 6 Dec 2026 21:05:09 +0900" for a local date-time.
std::string FormatInternetDate(TDateTime value, bool useGMT = false);

// 1..7 for SUN..SAT, 1..12 for JAN..DEC (any case); 0 for any other text.
int DayNameIndex(std::string_view text);
int MonthIndex(std::string_view text);
// First entry equal to text (0-based), -1 if none.
int IndexInList(std::string_view text, const std::vector<std::string>& list, bool caseSensitive = true);

// Returns the part of text before delimiter (all of text when there is none); with deleteToken
// text loses that part and the delimiter.
std::string CutToken(std::string& text, std::string_view delimiter = " ", bool deleteToken = true,
                     bool caseSensitive = true);
std::string CutTokenAnyCase(std::string& text, std::string_view delimiter = " ", bool deleteToken = true);

// 1-based position of needle in text, 0 if none; never matches inside a double-byte character
// on a system with lead bytes.
size_t TextPos(std::string_view needle, std::string_view text);
// 1-based position of needle in the block, 0 if none (or when needle is empty).
size_t FindInMemory(std::string_view needle, const void* block, size_t size);

// Most items one header's list (addresses, newsgroups) is parsed into: header text from anyone
// must not turn a few bytes per item into a hundred each. The parsers raise past it.
inline constexpr int MaxHeaderListItems = 100000;

// Clears list and fills it with the trimmed, non-empty comma-separated items of text; a comma
// after an odd single double quote does not split. More than MaxHeaderListItems items raise
// "Too many list items.", keeping the ones before.
void SplitCommaList(TStringList& list, std::string_view text);

// The system's temporary folder (with a trailing path delimiter).
std::string TempFolder();
// The folder read once at start-up.
const std::string& TempFolderPath();
// A new, unique, already created (empty) file named "Tarn..." in folder, or in TempFolderPath()
// when folder is empty.
std::string NewTempFileName(const std::string& folder);
bool IsMainThread();

}  // namespace tarnwick
