#pragma once
// One mail message: the header lines as received, the fields parsed from them, the body lines
// and the decoded parts.
#include <bitset>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "message/AddressList.h"
#include "message/HeaderCoding.h"
#include "message/HeaderList.h"
#include "message/MailException.h"
#include "message/MessageParts.h"
#include "platform/DateTime.h"
#include "platform/StringList.h"

namespace tarnwick {

// Failures of header generation ("Invalid Encoding. UU only allows Body and Attachments").
class EMailMessageException : public EMailException {
public:
    using EMailException::EMailException;
};

enum class TMailMessagePriority { mpHighest = 0, mpHigh = 1, mpNormal = 2, mpLow = 3, mpLowest = 4 };
enum class TMailMessageEncoding { meMIME = 0, meUU = 1 };
enum class TMailMessageFlag { mfAnswered, mfFlagged, mfDeleted, mfDraft, mfSeen, mfRecent };
using TMailMessageFlags = std::bitset<6>;

// May change the header transfer mode, the encoding letter and the charset before generation.
using TMailInitializeIsoEvent = std::function<void(TTransfer& transfer, char& headerEncoding, std::string& charSet)>;

inline constexpr std::string_view MailLibraryName = "Tarnwick 1.01";

class TMailMessage {
public:
    TMailMessage();
    virtual ~TMailMessage() = default;
    TMailMessage(const TMailMessage&) = delete;
    TMailMessage& operator=(const TMailMessage&) = delete;

    // Declared in the order the message builds them.
    TStringList Body;
    TMailAddressList Recipients{this};
    TMailAddressList BccList{this};
    TMailAddressList CCList{this};
    TMailMessageParts MessageParts{this};
    TStringList NewsGroups;
    // The header lines as received, continuation lines as entries of their own.
    TMailHeaderList Headers;
    TMailAddressItem From;
    TMailAddressList ReplyTo{this};
    TMailAddressItem Sender;
    // Written only by BuildHeaderLines, after all generated lines.
    TMailHeaderList ExtraHeaders;
    // For the envelope only, never written into the message: the address a message made here goes
    // out from ("" for the null sender), in place of its Return-Path and From.
    std::optional<std::string> EnvelopeSender;
    TMailAddressItem ReceiptRecipient;
    TMailMIMEBoundary MIMEBoundary;

    std::string CharSet;
    std::string ContentType;
    std::string ContentTransferEncoding;
    std::string ContentDisposition;
    // Local time; 0 means the current time is used when headers are generated.
    TDateTime Date = 0;
    std::string MessageId;
    bool NoEncode = false;
    bool NoDecode = false;
    // With NoDecode, keeps the body read as one text in BodyText (every line followed by CR LF,
    // dot-unstuffed) instead of a string per line in Body: a message of many short lines then
    // costs about its own size. Writing sends BodyText after the lines of Body.
    bool KeepBodyText = false;
    std::string BodyText;
    std::string Organization;
    TMailMessagePriority Priority = TMailMessagePriority::mpNormal;
    std::string References;
    std::string Subject;
    TMailMessageFlags Flags;
    TMailInitializeIsoEvent OnInitializeISO;

    TMailMessageEncoding Encoding() const { return encoding_; }
    // Also sets AttachmentEncoding: "UUE" for meUU, "MIME" for meMIME.
    void SetEncoding(TMailMessageEncoding value);
    const std::string& AttachmentEncoding() const { return MessageParts.AttachmentEncoding(); }
    // Raises EMailException "Message encoder not found: " + name; nothing changes then.
    void SetAttachmentEncoding(std::string_view name) { MessageParts.SetAttachmentEncoding(name); }
    bool UseNowForDate() const { return Date == 0; }
    // True sets Date to 0; False stamps the current time unless a date is already set.
    void SetUseNowForDate(bool value);

    void SetBody(const TStringList& lines) { Body.Assign(lines); }
    void SetNewsGroups(const TStringList& lines) { NewsGroups.Assign(lines); }
    void SetExtraHeaders(const TStringList& lines) { ExtraHeaders.Assign(lines); }

    // Resets the message for reuse; Encoding, AttachmentEncoding, NoEncode, NoDecode,
    // KeepBodyText, OnInitializeISO and MessageId stay.
    virtual void Clear();
    virtual void FireInitializeISO(TTransfer& transfer, char& headerEncoding, std::string& charSet);

    // A new header list from the fields. Raises EMailMessageException for UU with text parts.
    std::unique_ptr<TMailHeaderList> BuildHeaderLines();
    // Fills the fields from Headers. Never raises on malformed header values: a field that does
    // not parse keeps what was read of it, and the other fields are still loaded.
    void LoadHeaderFields();

    // The upper-cased charset parameter of ContentType, empty without one.
    std::string CharsetFromContentType() const;
    static std::string ExtractBoundary(std::string_view contentType) {
        return TMailMIMEBoundary::ExtractBoundary(contentType);
    }
    // "urgent", "non-priority" or a leading number 1 to 5; anything else gives mpNormal.
    static TMailMessagePriority PriorityFromText(std::string_view text);

private:
    TMailMessageEncoding encoding_ = TMailMessageEncoding::meMIME;
};

}  // namespace tarnwick
