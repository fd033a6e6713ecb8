#pragma once
// Attachment content writers of the generating send path: base64 lines (RFC 2045) and
// "begin"/"end" blocks of uuencode or xxencode lines.
#include <memory>

#include "message/MessageEncoderInfo.h"

namespace tarnwick {

class TMailEncoderUUEBase;

// Lines of 76 base64 characters (57 bytes each), each followed by CR LF.
class TMailMessageEncoderMIME : public TMailMessageEncoder {
public:
    void EncodeContent(TStream& source, TStream& destination) override;
};

// "begin <PermissionCode> <Filename>", lines of 45 bytes, the coder's fill character, "end".
class TMailMessageEncoderUUEBase : public TMailMessageEncoder {
public:
    void EncodeContent(TStream& source, TStream& destination) override;

protected:
    virtual std::unique_ptr<TMailEncoderUUEBase> MakeCoder() const = 0;
};

class TMailMessageEncoderUUE : public TMailMessageEncoderUUEBase {
protected:
    std::unique_ptr<TMailEncoderUUEBase> MakeCoder() const override;
};

class TMailMessageEncoderXXE : public TMailMessageEncoderUUEBase {
protected:
    std::unique_ptr<TMailEncoderUUEBase> MakeCoder() const override;
};

// Gives the registered "MIME", "UUE" and "XXE" infos their encoders. Safe to call any number of
// times; message writing calls it before it needs an encoder.
void InstallMessageEncoders();

}  // namespace tarnwick
