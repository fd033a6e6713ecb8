// A retrieved message, read from memory through the part decoders, and the stored lines written
// back in the DATA transfer form.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "message/MailMessage.h"
#include "message/MessageReader.h"
#include "message/StreamLines.h"
#include "platform/Exception.h"
#include "platform/Streams.h"

using namespace tarnwick;

namespace {

// Reads a whole message; false when the reader refused it with one of its own errors.
bool ReadMessage(std::string_view wire, TMailMessage& message, const TMailReadLimits& limits) {
    TReadOnlyMemoryStream source(wire);
    try {
        if (ReadMessageHeaderFrom(source, message, "", limits).empty()) {
            bool endReached = false;
            ReadMessageBodyFrom(source, message, ".", limits, endReached);
            if (!endReached) __builtin_trap();
        }
    } catch (const Exception&) {
        return false;
    } catch (...) {
        __builtin_trap();
    }
    return true;
}

bool SameLines(const TStringList& a, const TStringList& b) {
    if (a.Count() != b.Count()) return false;
    for (int i = 0; i < a.Count(); ++i)
        if (a[i] != b[i]) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view wire(reinterpret_cast<const char*>(data), size);
    TMailReadLimits limits;
    limits.MaxParts = 64;

    TMailMessage decoded;
    ReadMessage(wire, decoded, limits);
    for (int i = 0; i < decoded.MessageParts.Count(); ++i) {
        auto* attachment = dynamic_cast<TMailAttachment*>(&decoded.MessageParts[i]);
        if (attachment != nullptr && (!attachment->OwnsFile || !FileExists(attachment->StoredPath))) __builtin_trap();
    }
    decoded.Clear();

    // The lines as stored, written dot-stuffed and read again, come back unchanged.
    TMailMessage stored;
    stored.NoDecode = true;
    if (!ReadMessage(wire, stored, limits)) return 0;
    TMemoryStream out;
    TMailDotStuffingStream stuffed(out);
    for (const std::string& line : stored.Headers) stuffed.WriteLine(line);
    stuffed.WriteLine("");
    for (const std::string& line : stored.Body) stuffed.WriteLine(line);
    if (!stuffed.AtLineStart()) __builtin_trap();
    out.WriteString(".\r\n");
    TMailMessage again;
    again.NoDecode = true;
    if (!ReadMessage(out.Data(), again, limits)) __builtin_trap();
    if (!SameLines(stored.Headers, again.Headers) || !SameLines(stored.Body, again.Body)) __builtin_trap();
    return 0;
}
