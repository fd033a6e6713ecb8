// A received header block and the message fields read from it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "message/HeaderList.h"
#include "message/MailMessage.h"

using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    TMailMessage message;
    message.Headers.SetText(text);
    // Malformed fields must never stop the reading of a message.
    try {
        message.LoadHeaderFields();
    } catch (...) {
        __builtin_trap();
    }
    for (int i = 0; i < message.Headers.Count(); ++i) {
        (void)message.Headers.LineName(i);
        (void)message.Headers.LineValue(i);
    }

    // The whole input as one value: folding must not leave an empty or a stray header line.
    TMailHeaderList list;
    list.Add("Received: x");
    list.SetHeaderValue("Subject", text);
    for (int i = 0; i < list.Count(); ++i) {
        const std::string& line = list[i];
        if (line.empty()) __builtin_trap();
        if (line.find_first_of("\r\n") != std::string::npos) __builtin_trap();
        if (i > 1 && line[0] != ' ' && line[0] != '\t') __builtin_trap();
    }
    if (list[0] != "Received: x") __builtin_trap();
    (void)list.GetHeaderValue("subject");
    list.SetHeaderValue("Subject", "");
    if (list.Count() != 1) __builtin_trap();

    TMailHeaderList::WrapAtBreaks(text, "\r\n ", MailFoldBreakChars, 20);
    TMailMIMEBoundary::ExtractBoundary(text);
    TMailMessage::PriorityFromText(text);

    // Generating headers from what was read must work as well.
    try {
        message.BuildHeaderLines();
    } catch (const EMailMessageException&) {
    }
    return 0;
}
