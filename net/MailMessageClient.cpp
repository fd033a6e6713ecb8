#include "net/MailMessageClient.h"

#include <exception>

#include <memory>
#include <optional>

#include "message/Coders.h"
#include "message/MailMessage.h"
#include "message/MessageEncoders.h"
#include "message/MessageReader.h"
#include "message/StreamLines.h"
#include "net/MailTCPStream.h"
#include "platform/Exception.h"

namespace tarnwick {

namespace {

// Message content may have longer lines than replies: the content limit holds while a message
// is read, and MaxLineLength is back afterwards.
class ContentLineLimit {
public:
    ContentLineLimit(TMailTCPConnection& connection, int32_t limit) : connection_(connection), saved_(connection.MaxLineLength) {
        if (limit >= 0) connection.MaxLineLength = limit;
    }
    ~ContentLineLimit() { connection_.MaxLineLength = saved_; }
    ContentLineLimit(const ContentLineLimit&) = delete;
    ContentLineLimit& operator=(const ContentLineLimit&) = delete;

private:
    TMailTCPConnection& connection_;
    int32_t saved_;
};

// The file-name part of a path, on one line.
std::string HeaderFileName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    for (char& c : name)
        if (c == '\r' || c == '\n' || c == '\0') c = ' ';
    return name;
}

}  // namespace

// Everything of one message written goes through one dot-stuffing writer and, unless the caller
// opened it already, through the write buffer.
class TMailMessageClient::DataSection {
public:
    explicit DataSection(TMailMessageClient& client) : client_(client) {
        if (client.data_ != nullptr) return;  // inside a section already
        outer_ = true;
        if (client.capture_ != nullptr) {
            stuffing_.emplace(*client.capture_);
            stuffing_->SetStuffing(false);
            client.data_ = &*stuffing_;
            return;
        }
        tcp_.emplace(client);
        stuffing_.emplace(*tcp_);
        if (!client.WriteBufferOpen()) {
            client.OpenWriteBuffer();
            openedBuffer_ = true;
        }
        client.data_ = &*stuffing_;
    }
    // Sends what this section gathered (when it opened the buffer).
    void Finish() {
        if (!outer_) return;
        client_.dataAtLineStart_ = stuffing_->AtLineStart();
        if (openedBuffer_) {
            openedBuffer_ = false;
            client_.CloseWriteBuffer();
        }
    }
    ~DataSection() {
        if (!outer_) return;
        client_.dataAtLineStart_ = stuffing_->AtLineStart();
        client_.data_ = nullptr;
        if (openedBuffer_) client_.CancelWriteBuffer();
    }
    DataSection(const DataSection&) = delete;
    DataSection& operator=(const DataSection&) = delete;

private:
    TMailMessageClient& client_;
    bool outer_ = false;
    bool openedBuffer_ = false;
    std::optional<TMailTCPStream> tcp_;
    std::optional<TMailDotStuffingStream> stuffing_;
};

TMailDotStuffingStream& TMailMessageClient::Data() { return *data_; }

namespace {

// Appends to a string up to a limit.
class TCaptureStream : public TStream {
public:
    struct TooLarge {};
    TCaptureStream(std::string& out, size_t limit) : out_(out), limit_(limit) {}
    int64_t Read(void*, int64_t) override { return 0; }
    int64_t Write(const void* buffer, int64_t count) override {
        if (count <= 0) return 0;
        if (out_.size() + static_cast<size_t>(count) > limit_) throw TooLarge{};
        out_.append(static_cast<const char*>(buffer), static_cast<size_t>(count));
        return count;
    }
    int64_t Seek(int64_t, TSeekOrigin) override { return -1; }
    const char* ClassName() const override { return "TCaptureStream"; }

private:
    std::string& out_;
    size_t limit_;
};

}  // namespace

bool TMailMessageClient::RenderMessage(TMailMessage& message, std::string& content, size_t limit) {
    content.clear();
    TCaptureStream capture(content, limit);
    capture_ = &capture;
    try {
        WriteMessage(message, false);
        capture_ = nullptr;
        if (!dataAtLineStart_) capture.Write("\r\n", 2);
    } catch (const TCaptureStream::TooLarge&) {
        capture_ = nullptr;
        return false;
    } catch (...) {
        capture_ = nullptr;
        throw;
    }
    return true;
}

void TMailMessageClient::WriteContent(std::string_view content) {
    DataSection section(*this);
    Data().WriteText(content);
    section.Finish();
}

// ---------------------------------------------------------------------------------------------
// Reading

void TMailMessageClient::AbandonMessage() {
    ResetInput();
    DropSocket();
}

