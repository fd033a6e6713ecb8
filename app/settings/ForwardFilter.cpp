#include "app/settings/ForwardFilter.h"

#include <algorithm>
#include <string>

#include "platform/IniFile.h"

namespace tarnwick {

namespace {
constexpr const char* kSection = "Filter";
constexpr int kMaxRules = TForwardFilter::MaxRules;

std::string RuleKey(int index) { return "Rule" + std::to_string(index + 1); }
}  // namespace

TForwardFilter ReadForwardFilter(const TIniFile& ini, int* skipped, int* beyondLimit) {
    TForwardFilter filter;
    filter.MaxSizeKB = std::clamp(ini.ReadInteger(kSection, "MaxSizeKB", 0), 0, TForwardFilter::MaxSizeKBLimit);
    filter.SizeNotice = ini.ReadInteger(kSection, "SizeNotice", 1) != 0;
    const int asked = ini.ReadInteger(kSection, "RuleCount", 0);
    const int count = std::clamp(asked, 0, kMaxRules);
    if (beyondLimit) *beyondLimit = asked - count > 0 ? asked - count : 0;
    int bad = 0;
    for (int i = 0; i < count; ++i) {
        const std::string text = ini.ReadString(kSection, RuleKey(i), "");
        if (auto rule = TForwardRule::FromText(text)) filter.Rules.Items.push_back(std::move(*rule));
        else ++bad;
    }
    if (skipped) *skipped = bad;
    return filter;
}

void WriteForwardFilter(TIniFile& ini, const TForwardFilter& filter) {
    ini.WriteInteger(kSection, "MaxSizeKB", filter.MaxSizeKB);
    ini.WriteInteger(kSection, "SizeNotice", filter.SizeNotice ? 1 : 0);
    const int old = std::clamp(ini.ReadInteger(kSection, "RuleCount", 0), 0, kMaxRules);
    const int count = static_cast<int>(std::min<size_t>(filter.Rules.Items.size(), kMaxRules));
    ini.WriteInteger(kSection, "RuleCount", count);
    for (int i = 0; i < count; ++i) ini.WriteString(kSection, RuleKey(i), filter.Rules.Items[static_cast<size_t>(i)].ToText());
    // Rules beyond the count are no longer read; emptied so the file does not mislead a reader.
    for (int i = count; i < old; ++i) ini.WriteString(kSection, RuleKey(i), "");
}

}  // namespace tarnwick
