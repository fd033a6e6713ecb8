#pragma once
// The common base of the POP3 and SMTP clients: reading a message in the POP3 transfer form
// (RFC 1939) and writing one as SMTP DATA (RFC 5321: header lines, an empty line, the body,
// every line dot-stuffed).
#include <cstdint>
#include <string>
#include <string_view>

#include "message/HeaderCoding.h"
#include "net/MailTCPClient.h"

namespace tarnwick {

class TMailMessage;
class TMailText;
class TMailAttachment;
class TMailDotStuffingStream;
class TStringList;
class TStream;

class TMailMessageClient : public TMailTCPClient {
public:
    // Longest line of message content that ReadMessageHeader and ReadMessageBody accept (so
    // also a retrieved message's lines), in bytes before the LF, a CR included: -1 =
    // MaxLineLength, 0 = no limit. Replies and commands keep MaxLineLength. A longer line raises
    // EMailReadLnMaxLineLengthExceeded (with maException) and closes the connection, since the
    // rest of the message is still on its way.
    int32_t MaxContentLineLength = -1;
    // Most parts one decoding read may add (0 = no limit); more raise "Too many message parts."
    int32_t MaxMessageParts = 10000;

    // Reads header lines into message.Headers up to the empty line (or the line "."; with a
    // terminator, up to that line) and loads the header fields. Returns the line that ended it.
    virtual std::string ReadMessageHeader(TMailMessage& message, std::string_view terminator);
    // Reads body lines up to the delimiter line: into message.Body (dot-unstuffed; with
    // NoDecode and KeepBodyText into message.BodyText) and, unless message.NoDecode, decoding
    // encoded parts into message.MessageParts.
    // Either read, failing before its end line was read (over-long line, malformed part, time-out,
    // close), closes the connection: the rest of the message would otherwise be taken for replies.
    // The exception passes on; IsConnected is then false and Disconnect sends nothing.
    virtual void ReadMessageBody(TMailMessage& message, std::string_view delimiter);

    // The message as DATA content, ending at the start of a line: with message.NoEncode its stored
    // header lines, an empty line and its Body lines; else generated header lines and an encoded
    // body. A "." that begins any line gets a second one. When the write buffer is not open, it
    // is opened for the call, so the message leaves in few large sends.
    virtual void WriteMessage(TMailMessage& message, bool headersOnly = false);
    virtual void WriteMessageHeader(TMailMessage& message);
    virtual void WriteMessageBody(TMailMessage& message);
    virtual void WriteBodyLines(TMailMessage& message);
    void WriteTextSection(TMailText& part, TTransfer transfer);
    // The attachment's content, encoded with the message's attachment encoder.
    void SaveContentTo(TMailAttachment& attachment);

    // Whether the last message content written ended a line.
    bool DataAtLineStart() const { return dataAtLineStart_; }

protected:
    // "QUIT" when connected (its answer is not read), then the base close; a failure to write
    // QUIT reaches the caller after the close.
    void QuitAndDisconnect();
    // Closes after a failed login or greeting, whose own error is the one to report.
    void DisconnectQuietly() noexcept;
    // The dot-stuffing writer of the message being written.
    TMailDotStuffingStream& Data();
    // Closes a connection whose multi-line answer was not read to its end.
    void AbandonMessage();
    // The message as WriteMessage writes it, but unstuffed and into content, ending at the start
    // of a line. False (content then undefined) when it would pass limit bytes.
    bool RenderMessage(TMailMessage& message, std::string& content, size_t limit);
    // Rendered content as DATA: dot-stuffed, through the write buffer when it is open.
    void WriteContent(std::string_view content);

private:
    class DataSection;
    friend class DataSection;
    void WriteStuffedLines(const TStringList& lines);

    TMailDotStuffingStream* data_ = nullptr;
    TStream* capture_ = nullptr;  // RenderMessage's destination while it runs
    bool dataAtLineStart_ = true;
};

}  // namespace tarnwick
