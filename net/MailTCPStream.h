#pragma once
// A stream view over a connection; the line helpers (message/StreamLines.h) read lines from it
// through ReadLineNative.
#include <optional>
#include <string>
#include <string_view>

#include "message/StreamLines.h"
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

}  // namespace tarnwick
