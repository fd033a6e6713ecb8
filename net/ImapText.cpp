#include "net/ImapText.h"

#include <algorithm>
#include <optional>

#include "message/MailException.h"
#include "message/MessageReader.h"
#include "platform/Locale.h"
#include "platform/Streams.h"

namespace tarnwick {

namespace {

// The lines of a literal in the transfer form the message readers take (RFC 1939): a leading dot
// doubled, and the line "." after the last line, so that nothing in the literal can end it early.
// A last line without CR LF is a line all the same.
class TLiteralLines : public TStream {
public:
    explicit TLiteralLines(std::string_view text) : text_(text) {}
    int64_t Read(void*, int64_t) override { return 0; }
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t, TSeekOrigin) override { return -1; }
    const char* ClassName() const override { return "TLiteralLines"; }
    int64_t Size() override { return -1; }
    std::optional<std::string> ReadLineNative(int) override {
        if (at_ >= text_.size()) return std::string(".");
        const size_t lf = text_.find('\n', at_);
        const size_t end = lf == std::string_view::npos ? text_.size() : lf;
        size_t stop = end;
        if (lf != std::string_view::npos && stop > at_ && text_[stop - 1] == '\r') --stop;
        std::string line(text_[at_] == '.' ? "." : "");
        line.append(text_.substr(at_, stop - at_));
        at_ = lf == std::string_view::npos ? text_.size() : lf + 1;
        return line;
    }

private:
    std::string_view text_;
    size_t at_ = 0;
};

}  // namespace

std::string ImapFolderName(const std::string& name) {
    std::string utf16;
    if (!TryConvert("CP932", "UTF-16BE", name, utf16))
        throw EMailException("The folder name holds characters that cannot be sent.");
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";
    std::string out;
    for (size_t i = 0; i + 1 < utf16.size();) {
        const unsigned unit = static_cast<unsigned char>(utf16[i]) << 8 | static_cast<unsigned char>(utf16[i + 1]);
        if (unit >= 0x20 && unit < 0x7F) {
            out += unit == '&' ? std::string("&-") : std::string(1, static_cast<char>(unit));
            i += 2;
            continue;
        }
        size_t end = i;
        while (end + 1 < utf16.size() && !(utf16[end] == 0 && utf16[end + 1] >= 0x20 && utf16[end + 1] < 0x7F)) end += 2;
        out += '&';
        uint32_t bits = 0;
        int count = 0;
        for (size_t j = i; j < end; ++j) {
            bits = bits << 8 | static_cast<unsigned char>(utf16[j]);
            for (count += 8; count >= 6; count -= 6) out += kDigits[(bits >> (count - 6)) & 0x3F];
        }
        if (count > 0) out += kDigits[(bits << (6 - count)) & 0x3F];
        out += '-';
        i = end;
    }
    return out;
}

std::string ImapUidSet(std::vector<uint32_t> uids) {
    std::sort(uids.begin(), uids.end());
    uids.erase(std::unique(uids.begin(), uids.end()), uids.end());
    std::string set;
    for (size_t i = 0; i < uids.size();) {
        size_t j = i;
        while (j + 1 < uids.size() && uids[j + 1] == uids[j] + 1) ++j;
        if (!set.empty()) set += ',';
        set += std::to_string(uids[i]);
        if (j > i) set += ':' + std::to_string(uids[j]);
        i = j + 1;
    }
    return set;
}

void ReadImapMessage(std::string_view literal, TMailMessage& message, int maxParts) {
    TLiteralLines source(literal);
    TMailReadLimits limits;
    limits.MaxParts = maxParts;
    if (!ReadMessageHeaderFrom(source, message, "", limits).empty()) return;
    bool endReached = false;
    ReadMessageBodyFrom(source, message, ".", limits, endReached);
}

}  // namespace tarnwick
