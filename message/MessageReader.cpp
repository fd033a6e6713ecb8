#include "message/MessageReader.h"

#include "message/MailGlobal.h"
#include "message/MailMessage.h"
#include "message/MessageDecoders.h"
#include "message/StreamLines.h"
#include "platform/Exception.h"
#include "platform/Streams.h"

namespace tarnwick {

namespace {

// Gathers small writes (one decoded line each) into large ones on a file.
class GatheringStream : public TStream {
public:
    explicit GatheringStream(TStream& destination) : destination_(destination) {}
    int64_t Read(void*, int64_t) override { return 0; }
    int64_t Write(const void* buffer, int64_t count) override {
        if (count <= 0) return 0;
        pending_.append(static_cast<const char*>(buffer), static_cast<size_t>(count));
        if (pending_.size() >= Threshold) Flush();
        return count;
    }
    int64_t Seek(int64_t, TSeekOrigin) override { return -1; }
    const char* ClassName() const override { return "GatheringStream"; }
    void Flush() {
        if (pending_.empty()) return;
        destination_.WriteBuffer(pending_.data(), static_cast<int64_t>(pending_.size()));
        pending_.clear();
    }

private:
    static constexpr size_t Threshold = 64 * 1024;
    TStream& destination_;
    std::string pending_;
};

// Deletes a temporary file unless something took it over.
struct TempFileGuard {
    std::string path;
    bool released = false;
    ~TempFileGuard() {
        if (!released) DeleteFile(path);
    }
};

}  // namespace

std::string ReadMessageHeaderFrom(TStream& source, TMailMessage& message, std::string_view terminator,
                                  const TMailReadLimits& limits) {
    std::string line;
    for (;;) {
        line = ReadLineFromStream(source, limits.MaxLineLength, true);
        if (terminator.empty() ? (line == "." || line.empty()) : line == terminator) break;
        if (line.empty()) continue;
        if (limits.MaxHeaderLines > 0 && message.Headers.Count() >= limits.MaxHeaderLines)
            throw EMailHeaderTooLarge("Message header longer than " + IntToStr(limits.MaxHeaderLines) + " lines.");
        // Header lines are dot-stuffed for the transfer like any other; writing stuffs them again.
        UnstuffLine(line);
        message.Headers.Add(line);
    }
    message.LoadHeaderFields();
    return line;
}

void ReadMessageBodyFrom(TStream& source, TMailMessage& message, std::string_view delimiter,
                         const TMailReadLimits& limits, bool& endReached) {
    endReached = false;
    if (message.NoDecode) {
        for (;;) {
            std::string line = ReadLineFromStream(source, limits.MaxLineLength, true);
            if (line == delimiter) break;
            UnstuffLine(line);
            if (message.KeepBodyText) message.BodyText.append(line).append("\r\n");
            else message.Body.Add(std::move(line));
        }
        endReached = true;
        return;
    }
    int parts = 0;
    for (;;) {
        std::string line = ReadLineFromStream(source, limits.MaxLineLength, true);
        if (line == delimiter) break;
        std::unique_ptr<TMailMessageDecoder> decoder = DetectAnyPartStart(message, line);
        if (!decoder) {
            UnstuffLine(line);
            message.Body.Add(std::move(line));
            continue;
        }
        bool messageEnded = false;
        while (decoder) {
            if (limits.MaxParts > 0 && parts >= limits.MaxParts) throw EMailException("Too many message parts.");
            decoder->Source = &source;
            decoder->MaxLineLength = limits.MaxLineLength;
            decoder->ReadPartHeader();
            switch (decoder->PartKind) {
                case TMailPartKind::pkNone:
                    // Only the end of the message stops a part's header lines.
                    endReached = true;
                    throw EMailException("Unknown Message Part Type.");
                case TMailPartKind::pkText: decoder = StoreTextPart(std::move(decoder), messageEnded); break;
                case TMailPartKind::pkAttachment:
                    decoder = StoreAttachmentPart(std::move(decoder), messageEnded);
                    break;
            }
            ++parts;
        }
        if (messageEnded) break;
    }
    endReached = true;
}

std::unique_ptr<TMailMessageDecoder> StoreTextPart(std::unique_ptr<TMailMessageDecoder> decoder, bool& messageEnded) {
    TMemoryStream text;
    std::unique_ptr<TMailMessageDecoder> next = decoder->ReadPartBody(text, messageEnded);
    TMailText& part = decoder->Message().MessageParts.Add<TMailText>();
    part.SetContentType(decoder->HeaderValue("Content-Type"));
    part.SetContentTransfer(decoder->HeaderValue("Content-Transfer-Encoding"));
    part.Body.SetText(text.Data());
    return next;
}

std::unique_ptr<TMailMessageDecoder> StoreAttachmentPart(std::unique_ptr<TMailMessageDecoder> decoder,
                                                         bool& messageEnded) {
    TempFileGuard file{NewTempFileName(std::string())};
    std::unique_ptr<TMailMessageDecoder> next;
    {
        TFileStream stream(file.path, TFileStream::fmOpenWrite);
        GatheringStream gathered(stream);
        next = decoder->ReadPartBody(gathered, messageEnded);
        gathered.Flush();
    }
    TMailAttachment& part = decoder->Message().MessageParts.Add<TMailAttachment>(std::string());
    part.StoredPath = file.path;
    part.OwnsFile = true;
    file.released = true;
    part.SetContentType(decoder->HeaderValue("Content-Type"));
    part.SetContentTransfer(decoder->HeaderValue("Content-Transfer-Encoding"));
    part.SetContentDisposition(decoder->HeaderValue("Content-Disposition"));
    part.FileName = decoder->Filename;
    return next;
}

}  // namespace tarnwick
