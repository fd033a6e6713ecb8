#include "message/MessageParts.h"

#include <typeinfo>

#include "message/MailGlobal.h"
#include "message/MessageEncoderInfo.h"
#include "platform/Exception.h"
#include "platform/Streams.h"

namespace tarnwick {

namespace {

// The part of a path after its last folder delimiter.
std::string FileNamePart(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

// ---- TMailMessagePart ----

TMailMessagePart::TMailMessagePart() {
    throw EMailCanNotCreateMessagePart("TMailMessagePart can not be created.  Use descendant classes. ");
}

void TMailMessagePart::Assign(const TMailMessagePart& source) {
    if (&source == this) return;
    if (typeid(source) != typeid(*this))
        throw EConvertError(Format("%s を %s に代入できません", source.ClassName(), ClassName()));
    SetContentTransfer(source.ContentTransfer());
    SetContentType(source.ContentType());
    ExtraHeaders.Assign(source.ExtraHeaders);
}

void TMailText::Assign(const TMailMessagePart& source) {
    if (&source == this) return;
    TMailMessagePart::Assign(source);
    Body.Assign(static_cast<const TMailText&>(source).Body);
}

TMailAttachment::TMailAttachment(const std::string& path) : TMailMessagePart(Descendant{}), StoredPath(path) {
    FileName = FileNamePart(path);
}

TMailAttachment::~TMailAttachment() {
    if (OwnsFile && !StoredPath.empty()) DeleteFile(StoredPath);
}

void TMailAttachment::Assign(const TMailMessagePart& source) {
    if (&source == this) return;
    TMailMessagePart::Assign(source);
    const auto& other = static_cast<const TMailAttachment&>(source);
    SetContentDisposition(other.ContentDisposition());
    FileName = other.FileName;
}

void TMailAttachment::SaveContentTo(TStream& destination) const {
    TMailMessageEncoderInfo& info = Collection() ? Collection()->EncoderInfo() : FindEncoder("MIME");
    std::unique_ptr<TMailMessageEncoder> encoder = info.CreateEncoder();
    encoder->Filename = FileName;
    TFileStream file(StoredPath, TFileStream::fmOpenRead);
    encoder->EncodeContent(file, destination);
}

// ---- TMailMessageParts ----

TMailMessageParts::TMailMessageParts(TMailMessage* owner)
    : owner_(owner), attachmentEncoding_("MIME"), encoderInfo_(&FindEncoder("MIME")) {}

TMailMessageParts::~TMailMessageParts() = default;

void TMailMessageParts::Adopt(std::unique_ptr<TMailMessagePart> part) {
    part->collection_ = this;
    items_.push_back(std::move(part));
}

void TMailMessageParts::Delete(int index) {
    if (index < 0 || index >= Count()) throw EStringListError(Format("List index out of bounds (%d)", index));
    items_.erase(items_.begin() + index);
}

void TMailMessageParts::Clear() { items_.clear(); }

void TMailMessageParts::SetAttachmentEncoding(std::string_view name) {
    TMailMessageEncoderInfo& info = FindEncoder(name);  // raises before anything changes
    encoderInfo_ = &info;
    attachmentEncoding_ = std::string(name);
}

void TMailMessageParts::RecountParts() {
    AttachmentCount = RelatedCount = TextCount = 0;
    for (const auto& part : items_) {
        if (dynamic_cast<const TMailText*>(part.get())) {
            ++TextCount;
        } else if (dynamic_cast<const TMailAttachment*>(part.get())) {
            ++AttachmentCount;
            if (!part->ExtraHeaders.GetHeaderValue("Content-ID").empty()) ++RelatedCount;
        }
    }
}

// ---- TMailMIMEBoundary ----

void TMailMIMEBoundary::Push(std::string_view b) {
    if (!stack_.empty() && SameText(stack_.back(), b)) return;
    if (!b.empty()) stack_.emplace_back(b);
}

void TMailMIMEBoundary::Pop() {
    if (!stack_.empty()) stack_.pop_back();
}

std::string TMailMIMEBoundary::ExtractBoundary(std::string_view contentType) {
    constexpr std::string_view key = "BOUNDARY=";
    const std::string upper = UpperCase(contentType);
    size_t p = TextPos(key, upper);
    if (p == 0) return {};
    std::string_view rest = std::string_view(upper).substr(p - 1 + key.size());
    if (!rest.empty() && rest[0] == '"') {
        rest.remove_prefix(1);
        size_t q = TextPos("\"", rest);
        if (q != 0) rest = rest.substr(0, q - 1);
    }
    // Unlike the charset, an unquoted boundary runs to the end of the value.
    return std::string(rest);
}

}  // namespace tarnwick
