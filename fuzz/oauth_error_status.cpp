// The error challenge of a refused token comes from the server: base64 of JSON in any shape.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "message/Coders.h"
#include "net/MailSASL.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    // As the challenge text itself, and as the JSON inside a well-formed challenge.
    std::string status = tarnwick::OAuthErrorStatus(input);
    if (status.size() > 64) __builtin_trap();
    status = tarnwick::OAuthErrorStatus(tarnwick::EncodeTextWith<tarnwick::TMailEncoderMIME>(input));
    if (status.size() > 64) __builtin_trap();
    for (char c : status)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) __builtin_trap();
    return 0;
}