std::string TMailMessageClient::ReadMessageHeader(TMailMessage& message, std::string_view terminator) {
    StartWork(TWorkMode::wmRead, 0);
    std::string line;
    try {
        TReadExchange exchange(*this, true);
        ContentLineLimit limit(*this, MaxContentLineLength);
        TMailTCPStream source(*this);
        TMailReadLimits limits;
        limits.MaxParts = MaxMessageParts;
        line = ReadMessageHeaderFrom(source, message, terminator, limits);
    } catch (...) {
        FinishWork(TWorkMode::wmRead);
        AbandonMessage();
        throw;
    }
    FinishWork(TWorkMode::wmRead);
    return line;
}

void TMailMessageClient::ReadMessageBody(TMailMessage& message, std::string_view delimiter) {
    StartWork(TWorkMode::wmRead, 0);
    bool endReached = false;
    try {
        TReadExchange exchange(*this, true);
        ContentLineLimit limit(*this, MaxContentLineLength);
        if (message.NoDecode && message.KeepBodyText) {
            TMemoryStream text;
            text.Data().swap(message.BodyText);
            text.Seek(0, TSeekOrigin::soEnd);
            try {
                CaptureLines(text, delimiter, true);
            } catch (...) {
                text.Data().swap(message.BodyText);
                throw;
            }
            text.Data().swap(message.BodyText);
        } else if (message.NoDecode) {
            CaptureLines(message.Body, delimiter, true);
        } else {
            TMailTCPStream source(*this);
            TMailReadLimits limits;
            limits.MaxParts = MaxMessageParts;
            ReadMessageBodyFrom(source, message, delimiter, limits, endReached);
        }
    } catch (...) {
        FinishWork(TWorkMode::wmRead);
        if (!endReached) AbandonMessage();
        throw;
    }
    FinishWork(TWorkMode::wmRead);
}

// ---------------------------------------------------------------------------------------------
// Writing

void TMailMessageClient::WriteStuffedLines(const TStringList& lines) {
    TMailDotStuffingStream& data = Data();
    for (const std::string& line : lines) data.WriteLine(line);
}

void TMailMessageClient::WriteMessage(TMailMessage& message, bool headersOnly) {
    InstallMessageEncoders();
    DataSection section(*this);
    if (message.NoEncode) {
        WriteStuffedLines(message.Headers);
        Data().WriteLine("");
        if (!headersOnly) WriteBodyLines(message);
    } else {
        WriteMessageHeader(message);
        Data().WriteLine("");
        if (!headersOnly) WriteMessageBody(message);
    }
    section.Finish();
}

void TMailMessageClient::WriteMessageHeader(TMailMessage& message) {
    DataSection section(*this);
    std::unique_ptr<TMailHeaderList> headers = message.BuildHeaderLines();
    WriteStuffedLines(*headers);
    section.Finish();
}

void TMailMessageClient::WriteBodyLines(TMailMessage& message) {
    DataSection section(*this);
    WriteStuffedLines(message.Body);
    // In pieces, so that the write buffer never gathers a copy of the whole text.
    constexpr size_t kPiece = 64 * 1024;
    const std::string_view text = message.BodyText;
    for (size_t at = 0; at < text.size(); at += kPiece) Data().WriteText(text.substr(at, kPiece));
    section.Finish();
}

void TMailMessageClient::WriteTextSection(TMailText& part, TTransfer transfer) {
    DataSection section(*this);
    TMailDotStuffingStream& data = Data();
    if (part.ContentType().empty()) part.SetContentType("text/plain");
    if (part.ContentTransfer().empty()) part.SetContentTransfer("quoted-printable");
    const std::string transferEncoding = part.ContentTransfer();
    data.WriteLine("Content-Type: " + part.ContentType());
    data.WriteLine("Content-Transfer-Encoding: " + transferEncoding);
    WriteStuffedLines(part.ExtraHeaders);
    data.WriteLine("");
    if (SameText(transferEncoding, "quoted-printable")) {
        // The encoded text carries its own line breaks; the writer doubles a leading dot of each
        // line it makes, soft-broken lines included.
        for (const std::string& line : part.Body) {
            std::string encoded = EncodeTextWith<TMailEncoderQuotedPrintable>(line + "\r\n");
            if (transfer == TTransfer::iso2022jp) encoded = ShiftJisToJis(encoded);
            data.WriteText(encoded);
        }
    } else {
        WriteStuffedLines(part.Body);
    }
    data.WriteLine("");
    section.Finish();
}

void TMailMessageClient::SaveContentTo(TMailAttachment& attachment) {
    InstallMessageEncoders();
    DataSection section(*this);
    attachment.SaveContentTo(Data());
    section.Finish();
}

