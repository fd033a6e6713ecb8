#include "net/MailBuffer.h"

#include "net/MailExceptions.h"

namespace tarnwick {

std::string TMailSimpleBuffer::Extract(int64_t count) {
    if (count < 0 || count > Size()) throw EMailNotEnoughDataInBuffer();
    std::string bytes(Bytes(), static_cast<size_t>(count));
    Remove(count);
    return bytes;
}

void TMailSimpleBuffer::Remove(int64_t count) {
    if (count < 0 || count > Size()) throw EMailNotEnoughDataInBuffer();
    if (count == Size()) {
        data_.clear();
    } else {
        data_.erase(0, static_cast<size_t>(count));
    }
    position_ = std::min<int64_t>(position_, static_cast<int64_t>(data_.size()));
    BytesRemoved(count);
}

void TMailSimpleBuffer::ClearBuffer() {
    data_.clear();
    position_ = 0;
}

int64_t TMailManagedBuffer::Seek(int64_t offset, TSeekOrigin origin) {
    if (origin == TSeekOrigin::soBeginning) offset += consumed_;
    int64_t at = TMemoryStream::Seek(offset, origin);
    if (at < consumed_) at = TMemoryStream::Seek(consumed_, TSeekOrigin::soBeginning);
    return at - consumed_;
}

std::string TMailManagedBuffer::Extract(int64_t count) {
    if (count < 0 || count > Size()) throw EMailNotEnoughDataInBuffer();
    std::string bytes(Bytes(), static_cast<size_t>(count));
    Remove(count);
    return bytes;
}

void TMailManagedBuffer::Remove(int64_t count) {
    if (count < 0 || count > Size()) throw EMailNotEnoughDataInBuffer();
    if (count == Size()) {
        ClearBuffer();
    } else {
        consumed_ += count;
        if (consumed_ >= CompactThreshold) Compact();
    }
    BytesRemoved(count);
}

void TMailManagedBuffer::ClearBuffer() {
    data_.clear();
    consumed_ = 0;
    position_ = 0;
}

void TMailManagedBuffer::Compact() {
    data_.erase(0, static_cast<size_t>(consumed_));
    position_ = std::max<int64_t>(0, position_ - consumed_);
    consumed_ = 0;
}

}  // namespace tarnwick
