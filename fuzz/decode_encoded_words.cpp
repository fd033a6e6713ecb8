// Header values come straight from the POP3 server.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "message/HeaderCoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view header(reinterpret_cast<const char*>(data), size);
    const std::string decoded = tarnwick::DecodeEncodedWords(header);
    if (decoded.find('\0') != std::string::npos) __builtin_trap();
    tarnwick::JisToShiftJis(header);
    // What the program writes must read back the same through both conversions.
    const std::string jis = tarnwick::ShiftJisToJis(header);
    tarnwick::JisToShiftJis(jis);
    tarnwick::EncodeHeaderText(header, tarnwick::AddressSpecials, 'Q', tarnwick::TTransfer::bit8, "ISO-8859-1");
    tarnwick::EncodeHeaderText(header, tarnwick::TCharSet(), 'B', tarnwick::TTransfer::iso2022jp, "ISO-2022-JP");
    return 0;
}
