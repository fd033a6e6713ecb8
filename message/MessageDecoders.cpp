#include "message/MessageDecoders.h"

#include <utility>
#include <vector>

#include "message/Coders.h"
#include "message/HeaderCoding.h"
#include "message/MailGlobal.h"
#include "message/MailMessage.h"
#include "message/StreamLines.h"
#include "platform/Exception.h"
#include "platform/Streams.h"

namespace tarnwick {

namespace {

struct DecoderRegistry {
    std::vector<std::pair<std::string, std::unique_ptr<TMailMessageDecoderInfo>>> infos;

    DecoderRegistry() {
        infos.emplace_back("MIME", std::make_unique<TMailMessageDecoderInfoMIME>());
        infos.emplace_back("UUE", std::make_unique<TMailMessageDecoderInfoUUE>());
    }
    static DecoderRegistry& Instance() {
        static DecoderRegistry registry;
        return registry;
    }
};

bool StartsWithBlank(std::string_view line) { return !line.empty() && (line[0] == ' ' || line[0] == '\t'); }

// "Name: value" to "Name=value"; only the first ": " is replaced.
std::string NameEqualsValue(std::string_view line) {
    const size_t colon = line.find(": ");
    if (colon == std::string_view::npos) return std::string(line);
    std::string entry;
    entry.reserve(line.size() - 1);
    entry.append(line.substr(0, colon)).append(1, '=').append(line.substr(colon + 2));
    return entry;
}

bool IsDelimiterOf(std::string_view line, std::string_view boundary, bool closing) {
    const size_t want = 2 + boundary.size() + (closing ? 2 : 0);
    if (line.size() != want || line.substr(0, 2) != "--") return false;
    if (!SameText(line.substr(2, boundary.size()), boundary)) return false;
    return !closing || line.substr(2 + boundary.size()) == "--";
}

enum class UUScheme { none, uue, xxe };

// Number of characters a line of count bytes needs after its count character.
size_t EncodedLength(size_t count) { return 4 * ((count + 2) / 3); }

// The coder of a block, from its first data line. "M" and "h" are the count characters of a full
// uuencode or xxencode line; a block shorter than one full line starts with a smaller count, which
// the tables tell apart, or failing that the line's length.
UUScheme ChooseScheme(std::string_view line) {
    if (line.empty()) return UUScheme::none;
    const char c = line[0] == ' ' ? '`' : line[0];  // a space counts as the backquote in uuencode
    if (c == 'M') return UUScheme::uue;
    if (c == 'h') return UUScheme::xxe;
    const size_t inUue = MailUUETable.find(c);
    const size_t inXxe = MailXXETable.find(c);
    if (inUue == std::string_view::npos && inXxe == std::string_view::npos) return UUScheme::none;
    if (inXxe == std::string_view::npos) return UUScheme::uue;
    if (inUue == std::string_view::npos) return UUScheme::xxe;
    const bool uueFits = line.size() - 1 == EncodedLength(inUue);
    const bool xxeFits = line.size() - 1 == EncodedLength(inXxe);
    return xxeFits && !uueFits ? UUScheme::xxe : UUScheme::uue;
}

}  // namespace

void RegisterDecoder(std::string name, std::unique_ptr<TMailMessageDecoderInfo> info) {
    if (!info) return;
    DecoderRegistry::Instance().infos.emplace_back(std::move(name), std::move(info));
}

std::unique_ptr<TMailMessageDecoder> DetectAnyPartStart(TMailMessage& message, const std::string& line) {
    for (const auto& [name, info] : DecoderRegistry::Instance().infos) {
        (void)name;
        if (auto decoder = info->DetectPartStart(message, line)) return decoder;
    }
    return nullptr;
}

// ---- TMailMessageDecoder ----

std::string TMailMessageDecoder::HeaderValue(std::string_view name) const {
    for (const std::string& entry : Headers) {
        size_t eq = entry.find('=');
        if (eq != std::string::npos && SameText(std::string_view(entry).substr(0, eq), name)) return entry.substr(eq + 1);
    }
    return {};
}

std::string TMailMessageDecoder::ReadLine() { return ReadLineFromStream(*Source, MaxLineLength, true); }

// ---- MIME ----

TMailMessageDecoderMIME::TMailMessageDecoderMIME(TMailMessage& message)
    : TMailMessageDecoder(message), PartBoundary(message.MIMEBoundary.Boundary()) {
    const std::string& encoding = message.ContentTransferEncoding;
    WholeBodyEncoded = !encoding.empty() && encoding != "7bit";
}

std::unique_ptr<TMailMessageDecoder> TMailMessageDecoderInfoMIME::DetectPartStart(TMailMessage& message,
                                                                                  const std::string& line) const {
    const std::string boundary = message.MIMEBoundary.Boundary();
    if (!boundary.empty() && IsDelimiterOf(line, boundary, false))
        return std::make_unique<TMailMessageDecoderMIME>(message);
    const std::string& encoding = message.ContentTransferEncoding;
    if (SameText(encoding, "base64") || SameText(encoding, "quoted-printable")) {
        auto decoder = std::make_unique<TMailMessageDecoderMIME>(message);
        decoder->PendingLine = line;
        return decoder;
    }
    return nullptr;
}

void TMailMessageDecoderMIME::ReadPartHeader() {
    TMailMessage& message = Message();
    if (WholeBodyEncoded) {
        ClassifyPart(message.ContentType, message.ContentDisposition);
        return;
    }
    for (;;) {
        std::string line = ReadLine();
        if (line == ".") {
            PartKind = TMailPartKind::pkNone;
            return;
        }
        if (line.empty()) {
            const std::string contentType = HeaderValue("Content-Type");
            std::string boundary = TMailMIMEBoundary::ExtractBoundary(contentType);
            if (!boundary.empty()) {
                message.MIMEBoundary.Push(boundary);
                PartBoundary = std::move(boundary);
            }
            ClassifyPart(contentType, HeaderValue("Content-Disposition"));
            return;
        }
        if (StartsWithBlank(line)) {
            if (Headers.Empty()) {
                Headers.Add(NameEqualsValue(std::string_view(line).substr(1)));
            } else {
                std::string& last = Headers[Headers.Count() - 1];
                last.append(" ").append(line, 1, std::string::npos);
            }
        } else {
            Headers.Add(NameEqualsValue(line));
        }
    }
}

void TMailMessageDecoderMIME::ClassifyPart(std::string_view contentType, std::string_view disposition) {
    const std::string_view kind = disposition.substr(0, disposition.find(';'));
    if (!SameText(kind, "attachment") && TextPos("NAME", UpperCase(contentType)) == 0) {
        PartKind = TMailPartKind::pkText;
        return;
    }
    PartKind = TMailPartKind::pkAttachment;
    // The parameter's value: what follows the name and the one character after it ("=").
    auto after = [](std::string_view text, std::string_view name) -> std::string_view {
        size_t p = TextPos(name, UpperCase(text));
        if (p == 0) return {};
        size_t from = p - 1 + name.size() + 1;
        return from < text.size() ? text.substr(from) : std::string_view();
    };
    std::string_view name = after(disposition, "FILENAME");
    if (name.empty()) name = after(contentType, "NAME");
    if (name.empty()) return;
    if (name[0] == '"') {
        name.remove_prefix(1);
        name = name.substr(0, name.find('"'));
    }
    try {
        Filename = DecodeEncodedWords(name);
    } catch (const Exception&) {
        Filename = std::string(name);
    }
}

std::unique_ptr<TMailMessageDecoder> TMailMessageDecoderMIME::ReadPartBody(TStream& destination, bool& messageEnded) {
    messageEnded = false;
    TMailMessage& message = Message();
    const std::string encoding = WholeBodyEncoded ? message.ContentTransferEncoding : HeaderValue("Content-Transfer-Encoding");
    std::unique_ptr<TMailDecoder> decoder;
    const bool base64 = SameText(encoding, "base64");
    if (base64) decoder = std::make_unique<TMailDecoderMIME>();
    else if (SameText(encoding, "quoted-printable")) decoder = std::make_unique<TMailDecoderQuotedPrintable>();

    for (;;) {
        std::string line;
        if (PendingLine) {
            line = std::move(*PendingLine);
            PendingLine.reset();
        } else {
            line = ReadLine();
        }
        if (line == ".") {
            messageEnded = true;
            return nullptr;
        }
        if (!PartBoundary.empty()) {
            if (IsDelimiterOf(line, PartBoundary, false)) return std::make_unique<TMailMessageDecoderMIME>(message);
            if (IsDelimiterOf(line, PartBoundary, true)) {
                message.MIMEBoundary.Pop();
                return nullptr;
            }
        }
        if (decoder) {
            // The server doubled a leading dot for the transfer; the content has one.
            UnstuffLine(line);
            if (base64) {
                if (!line.empty()) decoder->DecodeIntoStream(line, destination);
            } else {
                line += "\r\n";
                decoder->DecodeIntoStream(line, destination);
            }
            continue;
        }
        if (!line.empty() && line[0] == '.') line.erase(0, 1);
        WriteLineToStream(destination, line);
    }
}

// ---- UUE / XXE ----

std::unique_ptr<TMailMessageDecoder> TMailMessageDecoderInfoUUE::DetectPartStart(TMailMessage& message,
                                                                                 const std::string& line) const {
    if (line.size() < 10 || !SameText(std::string_view(line).substr(0, 6), "begin ") || line[9] != ' ') return nullptr;
    int mode = 0;
    if (!TryStrToInt(std::string_view(line).substr(6, 3), mode)) mode = 0;
    if (mode <= 0) return nullptr;
    auto decoder = std::make_unique<TMailMessageDecoderUUE>(message);
    decoder->Filename = line.substr(10);
    decoder->PartKind = TMailPartKind::pkAttachment;
    return decoder;
}

std::unique_ptr<TMailMessageDecoder> TMailMessageDecoderUUE::ReadPartBody(TStream& destination, bool& messageEnded) {
    messageEnded = false;
    std::string line = ReadLine();
    if (line == ".") {
        messageEnded = true;
        return nullptr;
    }
    if (SameText(Trim(line), "end")) return nullptr;
    UnstuffLine(line);
    std::unique_ptr<TMailDecoder4to3> decoder;
    switch (ChooseScheme(line)) {
        case UUScheme::uue: decoder = std::make_unique<TMailDecoderUUE>(); break;
        case UUScheme::xxe: decoder = std::make_unique<TMailDecoderXXE>(); break;
        case UUScheme::none: throw EMailException("Unrecognized UUE encoding scheme.");
    }
    const std::string fill(1, decoder->FillChar);
    for (;;) {
        if (!Trim(line).empty() && line != fill) decoder->DecodeIntoStream(line, destination);
        line = ReadLine();
        if (SameText(Trim(line), "end")) return nullptr;
        if (line == ".") {
            messageEnded = true;
            return nullptr;
        }
        UnstuffLine(line);
    }
}

}  // namespace tarnwick
