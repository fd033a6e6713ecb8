#pragma once
// Content transfer encodings: base64, uuencode, xxencode and quoted-printable. Each coder works
// on one piece of data; message structure is the caller's business.
#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "message/MailException.h"
#include "platform/Streams.h"

namespace tarnwick {

// No byte limit for EncodeFromStream.
inline constexpr int64_t MailNoByteLimit = std::numeric_limits<int64_t>::max();

inline constexpr std::string_view MailBase64Table =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
inline constexpr std::string_view MailUUETable =
    "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
inline constexpr std::string_view MailXXETable =
    "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// A read-only stream over memory owned elsewhere; writing writes nothing.
class TMailReadMemoryStream : public TStream {
public:
    TMailReadMemoryStream(const void* data, int64_t size)
        : data_(static_cast<const char*>(data)), size_(size) {}
    explicit TMailReadMemoryStream(std::string_view bytes)
        : data_(bytes.data()), size_(static_cast<int64_t>(bytes.size())) {}
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    const char* ClassName() const override { return "TMailReadMemoryStream"; }
    int64_t Size() override { return size_; }

private:
    const char* data_;
    int64_t size_;
    int64_t position_ = 0;
};

class TMailEncoder {
public:
    virtual ~TMailEncoder() = default;
    // Encodes the bytes after the stream's position, at most byteLimit of them.
    virtual std::string EncodeFromStream(TStream& source, int64_t byteLimit) = 0;
    std::string EncodeText(std::string_view text);
};

class TMailDecoder {
public:
    virtual ~TMailDecoder() = default;
    virtual void DecodeIntoStream(std::string_view text, TStream& destination) = 0;
};

// Creates an encoder of the given class, encodes text and drops the encoder.
template <class Encoder>
std::string EncodeTextWith(std::string_view text) {
    Encoder encoder;
    return encoder.EncodeText(text);
}

// Three bytes to four characters of a 64-character table.
class TMailEncoder3to4 : public TMailEncoder {
public:
    std::string EncodeFromStream(TStream& source, int64_t byteLimit) override;

    std::string CodingTable;
    char FillChar = '=';

protected:
    void EncodeGroup(const unsigned char* bytes, char* out) const;
};

// Characters 1..127 to their index in a coding table, 255 for characters not in it.
using TMailDecodeTable = std::array<uint8_t, 127>;

// Four characters to three bytes through a decode table.
class TMailDecoder4to3 : public TMailDecoder {
public:
    void DecodeIntoStream(std::string_view text, TStream& destination) override;
    static void BuildDecodeTable(std::string_view codingTable, TMailDecodeTable& decodeTable);

    char FillChar = '=';
    TMailDecodeTable DecodeTable{};

protected:
    uint32_t DecodeGroup(const char* chars) const;
    uint32_t Value(char c) const;
};

class TMailEncoderMIME : public TMailEncoder3to4 {
public:
    TMailEncoderMIME();
};

class TMailDecoderMIME : public TMailDecoder4to3 {
public:
    TMailDecoderMIME();
};

// One uuencode or xxencode line: a count character, then the groups.
class TMailEncoderUUEBase : public TMailEncoder3to4 {
public:
    std::string EncodeFromStream(TStream& source, int64_t byteLimit) override;
};

class TMailDecoderUUEBase : public TMailDecoder4to3 {
public:
    void DecodeIntoStream(std::string_view text, TStream& destination) override;
};

class TMailEncoderUUE : public TMailEncoderUUEBase {
public:
    TMailEncoderUUE();
};

class TMailDecoderUUE : public TMailDecoderUUEBase {
public:
    TMailDecoderUUE();
    void DecodeIntoStream(std::string_view text, TStream& destination) override;
};

class TMailEncoderXXE : public TMailEncoderUUEBase {
public:
    TMailEncoderXXE();
};

class TMailDecoderXXE : public TMailDecoderUUEBase {
public:
    TMailDecoderXXE();
};

class TMailEncoderQuotedPrintable : public TMailEncoder {
public:
    std::string EncodeFromStream(TStream& source, int64_t byteLimit) override;
};

class TMailDecoderQuotedPrintable : public TMailDecoder {
public:
    void DecodeIntoStream(std::string_view text, TStream& destination) override;
};

}  // namespace tarnwick
