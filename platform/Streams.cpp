#include "platform/Streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/Exception.h"

namespace tarnwick {

int64_t TStream::Size() {
    int64_t here = Seek(0, TSeekOrigin::soCurrent);
    int64_t size = Seek(0, TSeekOrigin::soEnd);
    Seek(here, TSeekOrigin::soBeginning);
    return size;
}

void TStream::SetSize(int64_t) { throw EStreamError("Stream cannot change its size"); }

void TStream::ReadBuffer(void* buffer, int64_t count) {
    char* p = static_cast<char*>(buffer);
    while (count > 0) {
        int64_t n = Read(p, count);
        if (n <= 0) throw EReadError("ストリームの読み込みエラー");
        p += n;
        count -= n;
    }
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
    const char* p = static_cast<const char*>(buffer);
    while (count > 0) {
        int64_t n = Write(p, count);
        if (n <= 0) throw EWriteError("ストリームの書き込みエラー");
        p += n;
        count -= n;
    }
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    int64_t total = count;
    std::vector<char> chunk(static_cast<size_t>(std::min<int64_t>(count > 0 ? count : 1, 61440)));
    while (count > 0) {
        int64_t n = std::min<int64_t>(count, static_cast<int64_t>(chunk.size()));
        source.ReadBuffer(chunk.data(), n);
        WriteBuffer(chunk.data(), n);
        count -= n;
    }
    return total;
}

// --- TMemoryStream

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
    int64_t size = static_cast<int64_t>(data_.size());
    if (count <= 0 || position_ >= size) return 0;
    int64_t n = std::min(count, size - position_);
    std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    size_t end = static_cast<size_t>(position_ + count);
    if (end > data_.size()) data_.resize(end);
    std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
    position_ += count;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    int64_t base = origin == TSeekOrigin::soBeginning ? 0
                   : origin == TSeekOrigin::soCurrent ? position_
                                                      : static_cast<int64_t>(data_.size());
    int64_t target = base + offset;
    if (target < 0) target = 0;
    position_ = target;
    return position_;
}

void TMemoryStream::SetSize(int64_t size) {
    data_.resize(static_cast<size_t>(std::max<int64_t>(size, 0)));
    if (position_ > size) position_ = size;
}

// --- TReadOnlyMemoryStream

int64_t TReadOnlyMemoryStream::Read(void* buffer, int64_t count) {
    if (count <= 0 || position_ >= size_) return 0;
    int64_t n = std::min(count, size_ - position_);
    std::memcpy(buffer, data_ + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
}

int64_t TReadOnlyMemoryStream::Write(const void*, int64_t) {
    throw EWriteError("ストリームの書き込みエラー");
}

int64_t TReadOnlyMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    int64_t base = origin == TSeekOrigin::soBeginning ? 0 : origin == TSeekOrigin::soCurrent ? position_ : size_;
    int64_t target = base + offset;
    if (target < 0) target = 0;
    position_ = target;
    return position_;
}

// --- TFileStream

TFileStream::TFileStream(const std::string& path, Mode mode, unsigned permissions) : path_(path) {
    int flags = O_CLOEXEC;
    switch (mode) {
        case fmOpenRead: flags |= O_RDONLY; break;
        case fmOpenWrite: flags |= O_WRONLY; break;
        case fmOpenReadWrite: flags |= O_RDWR; break;
        case fmCreate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    }
    do {
        fd_ = ::open(path.c_str(), flags, permissions);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) {
        const char* reason = std::strerror(errno);
        const std::string shown = ExpandFileName(path);
        if (mode == fmCreate) throw EFCreateError(Format("ファイル %s を作成できません。%s", shown.c_str(), reason));
        throw EFOpenError(Format("ファイル %s を開けません。%s", shown.c_str(), reason));
    }
}

template <class E>
void TFileStream::Raise(const char* what) const {
    const char* reason = std::strerror(errno);
    throw E(Format("ファイル %s %s。%s", ExpandFileName(path_).c_str(), what, reason));
}

TFileStream::~TFileStream() {
    if (fd_ >= 0) ::close(fd_);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    if (count <= 0) return 0;
    ssize_t n;
    do {
        n = ::read(fd_, buffer, static_cast<size_t>(count));
    } while (n < 0 && errno == EINTR);
    if (n < 0) Raise<EReadError>("を読み込めません");
    return n;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    ssize_t n;
    do {
        n = ::write(fd_, buffer, static_cast<size_t>(count));
    } while (n < 0 && errno == EINTR);
    if (n < 0) Raise<EWriteError>("に書き込めません");
    return n;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET : origin == TSeekOrigin::soCurrent ? SEEK_CUR : SEEK_END;
    off_t r = ::lseek(fd_, offset, whence);
    return r < 0 ? -1 : static_cast<int64_t>(r);
}

void TFileStream::SetSize(int64_t size) {
    if (::ftruncate(fd_, size) != 0) Raise<EWriteError>("に書き込めません");
    if (Position() > size) Seek(size, TSeekOrigin::soBeginning);
}

void TFileStream::Flush() {
    if (::fsync(fd_) != 0) Raise<EWriteError>("に書き込めません");
}

bool FileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string ExpandFileName(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    std::vector<char> cwd(4096);
    if (::getcwd(cwd.data(), cwd.size()) == nullptr) return path;
    std::string folder = cwd.data();
    return folder + (folder.back() == '/' ? "" : "/") + path;
}

bool DeleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

}  // namespace tarnwick
