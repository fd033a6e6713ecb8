// Base64 (RFC 2045 section 6.8), uuencode and xxencode lines.
#include "message/Coders.h"

#include <algorithm>
#include <cstring>

namespace tarnwick {

namespace {

// Bytes read from the source per round, a multiple of 3 so groups never straddle rounds.
constexpr int64_t kEncodeChunk = 3 * 16384;

const TMailDecodeTable& TableFor(std::string_view codingTable) {
    struct Tables {
        TMailDecodeTable base64, uue, xxe;
        Tables() {
            TMailDecoder4to3::BuildDecodeTable(MailBase64Table, base64);
            TMailDecoder4to3::BuildDecodeTable(MailUUETable, uue);
            TMailDecoder4to3::BuildDecodeTable(MailXXETable, xxe);
        }
    };
    static const Tables tables;
    if (codingTable == MailUUETable) return tables.uue;
    if (codingTable == MailXXETable) return tables.xxe;
    return tables.base64;
}

}  // namespace

int64_t TMailReadMemoryStream::Read(void* buffer, int64_t count) {
    if (count <= 0 || position_ >= size_ || position_ < 0) return 0;
    int64_t n = std::min(count, size_ - position_);
    std::memcpy(buffer, data_ + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
}

int64_t TMailReadMemoryStream::Write(const void*, int64_t) { return 0; }

int64_t TMailReadMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    switch (origin) {
        case TSeekOrigin::soBeginning: position_ = offset; break;
        case TSeekOrigin::soCurrent: position_ += offset; break;
        case TSeekOrigin::soEnd: position_ = size_ + offset; break;
    }
    if (position_ < 0) position_ = 0;
    return position_;
}

std::string TMailEncoder::EncodeText(std::string_view text) {
    TMailReadMemoryStream stream(text);
    return EncodeFromStream(stream, MailNoByteLimit);
}

void TMailEncoder3to4::EncodeGroup(const unsigned char* bytes, char* out) const {
    out[0] = CodingTable[bytes[0] >> 2];
    out[1] = CodingTable[((bytes[0] & 3) << 4) | (bytes[1] >> 4)];
    out[2] = CodingTable[((bytes[1] & 15) << 2) | (bytes[2] >> 6)];
    out[3] = CodingTable[bytes[2] & 63];
}

std::string TMailEncoder3to4::EncodeFromStream(TStream& source, int64_t byteLimit) {
    if (byteLimit != MailNoByteLimit && byteLimit % 3 != 0) throw EMailException("Uneven size in Encode.");
    if (CodingTable.size() < 64) throw EMailException("Coding table must hold 64 characters.");
    int64_t n = source.Size() - source.Position();
    if (byteLimit < n) n = byteLimit;
    std::string result;
    if (n <= 0) return result;
    result.reserve(static_cast<size_t>((n + 2) / 3 * 4));
    std::string buffer;
    while (n > 0) {
        const int64_t take = std::min(n, kEncodeChunk);
        buffer.resize(static_cast<size_t>(take));
        source.ReadBuffer(buffer.data(), take);
        n -= take;
        const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
        size_t whole = static_cast<size_t>(take) / 3 * 3;
        char group[4];
        for (size_t i = 0; i < whole; i += 3) {
            EncodeGroup(bytes + i, group);
            result.append(group, 4);
        }
        const size_t left = static_cast<size_t>(take) - whole;
        if (left > 0) {
            unsigned char last[3] = {bytes[whole], left > 1 ? bytes[whole + 1] : static_cast<unsigned char>(0), 0};
            EncodeGroup(last, group);
            group[3] = FillChar;
            if (left == 1) group[2] = FillChar;
            result.append(group, 4);
        }
    }
    return result;
}

void TMailDecoder4to3::BuildDecodeTable(std::string_view codingTable, TMailDecodeTable& decodeTable) {
    decodeTable.fill(255);
    for (size_t k = 0; k < codingTable.size(); ++k) {
        const unsigned char c = static_cast<unsigned char>(codingTable[k]);
        if (c >= 1 && c <= 127) decodeTable[c - 1] = static_cast<uint8_t>(k);
    }
}

uint32_t TMailDecoder4to3::Value(char c) const {
    const unsigned char u = static_cast<unsigned char>(c);
    return (u >= 1 && u <= 127) ? DecodeTable[u - 1] : 255u;
}

uint32_t TMailDecoder4to3::DecodeGroup(const char* chars) const {
    // No masking: a character outside the table (255) spills into its neighbours' bits.
    return (Value(chars[0]) << 18) | (Value(chars[1]) << 12) | (Value(chars[2]) << 6) | Value(chars[3]);
}

void TMailDecoder4to3::DecodeIntoStream(std::string_view text, TStream& destination) {
    if (text.size() % 4 != 0) throw EMailException("Uneven size in DecodeToStream.");
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        const uint32_t v = DecodeGroup(text.data() + i);
        bytes += static_cast<char>((v >> 16) & 0xFF);
        if (text[i + 2] == FillChar) continue;
        bytes += static_cast<char>((v >> 8) & 0xFF);
        if (text[i + 3] == FillChar) continue;
        bytes += static_cast<char>(v & 0xFF);
    }
    if (!bytes.empty()) destination.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}

