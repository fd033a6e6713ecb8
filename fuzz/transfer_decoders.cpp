// Body lines of retrieved messages go through these decoders.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "message/Coders.h"

namespace {

template <class Decoder>
void DecodeQuietly(std::string_view text) {
    Decoder decoder;
    tarnwick::TMemoryStream out;
    try {
        decoder.DecodeIntoStream(text, out);
    } catch (const tarnwick::EMailException&) {
        // Uneven base64 is reported, never a crash.
    }
}

template <class Encoder, class Decoder>
void RoundTrip(std::string_view data, int64_t lineBytes) {
    tarnwick::TMailReadMemoryStream source(data);
    Encoder encoder;
    Decoder decoder;
    tarnwick::TMemoryStream out;
    while (source.Position() < source.Size()) decoder.DecodeIntoStream(encoder.EncodeFromStream(source, lineBytes), out);
    if (out.Data() != data) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    DecodeQuietly<tarnwick::TMailDecoderMIME>(text);
    DecodeQuietly<tarnwick::TMailDecoderUUE>(text);
    DecodeQuietly<tarnwick::TMailDecoderXXE>(text);
    DecodeQuietly<tarnwick::TMailDecoderQuotedPrintable>(text);

    RoundTrip<tarnwick::TMailEncoderMIME, tarnwick::TMailDecoderMIME>(text, 57);
    RoundTrip<tarnwick::TMailEncoderUUE, tarnwick::TMailDecoderUUE>(text, 45);
    RoundTrip<tarnwick::TMailEncoderXXE, tarnwick::TMailDecoderXXE>(text, 45);
    const std::string qp = tarnwick::EncodeTextWith<tarnwick::TMailEncoderQuotedPrintable>(text);
    tarnwick::TMailDecoderQuotedPrintable decoder;
    tarnwick::TMemoryStream out;
    decoder.DecodeIntoStream(qp, out);
    return 0;
}
