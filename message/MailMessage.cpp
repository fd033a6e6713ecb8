#include "message/MailMessage.h"

#include "message/AddressCoding.h"
#include "message/MailGlobal.h"
#include "message/MessageEncoderInfo.h"
#include "platform/Exception.h"

namespace tarnwick {

namespace {

// The list as one line of comma text: items holding blanks, commas or quotes are quoted.
std::string CommaText(const TStringList& list) {
    std::string out;
    for (int i = 0; i < list.Count(); ++i) {
        const std::string& item = list[i];
        if (i > 0) out += ',';
        bool quote = item.empty();
        for (char c : item)
            if (static_cast<unsigned char>(c) <= ' ' || c == ',' || c == '"') quote = true;
        if (!quote) {
            out += item;
            continue;
        }
        out += '"';
        for (char c : item) {
            if (c == '"') out += '"';
            out += c;
        }
        out += '"';
    }
    return out;
}

// Header text from anyone: a malformed field must not keep the message (and every message
// after it) from being read, so a field that fails keeps what it got and loading goes on.
template <class Step>
void Tolerant(Step step) {
    try {
        step();
    } catch (const Exception&) {
    }
}

// Encoded words decoded; the raw value when they cannot be.
std::string DecodedOrRaw(const std::string& raw) {
    try {
        return DecodeEncodedWords(raw);
    } catch (const Exception&) {
        return raw;
    }
}

bool Contains(std::string_view text, std::string_view needle) { return TextPos(needle, text) != 0; }

}  // namespace

TMailMessage::TMailMessage() {
    NoDecode = false;
    Clear();
    encoding_ = TMailMessageEncoding::meMIME;
}

void TMailMessage::SetEncoding(TMailMessageEncoding value) {
    encoding_ = value;
    SetAttachmentEncoding(value == TMailMessageEncoding::meUU ? "UUE" : "MIME");
}

void TMailMessage::SetUseNowForDate(bool value) {
    if (value) Date = 0;
    else if (Date == 0) Date = Now();
}

void TMailMessage::Clear() {
    CCList.Clear();
    BccList.Clear();
    Date = 0;
    From.SetText("");
    NewsGroups.Clear();
    Organization.clear();
    References.clear();
    ReplyTo.Clear();
    Subject.clear();
    Recipients.Clear();
    Priority = TMailMessagePriority::mpNormal;
    ReceiptRecipient.SetText("");
    ContentType.clear();
    CharSet.clear();
    ContentTransferEncoding.clear();
    ContentDisposition.clear();
    Sender.SetText("");
    Headers.Clear();
    ExtraHeaders.Clear();
    EnvelopeSender.reset();
    MIMEBoundary.Clear();
    SetUseNowForDate(true);
    Flags.reset();

    MessageParts.Clear();
    Body.Clear();
    std::string().swap(BodyText);  // a large text gives its memory back
}

void TMailMessage::FireInitializeISO(TTransfer& transfer, char& headerEncoding, std::string& charSet) {
    if (OnInitializeISO) OnInitializeISO(transfer, headerEncoding, charSet);
}

std::unique_ptr<TMailHeaderList> TMailMessage::BuildHeaderLines() {
    MessageParts.RecountParts();
    const bool mime = encoding_ == TMailMessageEncoding::meMIME;
    if (mime) {
        MessageParts.EncoderInfo().PrepareHeaders(*this);
        if (!CharSet.empty()) {
            std::string param = "charset=\"" + CharSet + "\"";
            if (ContentType.empty()) ContentType = param;
            else ContentType += ";\r\n\t" + param;
        }
    } else if (MessageParts.RelatedCount > 0 || MessageParts.TextCount > 0) {
        throw EMailMessageException("Invalid Encoding. UU only allows Body and Attachments");
    }

    TTransfer transfer = TTransfer::bit8;
    char letter = 'B';
    std::string charset;
    ChooseHeaderCharset(transfer, letter, charset);
    FireInitializeISO(transfer, letter, charset);

    auto list = std::make_unique<TMailHeaderList>();
    if (!Headers.Empty()) list->Assign(Headers);  // received lines keep their place
    list->SetHeaderValue("From", AddressItemToHeader(From, letter, transfer, charset));
    list->SetHeaderValue("Subject", EncodeHeaderText(Subject, TCharSet(), letter, transfer, charset));
    list->SetHeaderValue("To", AddressListToHeader(Recipients, letter, transfer, charset));
    list->SetHeaderValue("Cc", AddressListToHeader(CCList, letter, transfer, charset));
    list->SetHeaderValue("Newsgroups", CommaText(NewsGroups));
    if (mime) {
        list->SetHeaderValue("Content-Type", ContentType);
        if (!MessageParts.Empty()) list->SetHeaderValue("MIME-Version", "1.0");
        list->SetHeaderValue("Content-Transfer-Encoding", ContentTransferEncoding);
    }
    list->SetHeaderValue("Sender", Sender.Text());
    list->SetHeaderValue("Reply-To", AddressListToHeader(ReplyTo, letter, transfer, charset));
    list->SetHeaderValue("Organization", EncodeHeaderText(Organization, TCharSet(), letter, transfer, charset));
    list->SetHeaderValue("Disposition-Notification-To", AddressItemToHeader(ReceiptRecipient, letter, transfer, charset));
    list->SetHeaderValue("References", References);
    list->SetHeaderValue("Date", FormatInternetDate(UseNowForDate() ? Now() : Date));
    list->SetHeaderValue("X-Priority", IntToStr(static_cast<int>(Priority) + 1));
    list->SetHeaderValue("X-Library", MailLibraryName);
    for (const std::string& line : ExtraHeaders) list->Add(line);
    return list;
}

void TMailMessage::LoadHeaderFields() {
    ContentType = Headers.GetHeaderValue("Content-Type");
    CharSet = CharsetFromContentType();
    ContentTransferEncoding = Headers.GetHeaderValue("Content-Transfer-Encoding");
    ContentDisposition = Headers.GetHeaderValue("Content-Disposition");
    Subject = DecodedOrRaw(Headers.GetHeaderValue("Subject"));
    // An address field that does not parse keeps what was read before the fault.
    Tolerant([&] { From.SetText(DecodedOrRaw(Headers.GetHeaderValue("From"))); });
    MessageId = Headers.GetHeaderValue("Message-Id");
    Tolerant([&] { SplitCommaList(NewsGroups, Headers.GetHeaderValue("Newsgroups")); });
    Tolerant([&] { Recipients.ParseAddresses(DecodedOrRaw(Headers.GetHeaderValue("To"))); });
    Tolerant([&] { CCList.ParseAddresses(DecodedOrRaw(Headers.GetHeaderValue("Cc"))); });
    Organization = Headers.GetHeaderValue("Organization");
    Tolerant([&] { ReceiptRecipient.SetText(Headers.GetHeaderValue("Disposition-Notification-To")); });
    if (ReceiptRecipient.Text().empty())
        Tolerant([&] { ReceiptRecipient.SetText(Headers.GetHeaderValue("Return-Receipt-To")); });
    References = Headers.GetHeaderValue("References");
    Tolerant([&] { ReplyTo.ParseAddresses(Headers.GetHeaderValue("Reply-To")); });
    // A missing or unreadable date stays 0 ("use the current time"), not the bare zone offset.
    Date = 0;
    Tolerant([&] {
        const std::string value = Headers.GetHeaderValue("Date");
        std::string probe = value;
        if (ParseInternetDate(probe) != 0) Date = InternetDateToLocal(value);
    });
    Tolerant([&] { Sender.SetText(Headers.GetHeaderValue("Sender")); });
    std::string priority = Headers.GetHeaderValue("Priority");
    if (priority.empty()) priority = Headers.GetHeaderValue("X-Priority");
    Priority = PriorityFromText(priority);
    MIMEBoundary.Push(ExtractBoundary(ContentType));
}

std::string TMailMessage::CharsetFromContentType() const {
    constexpr std::string_view key = "CHARSET=";
    const std::string upper = UpperCase(ContentType);
    size_t p = TextPos(key, upper);
    if (p == 0) return {};
    std::string_view rest = std::string_view(upper).substr(p - 1 + key.size());
    size_t end;
    if (!rest.empty() && rest[0] == '"') {
        rest.remove_prefix(1);
        end = TextPos("\"", rest);
    } else {
        end = TextPos(";", rest);
    }
    return std::string(end == 0 ? rest : rest.substr(0, end - 1));
}

TMailMessagePriority TMailMessage::PriorityFromText(std::string_view text) {
    const std::string lower = LowerCase(text);
    if (Contains(lower, "urgent")) return TMailMessagePriority::mpHigh;
    if (Contains(lower, "non-priority")) return TMailMessagePriority::mpLow;
    std::string rest = Trim(text);
    const std::string word = CutToken(rest, " ");
    int value = StrToIntDef(word, 3) - 1;
    // Only 1 to 5 name a priority; any other number counts as unreadable.
    if (value < static_cast<int>(TMailMessagePriority::mpHighest) || value > static_cast<int>(TMailMessagePriority::mpLowest))
        return TMailMessagePriority::mpNormal;
    return static_cast<TMailMessagePriority>(value);
}

}  // namespace tarnwick
