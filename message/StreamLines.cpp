#include "message/StreamLines.h"

#include <cstring>
#include <optional>

#include "platform/Exception.h"

namespace tarnwick {

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
        int64_t end = 0;   // bytes of the chunk that belong to the line
        int64_t skip = 0;  // terminator bytes after them
        bool terminated = false;
        for (; end < got; ++end) {
            if (chunk[end] == '\n') {
                skip = 1;
                terminated = true;
                break;
            }
            if (chunk[end] == '\r') {
                if (end + 1 < got) {
                    skip = chunk[end + 1] == '\n' ? 2 : 1;
                } else {
                    // The CR ends the chunk: its LF, if any, starts the next one.
                    char next = 0;
                    stream.SetPosition(chunkStart + end + 1);
                    skip = stream.Read(&next, 1) == 1 && next == '\n' ? 2 : 1;
                }
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

// ---- TMailDotStuffingStream ----

int64_t TMailDotStuffingStream::Read(void*, int64_t) { return 0; }

int64_t TMailDotStuffingStream::Seek(int64_t, TSeekOrigin) { return -1; }

int64_t TMailDotStuffingStream::Write(const void* buffer, int64_t count) {
    if (count <= 0 || buffer == nullptr) return 0;
    const char* p = static_cast<const char*>(buffer);
    const char* const end = p + count;
    while (p < end) {
        if (atLineStart_ && *p == '.' && stuffing_) destination_.WriteBuffer(".", 1);
        const void* lf = std::memchr(p, '\n', static_cast<size_t>(end - p));
        const char* stop = lf != nullptr ? static_cast<const char*>(lf) + 1 : end;
        destination_.WriteBuffer(p, stop - p);
        atLineStart_ = lf != nullptr;
        p = stop;
    }
    return count;
}

void TMailDotStuffingStream::WriteLine(std::string_view text) {
    WriteText(text);
    Write("\r\n", 2);
}

}  // namespace tarnwick
