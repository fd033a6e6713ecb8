#include "net/MailTCPStream.h"

#include <algorithm>

#include "net/MailExceptions.h"
#include "net/MailTCPConnection.h"
#include "platform/Exception.h"

namespace tarnwick {

int64_t TMailTCPStream::Read(void* buffer, int64_t count) {
    connection_.ReadBytes(buffer, count);
    return count;
}

int64_t TMailTCPStream::Write(const void* buffer, int64_t count) {
    connection_.WriteBytes(buffer, count);
    return count;
}

int64_t TMailTCPStream::Seek(int64_t offset, TSeekOrigin origin) {
    (void)offset, (void)origin;
    return -1;
}

std::optional<std::string> TMailTCPStream::ReadLineNative(int maxLength) {
    return connection_.ReadLine("\n", -1, maxLength < 0 ? -1 : maxLength);
}

std::string ReadLineFromStream(TStream& stream, int maxLength, bool raiseAtEnd) {
    if (std::optional<std::string> line = stream.ReadLineNative(maxLength)) return std::move(*line);

    constexpr int64_t ChunkSize = 2048;
    const int64_t start = stream.Position();
    std::string line;
    char chunk[ChunkSize];
    bool anyRead = false;
    for (;;) {
        int64_t chunkStart = stream.Position();
        int64_t got = stream.Read(chunk, ChunkSize);
        if (got <= 0) break;
        anyRead = true;
        int64_t end = 0;  // bytes of the chunk that belong to the line
        int64_t skip = 0;  // terminator bytes after them
        bool terminated = false;
        for (; end < got; ++end) {
            if (chunk[end] == '\n') {
                skip = 1;
                terminated = true;
                break;
            }
            if (chunk[end] == '\r') {
                skip = end + 1 < got && chunk[end + 1] == '\n' ? 2 : 1;
                terminated = true;
                break;
            }
        }
        if (maxLength >= 0 && static_cast<int64_t>(line.size()) + end > maxLength) {
            int64_t keep = maxLength - static_cast<int64_t>(line.size());
            line.append(chunk, static_cast<size_t>(keep));
            stream.SetPosition(chunkStart + keep);
            return line;
        }
        line.append(chunk, static_cast<size_t>(end));
        if (terminated) {
            stream.SetPosition(chunkStart + end + skip);
            return line;
        }
    }
    if (!anyRead && raiseAtEnd)
        throw EMailEndOfStream(Format("End of stream: %s at %lld", stream.ClassName(), static_cast<long long>(start)));
    return line;
}

void WriteLineToStream(TStream& stream, std::string_view text) {
    std::string line;
    line.reserve(text.size() + 2);
    line.append(text).append("\r\n");
    stream.WriteBuffer(line.data(), static_cast<int64_t>(line.size()));
}

void WriteStringToStream(TStream& stream, std::string_view text) {
    if (text.empty()) return;
    stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

}  // namespace tarnwick
