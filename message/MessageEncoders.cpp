#include "message/MessageEncoders.h"

#include "message/Coders.h"
#include "platform/Exception.h"
#include "platform/Streams.h"

namespace tarnwick {

namespace {

// Reads until count bytes are there or the source ends.
int64_t ReadFull(TStream& source, char* buffer, int64_t count) {
    int64_t total = 0;
    while (total < count) {
        int64_t got = source.Read(buffer + total, count - total);
        if (got <= 0) break;
        total += got;
    }
    return total;
}

// Encodes source from its start in runs of runBytes, one line per run, each line followed by
// CR LF. Many runs are read and written at once; nothing is held whole.
template <class Coder>
void EncodeRuns(TStream& source, TStream& destination, Coder& coder, int64_t runBytes) {
    source.SetPosition(0);
    const int64_t blockBytes = runBytes * 1024;
    std::string block(static_cast<size_t>(blockBytes), '\0');
    std::string out;
    for (;;) {
        const int64_t got = ReadFull(source, block.data(), blockBytes);
        if (got <= 0) break;
        TMailReadMemoryStream view(block.data(), got);
        while (view.Position() < got) out.append(coder.EncodeFromStream(view, runBytes)).append("\r\n");
        destination.WriteBuffer(out.data(), static_cast<int64_t>(out.size()));
        out.clear();
        if (got < blockBytes) break;
    }
}

// A name put on a line of its own must not break that line.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n' || c == '\0') c = ' ';
    return text;
}

}  // namespace

void TMailMessageEncoderMIME::EncodeContent(TStream& source, TStream& destination) {
    TMailEncoderMIME coder;
    EncodeRuns(source, destination, coder, 57);
}

void TMailMessageEncoderUUEBase::EncodeContent(TStream& source, TStream& destination) {
    std::unique_ptr<TMailEncoderUUEBase> coder = MakeCoder();
    const std::string begin = "begin " + IntToStr(PermissionCode) + " " + OneLine(Filename) + "\r\n";
    destination.WriteBuffer(begin.data(), static_cast<int64_t>(begin.size()));
    EncodeRuns(source, destination, *coder, 45);
    const std::string end = std::string(1, coder->FillChar) + "\r\nend\r\n";
    destination.WriteBuffer(end.data(), static_cast<int64_t>(end.size()));
}

std::unique_ptr<TMailEncoderUUEBase> TMailMessageEncoderUUE::MakeCoder() const {
    return std::make_unique<TMailEncoderUUE>();
}

std::unique_ptr<TMailEncoderUUEBase> TMailMessageEncoderXXE::MakeCoder() const {
    return std::make_unique<TMailEncoderXXE>();
}

void InstallMessageEncoders() {
    static const bool installed = [] {
        FindEncoder("MIME").SetEncoderFactory(
            []() -> std::unique_ptr<TMailMessageEncoder> { return std::make_unique<TMailMessageEncoderMIME>(); });
        FindEncoder("UUE").SetEncoderFactory(
            []() -> std::unique_ptr<TMailMessageEncoder> { return std::make_unique<TMailMessageEncoderUUE>(); });
        FindEncoder("XXE").SetEncoderFactory(
            []() -> std::unique_ptr<TMailMessageEncoder> { return std::make_unique<TMailMessageEncoderXXE>(); });
        return true;
    }();
    (void)installed;
}

namespace {
// Installed at start-up whenever this file is part of the program.
const bool encodersInstalled = (InstallMessageEncoders(), true);
}  // namespace

}  // namespace tarnwick
