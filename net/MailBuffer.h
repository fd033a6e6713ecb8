#pragma once
// Byte buffers of the connection: a growable buffer that reports removed bytes, and the input
// buffer that consumes lazily (removing only advances an offset until 32768 bytes are consumed).
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/Streams.h"

namespace tarnwick {

class TMailSimpleBuffer : public TMemoryStream {
public:
    using TBytesRemovedEvent = std::function<void(TMailSimpleBuffer& sender, int64_t count)>;

    // The unconsumed bytes.
    virtual const char* Bytes() const { return data_.data(); }
    int64_t Size() override { return static_cast<int64_t>(data_.size()); }
    std::string_view View() { return {Bytes(), static_cast<size_t>(Size())}; }
    void Append(const void* bytes, int64_t count) { data_.append(static_cast<const char*>(bytes), static_cast<size_t>(count)); }
    void Append(std::string_view bytes) { data_.append(bytes); }

    // The first count bytes, removed from the buffer; more than buffered raises EMailNotEnoughDataInBuffer.
    virtual std::string Extract(int64_t count);
    virtual void Remove(int64_t count);
    virtual void ClearBuffer();

    TBytesRemovedEvent OnBytesRemoved;

protected:
    void BytesRemoved(int64_t count) {
        if (OnBytesRemoved) OnBytesRemoved(*this, count);
    }
};

class TMailManagedBuffer : public TMailSimpleBuffer {
public:
    static constexpr int64_t DefaultCompactThreshold = 32768;

    const char* Bytes() const override { return data_.data() + consumed_; }
    int64_t Size() override { return static_cast<int64_t>(data_.size()) - consumed_; }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    std::string Extract(int64_t count) override;
    void Remove(int64_t count) override;
    void ClearBuffer() override;

    int64_t CompactThreshold = DefaultCompactThreshold;

private:
    void Compact();

    int64_t consumed_ = 0;
};

}  // namespace tarnwick
