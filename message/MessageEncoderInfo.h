#pragma once
// The registry of attachment encoders by name ("MIME", "UUE", "XXE", registered at start-up) and
// the base of the encoders themselves. The encoders' content writing belongs to message
// transmission, which installs a maker for each registered kind (SetEncoderFactory).
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "message/MailException.h"

namespace tarnwick {

class TMailMessage;
class TStream;

// Fixed multipart boundaries of the generating send path; nothing is ever chosen at random.
inline constexpr std::string_view MailMainBoundary = "=_NextPart_2rfktarnsadvnqw3nerasdf";
inline constexpr std::string_view MailRelatedBoundary = "=_NextPart_2relrfksadvnqtarnw3nerasdf";
inline constexpr std::string_view MailAlternativeBoundary = "=_NextPart_2altrfktarnsadvnqw3nerasdf";

// Writes one attachment's content onto a destination stream.
class TMailMessageEncoder {
public:
    virtual ~TMailMessageEncoder() = default;
    // Encodes source from its start onto destination.
    virtual void EncodeContent(TStream& source, TStream& destination) = 0;

    std::string Filename;
    int32_t PermissionCode = 660;
};

using TMailMessageEncoderFactory = std::unique_ptr<TMailMessageEncoder> (*)();

class TMailMessageEncoderInfo {
public:
    virtual ~TMailMessageEncoderInfo() = default;

    // Adjusts the message's content type before its header lines are generated; the base
    // leaves it alone.
    virtual void PrepareHeaders(TMailMessage& message) const;
    // A new encoder of this info's kind. Raises EMailException when no maker is installed.
    virtual std::unique_ptr<TMailMessageEncoder> CreateEncoder() const;

    void SetEncoderFactory(TMailMessageEncoderFactory factory) { factory_ = factory; }
    TMailMessageEncoderFactory EncoderFactory() const { return factory_; }
    // The name it was registered under (empty until registered).
    const std::string& Name() const { return name_; }

private:
    friend struct MailEncoderRegistry;
    TMailMessageEncoderFactory factory_ = nullptr;
    std::string name_;
};

// Sets the message's multipart content type from its part counts.
class TMailMessageEncoderInfoMIME : public TMailMessageEncoderInfo {
public:
    void PrepareHeaders(TMailMessage& message) const override;
};
class TMailMessageEncoderInfoUUE : public TMailMessageEncoderInfo {};
class TMailMessageEncoderInfoXXE : public TMailMessageEncoderInfo {};

// Infos live until the program ends. A name registered twice (ignoring case) is found as its
// latest registration; the earlier info stays alive for those that already hold it.
void RegisterEncoder(std::string name, std::unique_ptr<TMailMessageEncoderInfo> info);
// Raises EMailException "Message encoder not found: " + name.
TMailMessageEncoderInfo& FindEncoder(std::string_view name);

}  // namespace tarnwick