void TMailMessageClient::WriteMessageBody(TMailMessage& message) {
    InstallMessageEncoders();
    DataSection section(*this);
    TMailDotStuffingStream& data = Data();
    const bool mime = message.Encoding() == TMailMessageEncoding::meMIME;
    TTransfer transfer;
    char headerEncoding;
    std::string charSet;
    ChooseHeaderCharset(transfer, headerEncoding, charSet);
    TMailMessageParts& parts = message.MessageParts;
    parts.RecountParts();
    const std::string mainBoundary(MailMainBoundary);
    const std::string alternativeBoundary(MailAlternativeBoundary);

    StartWork(TWorkMode::wmWrite, 0);
    try {
        if (parts.AttachmentCount == 0) {
            if (parts.TextCount < 2) {
                ReportStatus(TMailStatus::hsStatusText, "Encoding text");
                if (transfer == TTransfer::iso2022jp) {
                    for (const std::string& line : message.Body) data.WriteLine(ShiftJisToJis(line));
                } else {
                    WriteBodyLines(message);
                }
            } else {
                data.WriteLine("This is a multi-part message in MIME format");
                data.WriteLine("");
                for (int i = 0; i < parts.Count(); ++i) {
                    auto* text = dynamic_cast<TMailText*>(&parts[i]);
                    if (text == nullptr) continue;
                    data.WriteLine("--" + mainBoundary);
                    ReportStatus(TMailStatus::hsStatusText, "Encoding text");
                    WriteTextSection(*text, transfer);
                }
                data.WriteLine("--" + mainBoundary + "--");
            }
        } else {
            const std::string boundary = parts.RelatedCount > 0 ? std::string(MailRelatedBoundary) : mainBoundary;
            if (mime) {
                data.WriteLine("This is a multi-part message in MIME format");
                data.WriteLine("");
                data.WriteLine("--" + boundary);
            } else {
                WriteBodyLines(message);
                data.WriteLine("");
            }
            if (parts.TextCount > 1) {
                data.WriteLine("Content-Type: multipart/alternative; ");
                data.WriteLine("        boundary=\"" + alternativeBoundary + "\"");
                data.WriteLine("");
                for (int i = 0; i < parts.Count(); ++i) {
                    auto* text = dynamic_cast<TMailText*>(&parts[i]);
                    if (text == nullptr) continue;
                    data.WriteLine("--" + alternativeBoundary);
                    ReportStatus(TMailStatus::hsStatusText, "Encoding text");
                    WriteTextSection(*text, transfer);
                    data.WriteLine("");
                }
                data.WriteLine("--" + alternativeBoundary + "--");
            } else if (mime) {
                data.WriteLine("Content-Type: text/plain");
                data.WriteLine("Content-Transfer-Encoding: 7bit");
                data.WriteLine("");
                WriteBodyLines(message);
            }
            for (int i = 0; i < parts.Count(); ++i) {
                auto* attachment = dynamic_cast<TMailAttachment*>(&parts[i]);
                if (attachment == nullptr) continue;
                ReportStatus(TMailStatus::hsStatusText, "Encoding attachment");
                if (mime) {
                    data.WriteLine("");
                    data.WriteLine("--" + boundary);
                    if (attachment->ContentTransfer().empty()) attachment->SetContentTransfer("base64");
                    if (attachment->ContentDisposition().empty()) attachment->SetContentDisposition("attachment");
                    if (attachment->ContentTransfer() == "base64" && attachment->ContentType().empty())
                        attachment->SetContentType("application/octet-stream");
                    const std::string name = HeaderFileName(attachment->FileName);
                    data.WriteLine("Content-Type: " + attachment->ContentType() + ";");
                    data.WriteLine("        name=\"" + name + "\"");
                    data.WriteLine("Content-Transfer-Encoding: " + attachment->ContentTransfer());
                    data.WriteLine("Content-Disposition: " + attachment->ContentDisposition() + ";");
                    data.WriteLine("        filename=\"" + name + "\"");
                    WriteStuffedLines(attachment->ExtraHeaders);
                    data.WriteLine("");
                }
                SaveContentTo(*attachment);
                data.WriteLine("");
            }
            if (mime) data.WriteLine("--" + boundary + "--");
        }
    } catch (...) {
        FinishWork(TWorkMode::wmWrite);
        throw;
    }
    FinishWork(TWorkMode::wmWrite);
    section.Finish();
}

void TMailMessageClient::QuitAndDisconnect() {
    std::exception_ptr failure;
    if (IsConnected()) {
        try {
            WriteLine("QUIT");
        } catch (...) {
            failure = std::current_exception();
        }
    }
    TMailTCPClient::Disconnect();
    if (failure) std::rethrow_exception(failure);
}

void TMailMessageClient::DisconnectQuietly() noexcept {
    try {
        Disconnect();
    } catch (...) {
    }
}

}  // namespace tarnwick
