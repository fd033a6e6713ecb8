#pragma once
// Reading one message in the POP3 transfer form (RFC 1939: dot-stuffed lines up to a line ".")
// from a stream into a TMailMessage: the header lines, then the body lines, with encoded parts
// decoded into the message's parts.
#include <memory>
#include <string>
#include <string_view>

#include "message/MailException.h"

namespace tarnwick {

// A header of more lines than the reader keeps: a line of a few bytes costs a string each.
class EMailHeaderTooLarge : public EMailException {
public:
    explicit EMailHeaderTooLarge(std::string message) : EMailException(std::move(message), TMailErrorKind::LocalLimit) {}
};

class TMailMessage;
class TMailMessageDecoder;
class TStream;

struct TMailReadLimits {
    // Longest line accepted (-1: the stream's own limit; none on a plain stream, where a longer
    // line is cut instead).
    int MaxLineLength = -1;
    // Most parts one read may add; a message with more raises "Too many message parts." (0: none).
    int MaxParts = 10000;
    // Most header lines one read keeps (0: none); more raise EMailHeaderTooLarge.
    int MaxHeaderLines = 100000;
};

// Appends header lines to message.Headers up to the empty line (or the line "."; or, with a
// terminator, up to that line), then loads the header fields. Returns the line that ended the
// header.
std::string ReadMessageHeaderFrom(TStream& source, TMailMessage& message, std::string_view terminator,
                                  const TMailReadLimits& limits = {});

// Reads the body up to the delimiter line. Lines that no part reader takes go to message.Body
// (dot-unstuffed); with message.NoDecode every line does. endReached tells, also when the read
// fails, whether the delimiter line has been consumed.
void ReadMessageBodyFrom(TStream& source, TMailMessage& message, std::string_view delimiter,
                         const TMailReadLimits& limits, bool& endReached);

// The part a decoder reads, as a text part of the message (decoded in memory) or as an
// attachment (decoded into a fresh temporary file that the part owns; the file is deleted when
// reading fails). Return the reader of the part that follows, if any.
std::unique_ptr<TMailMessageDecoder> StoreTextPart(std::unique_ptr<TMailMessageDecoder> decoder, bool& messageEnded);
std::unique_ptr<TMailMessageDecoder> StoreAttachmentPart(std::unique_ptr<TMailMessageDecoder> decoder,
                                                         bool& messageEnded);

}  // namespace tarnwick
