#pragma once
// What is not forwarded whole: the size limit, what becomes of a message above it, and the rules
// for mail that is held back. Kept in the settings file's [Filter] section.
#include <cstdint>

#include "app/settings/ForwardRules.h"

namespace tarnwick {

class TIniFile;

struct TForwardFilter {
    // Largest message forwarded whole, in KB as LIST counts octets; 0 = no limit.
    int MaxSizeKB = 0;
    // Above the limit: a short notice instead of the message (true), or nothing but a log line.
    bool SizeNotice = true;
    TForwardRules Rules;

    // A bound for a hand-edited count, so a typo cannot make reading loop for long.
    static constexpr int MaxRules = 1000;
    static constexpr int MaxSizeKBLimit = 2'000'000;  // under 2 GB, so the bytes fit anywhere

    bool operator==(const TForwardFilter& other) const {
        return MaxSizeKB == other.MaxSizeKB && SizeNotice == other.SizeNotice && Rules.Items == other.Rules.Items;
    }
    // Whether a message of this LIST size is over the limit; an unknown size (-1) never is.
    bool TooBig(int64_t size) const { return MaxSizeKB > 0 && size > int64_t{MaxSizeKB} * 1024; }
};

// A file without the section gives the defaults, which forward everything as before. Rules that
// do not read are left out (the count of them is returned through skipped, when given), and so
// are those a count beyond MaxRules asks for (their number through beyondLimit).
TForwardFilter ReadForwardFilter(const TIniFile& ini, int* skipped = nullptr, int* beyondLimit = nullptr);
void WriteForwardFilter(TIniFile& ini, const TForwardFilter& filter);

}  // namespace tarnwick
