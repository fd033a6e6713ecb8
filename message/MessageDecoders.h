#pragma once
// Readers of the encoded parts of a message body (RFC 2045/2046 MIME parts, single-part base64 and
// quoted-printable bodies, uuencode and xxencode blocks), and their registry. They read lines
// from a TStream: a connection's stream view or any other.
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/StringList.h"

namespace tarnwick {

class TMailMessage;
class TStream;

enum class TMailPartKind { pkNone = 0, pkText = 1, pkAttachment = 2 };

// Reads one part: its headers (ReadPartHeader) and its content into a destination stream
// (ReadPartBody). Lives from detection to the end of its part.
class TMailMessageDecoder {
public:
    explicit TMailMessageDecoder(TMailMessage& message) : message_(message) {}
    virtual ~TMailMessageDecoder() = default;
    TMailMessageDecoder(const TMailMessageDecoder&) = delete;
    TMailMessageDecoder& operator=(const TMailMessageDecoder&) = delete;

    // Writes the part's content to destination. messageEnded is set when the end line of the
    // message was read. Returns the reader of the part that follows directly, if any.
    virtual std::unique_ptr<TMailMessageDecoder> ReadPartBody(TStream& destination, bool& messageEnded) = 0;
    // Sets PartKind (and Filename, Headers); the base reads nothing.
    virtual void ReadPartHeader() {}

    // The value of the first "name=value" entry of Headers with that name (ignoring case).
    std::string HeaderValue(std::string_view name) const;
    TMailMessage& Message() const { return message_; }

    // The part's header lines, each as name "=" value.
    TStringList Headers;
    std::string Filename;
    TMailPartKind PartKind = TMailPartKind::pkNone;
    // Where lines are read from (not owned); set before ReadPartHeader.
    TStream* Source = nullptr;
    // Line limit handed to ReadLineFromStream (-1: the source's own limit, none for plain streams).
    int MaxLineLength = -1;

protected:
    // The next raw line of Source; raises at the end of a plain stream.
    std::string ReadLine();

private:
    TMailMessage& message_;
};

class TMailMessageDecoderMIME : public TMailMessageDecoder {
public:
    // Takes the message's current boundary; WholeBodyEncoded follows the message's transfer
    // encoding.
    explicit TMailMessageDecoderMIME(TMailMessage& message);

    std::unique_ptr<TMailMessageDecoder> ReadPartBody(TStream& destination, bool& messageEnded) override;
    void ReadPartHeader() override;
    // Text unless the disposition is "attachment" or the content type names a file.
    void ClassifyPart(std::string_view contentType, std::string_view disposition);

    // A content line already read while the part was detected.
    std::optional<std::string> PendingLine;
    bool WholeBodyEncoded = false;
    std::string PartBoundary;
};

// A "begin <mode> <name>" block up to its "end" line.
class TMailMessageDecoderUUE : public TMailMessageDecoder {
public:
    using TMailMessageDecoder::TMailMessageDecoder;
    std::unique_ptr<TMailMessageDecoder> ReadPartBody(TStream& destination, bool& messageEnded) override;
};

// Recognises the first line of a part and makes its reader.
class TMailMessageDecoderInfo {
public:
    virtual ~TMailMessageDecoderInfo() = default;
    virtual std::unique_ptr<TMailMessageDecoder> DetectPartStart(TMailMessage& message,
                                                                 const std::string& line) const = 0;
};

class TMailMessageDecoderInfoMIME : public TMailMessageDecoderInfo {
public:
    std::unique_ptr<TMailMessageDecoder> DetectPartStart(TMailMessage& message, const std::string& line) const override;
};

// Also recognises xxencode blocks: both begin alike.
class TMailMessageDecoderInfoUUE : public TMailMessageDecoderInfo {
public:
    std::unique_ptr<TMailMessageDecoder> DetectPartStart(TMailMessage& message, const std::string& line) const override;
};

// "MIME" and "UUE" are registered before any other; infos are asked in registration order and
// live until the program ends.
void RegisterDecoder(std::string name, std::unique_ptr<TMailMessageDecoderInfo> info);
// The reader of the first info that recognises line, or none.
std::unique_ptr<TMailMessageDecoder> DetectAnyPartStart(TMailMessage& message, const std::string& line);

// A line of the POP3 transfer form back to its text: a leading ".." loses one dot.
inline void UnstuffLine(std::string& line) {
    if (line.size() >= 2 && line[0] == '.' && line[1] == '.') line.erase(0, 1);
}

}  // namespace tarnwick
