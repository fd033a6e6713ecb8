// A rule as the settings file holds it, matched against a header block: the first line of the
// input is the rule, the rest the header lines. Also the refusal back-off state file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>

#include "app/settings/ForwardRules.h"
#include "app/cycle/RefusalBackoff.h"
#include "message/MailMessage.h"

using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const size_t eol = text.find('\n');
    const std::string_view ruleText = text.substr(0, eol);
    const std::string_view headers = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);

    if (auto rule = TForwardRule::FromText(ruleText)) {
        // What is read back is written the same way again.
        auto again = TForwardRule::FromText(rule->ToText());
        if (!again || !(*again == *rule)) __builtin_trap();
        TMailMessage message;
        message.Headers.SetText(headers);
        (void)rule->Matches(message);
    }
    (void)ContainsIgnoringCase(headers, ruleText);

    // The same bytes as a back-off state file: any content loads, and saves as something that
    // loads to the same state.
    static const std::string path = "/tmp/tarnwick-fuzz-backoff-" + std::to_string(::getpid());
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(text.data(), static_cast<std::streamsize>(text.size()));
    TRefusalBackoff backoff(path, "fp", 600, [] { return int64_t{1'700'000'000}; });
    backoff.Load();
    const size_t count = backoff.Count();
    backoff.Refused("x");
    backoff.Save();
    TRefusalBackoff reloaded(path, "fp", 600, [] { return int64_t{1'700'000'000}; });
    reloaded.Load();
    if (reloaded.Count() < count || reloaded.Due("x")) __builtin_trap();
    ::unlink(path.c_str());
    return 0;
}
