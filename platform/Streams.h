#pragma once
// The small stream family the mail code moves bytes through.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
    virtual ~TStream() = default;
    // Reads up to count bytes; returns how many were read (0 at the end).
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    // Writes up to count bytes; returns how many were written.
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    // Returns the new position, or -1 where the stream cannot seek.
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
    virtual const char* ClassName() const = 0;

    int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(int64_t position) { Seek(position, TSeekOrigin::soBeginning); }
    virtual int64_t Size();
    virtual void SetSize(int64_t size);

    // Whole-count forms: raise EReadError / EWriteError when short.
    void ReadBuffer(void* buffer, int64_t count);
    void WriteBuffer(const void* buffer, int64_t count);
    void WriteString(std::string_view text) { WriteBuffer(text.data(), static_cast<int64_t>(text.size())); }
    // Copies count bytes from source (all of it from the start when count is 0); returns the count.
    int64_t CopyFrom(TStream& source, int64_t count);

    // A stream that reads lines natively (a network connection) answers here; others return nullopt.
    virtual std::optional<std::string> ReadLineNative(int maxLength) {
        (void)maxLength;
        return std::nullopt;
    }
};

// Growable bytes in memory.
class TMemoryStream : public TStream {
public:
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    const char* ClassName() const override { return "TMemoryStream"; }
    int64_t Size() override { return static_cast<int64_t>(data_.size()); }
    void SetSize(int64_t size) override;
    void Clear() { data_.clear(); position_ = 0; }

    const std::string& Data() const { return data_; }
    std::string& Data() { return data_; }
    char* Memory() { return data_.data(); }

protected:
    std::string data_;
    int64_t position_ = 0;
};

// A read-only view over bytes owned elsewhere.
class TReadOnlyMemoryStream : public TStream {
public:
    TReadOnlyMemoryStream(const void* data, int64_t size)
        : data_(static_cast<const char*>(data)), size_(size) {}
    explicit TReadOnlyMemoryStream(std::string_view bytes)
        : data_(bytes.data()), size_(static_cast<int64_t>(bytes.size())) {}
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;  // raises EWriteError
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    const char* ClassName() const override { return "TReadOnlyMemoryStream"; }
    int64_t Size() override { return size_; }

private:
    const char* data_;
    int64_t size_;
    int64_t position_ = 0;
};

// A file on disk.
class TFileStream : public TStream {
public:
    enum Mode { fmOpenRead, fmOpenWrite, fmOpenReadWrite, fmCreate };
    // Raises EFOpenError / EFCreateError. fmCreate truncates or creates with the given permissions.
    TFileStream(const std::string& path, Mode mode, unsigned permissions = 0666);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    const char* ClassName() const override { return "TFileStream"; }
    void SetSize(int64_t size) override;
    // Pushes written bytes to the disk (fsync).
    void Flush();
    const std::string& FileName() const { return path_; }
    int Handle() const { return fd_; }

private:
    // Raises E naming the file by its full path, with the system's reason.
    template <class E>
    [[noreturn]] void Raise(const char* what) const;

    std::string path_;
    int fd_ = -1;
};

bool FileExists(const std::string& path);
// path made absolute against the current folder, for messages: a disk error must say which file.
std::string ExpandFileName(const std::string& path);
bool DeleteFile(const std::string& path);

}  // namespace tarnwick
