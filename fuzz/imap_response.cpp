// Whatever an IMAP server sends reaches the response reader, and through it the client: feed the
// reader arbitrary bytes (lines, literals by count), then a whole session over an in-memory
// transport that serves the bytes in pieces.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "message/MailMessage.h"
#include "net/ImapResponse.h"
#include "net/MailExceptions.h"
#include "net/MailIMAP.h"
#include "MemoryTransport.h"

using namespace tarnwick;
using tarnwick::fuzz::MemoryTransport;

namespace {

size_t Values(const std::vector<TImapValue>& values) {
    size_t n = values.size();
    for (const TImapValue& v : values) n += Values(v.Items);
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t piece = static_cast<size_t>(data[0] % 17) + 1;
    ++data;
    --size;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // No response keeps more than the limits allow.
    TImapLimits limits;
    limits.MaxText = 512;
    limits.MaxLiteral = 300;
    limits.MaxValues = 64;
    limits.MaxDepth = 4;
    try {
        for (const TImapResponse& r : ParseImapResponses(bytes, limits)) {
            if (Values(r.Items) > limits.MaxValues || r.Text.size() > limits.MaxText) __builtin_trap();
        }
    } catch (const EMailException&) {
    }

    MemoryTransport transport(data, size, piece, false);
    TMailIMAP imap;
    imap.MaxMessageSize = 300;
    imap.MaxResponseText = 512;
    imap.MaxResponseValues = 64;
    imap.Username = "u";
    imap.Password = "p\"w";
    imap.SetIOHandler(&transport);
    try {
        imap.Connect(-1);
        imap.Examine("INBOX");
        const std::vector<uint32_t> uids = imap.SearchAll();
        if (!std::is_sorted(uids.begin(), uids.end())) __builtin_trap();
        imap.FetchSizes({1, 2, 3});
        size_t next = 0;
        imap.FetchHeaders({3, 1, 2}, [&](size_t index, bool, int64_t, TMailMessage&) {
            // One call per uid, in the order asked for.
            if (index != next++) __builtin_trap();
        });
        if (next != 3) __builtin_trap();
        TMailMessage message;
        message.NoDecode = message.NoEncode = message.KeepBodyText = true;
        imap.FetchMessage(1, message);
        if (message.BodyText.size() > 2 * 300 + 2) __builtin_trap();
        imap.Idle(1);
        imap.Noop();
    } catch (const Exception&) {
    }
    imap.SetIOHandler(nullptr);
    return 0;
}
