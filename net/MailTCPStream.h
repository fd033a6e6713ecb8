#pragma once
// A stream view over a connection, and the line helpers the message coders read and write with.
#include <optional>
#include <string>
#include <string_view>

#include "platform/Streams.h"

namespace tarnwick {

class TMailTCPConnection;

class TMailTCPStream : public TStream {
public:
    explicit TMailTCPStream(TMailTCPConnection& connection) : connection_(connection) {}

    // Blocks until all count bytes are there.
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    const char* ClassName() const override { return "TMailTCPStream"; }
    int64_t Size() override { return -1; }
    // The connection's ReadLine (LF, default time-out, maxLength; negative = its MaxLineLength).
    std::optional<std::string> ReadLineNative(int maxLength) override;

    TMailTCPConnection& Connection() const { return connection_; }

private:
    TMailTCPConnection& connection_;
};

// A line from the stream: on a connection stream the connection's ReadLine; on any other stream
// the bytes up to LF, CR or CR LF read in chunks of 2048 (maxLength < 0 = no limit). At the end:
// EMailEndOfStream "End of stream: <class> at <position>" when raiseAtEnd, else an empty line.
std::string ReadLineFromStream(TStream& stream, int maxLength = -1, bool raiseAtEnd = true);
// The text and CR LF.
void WriteLineToStream(TStream& stream, std::string_view text);
// The text's bytes; nothing for an empty text.
void WriteStringToStream(TStream& stream, std::string_view text);

}  // namespace tarnwick
