#pragma once
// Line reading and writing on streams, for the message readers and writers, and the dot-stuffed
// transfer form (RFC 5321 4.5.2) of text sent as SMTP DATA.
#include <cstdint>
#include <string>
#include <string_view>

#include "message/MailException.h"
#include "platform/Streams.h"

namespace tarnwick {

// A line reader on a plain stream found nothing left to read.
class EMailEndOfStream : public EMailException {
public:
    using EMailException::EMailException;
};

// A line from the stream: on a stream that reads lines natively (a connection) its own line
// reader; on any other stream the bytes up to LF, CR or CR LF read in chunks of 2048
// (maxLength < 0 = no limit; a longer line is cut there). At the end: EMailEndOfStream
// "End of stream: <class> at <position>" when raiseAtEnd, else an empty line.
std::string ReadLineFromStream(TStream& stream, int maxLength = -1, bool raiseAtEnd = true);
// The text and CR LF.
void WriteLineToStream(TStream& stream, std::string_view text);
// The text's bytes; nothing for an empty text.
void WriteStringToStream(TStream& stream, std::string_view text);

// Passes bytes on to a destination, doubling a "." that begins a line, so that no line of the
// text can end the DATA early. A line begins at the start and after every LF (servers that take
// a bare LF as a line end must not see a lone "." either).
class TMailDotStuffingStream : public TStream {
public:
    explicit TMailDotStuffingStream(TStream& destination) : destination_(destination) {}

    int64_t Read(void* buffer, int64_t count) override;  // nothing to read: 0
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;  // -1
    const char* ClassName() const override { return "TMailDotStuffingStream"; }
    int64_t Size() override { return -1; }

    void WriteText(std::string_view text) { Write(text.data(), static_cast<int64_t>(text.size())); }
    void WriteLine(std::string_view text);
    // Whether the last byte written ended a line (true before anything is written).
    bool AtLineStart() const { return atLineStart_; }
    // Off: bytes pass unchanged (content sent with a byte count instead of an end line).
    void SetStuffing(bool on) { stuffing_ = on; }

private:
    TStream& destination_;
    bool stuffing_ = true;
    bool atLineStart_ = true;
};

}  // namespace tarnwick
