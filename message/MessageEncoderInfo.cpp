#include "message/MessageEncoderInfo.h"

#include <utility>
#include <vector>

#include "message/MailMessage.h"
#include "platform/Exception.h"

namespace tarnwick {

// The registry: made on first use, so the three built-in encoders exist before any message does.
struct MailEncoderRegistry {
    std::vector<std::unique_ptr<TMailMessageEncoderInfo>> infos;

    MailEncoderRegistry() {
        Add("MIME", std::make_unique<TMailMessageEncoderInfoMIME>());
        Add("UUE", std::make_unique<TMailMessageEncoderInfoUUE>());
        Add("XXE", std::make_unique<TMailMessageEncoderInfoXXE>());
    }
    void Add(std::string name, std::unique_ptr<TMailMessageEncoderInfo> info) {
        info->name_ = std::move(name);
        infos.push_back(std::move(info));
    }
    static MailEncoderRegistry& Instance() {
        static MailEncoderRegistry registry;
        return registry;
    }
};

void RegisterEncoder(std::string name, std::unique_ptr<TMailMessageEncoderInfo> info) {
    if (!info) return;
    MailEncoderRegistry::Instance().Add(std::move(name), std::move(info));
}

TMailMessageEncoderInfo& FindEncoder(std::string_view name) {
    auto& infos = MailEncoderRegistry::Instance().infos;
    for (auto it = infos.rbegin(); it != infos.rend(); ++it)
        if (SameText((*it)->Name(), name)) return **it;
    throw EMailException("Message encoder not found: " + std::string(name));
}

void TMailMessageEncoderInfo::PrepareHeaders(TMailMessage&) const {}

std::unique_ptr<TMailMessageEncoder> TMailMessageEncoderInfo::CreateEncoder() const {
    if (!factory_) throw EMailException("Message encoder not available: " + name_);
    return factory_();
}

void TMailMessageEncoderInfoMIME::PrepareHeaders(TMailMessage& message) const {
    const TMailMessageParts& parts = message.MessageParts;
    if (parts.RelatedCount > 0) {
        message.ContentType = "multipart/related; type=\"multipart/alternative\"; boundary=\"" +
                              std::string(MailRelatedBoundary) + "\"";
    } else if (parts.AttachmentCount > 0) {
        message.ContentType = "multipart/mixed; boundary=\"" + std::string(MailMainBoundary) + "\"";
    } else if (parts.TextCount > 0) {
        message.ContentType = "multipart/alternative; boundary=\"" + std::string(MailMainBoundary) + "\"";
    }
}

}  // namespace tarnwick
