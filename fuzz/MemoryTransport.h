#pragma once
// A transport for the protocol fuzz targets: the input served in pieces, its end the peer's close.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "net/MailExceptions.h"
#include "net/MailIOHandler.h"

namespace tarnwick::fuzz {

class MemoryTransport : public TMailIOHandler {
public:
    MemoryTransport(const uint8_t* data, size_t size, size_t piece, bool open = true)
        : data_(data), size_(size), piece_(piece), open_(open) {}
    void Close() override { open_ = false; }
    void ConnectTo(const std::string&, int, const std::string&, int, int, int, int) override { open_ = true; }
    bool IsConnected() override { return open_; }
    bool WaitReadable(int) override { return true; }
    int Receive(void* buffer, int length) override {
        if (!open_) throw EMailClosedSocket();
        size_t n = std::min({piece_, size_ - at_, static_cast<size_t>(length)});
        std::memcpy(buffer, data_ + at_, n);
        at_ += n;
        return static_cast<int>(n);
    }
    int Send(const void*, int length) override { return length; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t piece_;
    size_t at_ = 0;
    bool open_;
};

}  // namespace tarnwick::fuzz
