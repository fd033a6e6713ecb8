// A provider's settings document comes from any web server that answers for the domain; the same
// bytes as rows of the providers' table.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/settings/MailProviders.h"

using namespace tarnwick;

namespace {

// What reaches a field is one line of printable text.
void CheckField(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) __builtin_trap();
}

void CheckFill(const TProviderSettings& provider) {
    const TProviderFill fill = FillFor(provider, "taro@example.jp");
    for (const TServerFill* server : {&fill.Pop3, &fill.Smtp}) {
        if (server->Server.empty()) __builtin_trap();
        CheckField(server->Server);
        CheckField(server->User);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::string error;
    if (const auto provider = ParseAutoconfig(input, error)) CheckFill(*provider);
    else if (error.empty()) __builtin_trap();
    const TMailProviderTable table = TMailProviderTable::Parse(input);
    const size_t tab = input.find('\t');
    if (const auto row = table.Find(input.substr(0, tab))) CheckFill(*row);
    return 0;
}
