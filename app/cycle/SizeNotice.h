#pragma once
// The short notice that goes to the forwarding address instead of a message too big to forward.
#include <cstdint>
#include <string>

namespace tarnwick {

class TMailMessage;

inline constexpr const char* SizeNoticeSubjectTag = "[サイズ超過] ";

// Fills notice (cleared first) from the header block of the original: its From and Date, the
// subject with the tag in front, the forwarding address as the one recipient, and a plain-text
// body in ISO-2022-JP naming sender, date, subject and size. The notice is meant for the
// generating send path (NoEncode off), so the message model encodes headers and body.
void ComposeSizeNotice(const TMailMessage& original, int64_t size, const std::string& forwardAddress,
                       TMailMessage& notice);

}  // namespace tarnwick
