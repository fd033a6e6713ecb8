#include "message/MailGlobal.h"

namespace tarnwick {

EMailFailedToRetreiveTimeZoneInfo::EMailFailedToRetreiveTimeZoneInfo()
    : EMailException("Failed attempting to retrieve time zone information.") {}

TDateTime ParseInternetDate(std::string&) { return 0; }
TDateTime InternetDateToLocal(std::string_view) { return 0; }
TDateTime ParseZoneOffset(std::string_view) { return 0; }
std::string FormatZoneOffset(TDateTime, bool) { return {}; }
TDateTime LocalUtcOffset() { return 0; }
std::string FormatInternetDate(TDateTime, bool) { return {}; }
int DayNameIndex(std::string_view) { return 0; }
int MonthIndex(std::string_view) { return 0; }
int IndexInList(std::string_view, const std::vector<std::string>&, bool) { return -1; }
std::string CutToken(std::string&, std::string_view, bool, bool) { return {}; }
std::string CutTokenAnyCase(std::string&, std::string_view, bool) { return {}; }
size_t TextPos(std::string_view, std::string_view) { return 0; }
size_t FindInMemory(std::string_view, const void*, size_t) { return 0; }
void SplitCommaList(TStringList&, std::string_view) {}
std::string TempFolder() { return "/tmp/"; }
const std::string& TempFolderPath() {
    static const std::string path = TempFolder();
    return path;
}
std::string NewTempFileName(const std::string&) { return {}; }
bool IsMainThread() { return true; }

}  // namespace tarnwick
