// "Date" header values and other text the helpers cut apart come from the network.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "message/MailGlobal.h"
#include "platform/StringList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string text(input);
    tarnwick::ParseInternetDate(text);
    tarnwick::InternetDateToLocal(input);
    tarnwick::ParseZoneOffset(input);

    tarnwick::TStringList list;
    tarnwick::SplitCommaList(list, input);

    // The first byte picks a delimiter length; the rest is the text to cut.
    if (size > 0) {
        const size_t delimiterLength = (data[0] & 7) + 1;
        if (size - 1 >= delimiterLength) {
            const std::string delimiter(input.substr(1, delimiterLength));
            std::string rest(input.substr(1 + delimiterLength));
            const size_t p = tarnwick::TextPos(delimiter, rest);
            if (p != 0 && (p + delimiter.size() - 1 > rest.size() || rest.compare(p - 1, delimiter.size(), delimiter) != 0))
                __builtin_trap();
            const size_t m = tarnwick::FindInMemory(delimiter, rest.data(), rest.size());
            const size_t expected = rest.find(delimiter);
            if (m != (expected == std::string::npos ? 0 : expected + 1)) __builtin_trap();
            std::string copy = rest;
            tarnwick::CutToken(copy, delimiter);
            tarnwick::CutTokenAnyCase(rest, delimiter);
        }
    }
    return 0;
}