TMailEncoderMIME::TMailEncoderMIME() {
    CodingTable = std::string(MailBase64Table);
    FillChar = '=';
}

TMailDecoderMIME::TMailDecoderMIME() {
    DecodeTable = TableFor(MailBase64Table);
    FillChar = '=';
}

std::string TMailEncoderUUEBase::EncodeFromStream(TStream& source, int64_t byteLimit) {
    if (byteLimit != MailNoByteLimit && byteLimit % 3 != 0) throw EMailException("Uneven size in Encode.");
    const int64_t start = source.Position();
    // The count character can only say up to 63; check before anything is consumed.
    int64_t n = std::min(source.Size() - start, byteLimit);
    if (n > 63) throw EMailException("Line too long in Encode.");
    std::string groups = TMailEncoder3to4::EncodeFromStream(source, byteLimit);
    const int64_t count = source.Position() - start;
    return CodingTable[static_cast<size_t>(count)] + groups;
}

void TMailDecoderUUEBase::DecodeIntoStream(std::string_view text, TStream& destination) {
    if (text.empty()) return;
    const uint32_t count = Value(text[0]);
    size_t length = count / 3 * 4 + (count % 3 != 0 ? 4 : 0);
    std::string groups(text.substr(1, length));
    if (groups.size() < length) {
        // A short line is padded with the table's zero character: missing data reads as zero bytes.
        char zero = FillChar;
        for (int c = 1; c <= 127; ++c) {
            if (DecodeTable[c - 1] == 0) {
                zero = static_cast<char>(c);
                break;
            }
        }
        groups.append(length - groups.size(), zero);
    }
    if (count % 3 == 1) {
        groups[length - 2] = FillChar;
        groups[length - 1] = FillChar;
    } else if (count % 3 == 2) {
        groups[length - 1] = FillChar;
    }
    TMailDecoder4to3::DecodeIntoStream(groups, destination);
}

TMailEncoderUUE::TMailEncoderUUE() {
    CodingTable = std::string(MailUUETable);
    FillChar = CodingTable[0];
}

TMailDecoderUUE::TMailDecoderUUE() {
    DecodeTable = TableFor(MailUUETable);
    FillChar = '~';
}

void TMailDecoderUUE::DecodeIntoStream(std::string_view text, TStream& destination) {
    // Both space and backquote mean 0 in uuencode.
    std::string line(text);
    std::replace(line.begin(), line.end(), ' ', '`');
    TMailDecoderUUEBase::DecodeIntoStream(line, destination);
}

TMailEncoderXXE::TMailEncoderXXE() {
    CodingTable = std::string(MailXXETable);
    FillChar = CodingTable[0];
}

TMailDecoderXXE::TMailDecoderXXE() {
    DecodeTable = TableFor(MailXXETable);
    FillChar = '~';
}

}  // namespace tarnwick
