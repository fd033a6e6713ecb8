#pragma once
// The decoded parts of a message (texts and attachments), their collection and the stack of
// multipart boundaries of a message being read.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "message/HeaderList.h"
#include "message/MailException.h"
#include "platform/StringList.h"

namespace tarnwick {

class TMailMessage;
class TMailMessageParts;
class TMailMessageEncoderInfo;
class TStream;

// "TMailMessagePart can not be created.  Use descendant classes. "
class EMailCanNotCreateMessagePart : public EMailException {
public:
    using EMailException::EMailException;
};

class TMailMessagePart {
public:
    // Only descendants may be made; this raises EMailCanNotCreateMessagePart.
    TMailMessagePart();
    virtual ~TMailMessagePart() = default;
    TMailMessagePart(const TMailMessagePart&) = delete;
    TMailMessagePart& operator=(const TMailMessagePart&) = delete;

    // Copies from a part of the same class; any other class raises EConvertError.
    virtual void Assign(const TMailMessagePart& source);
    virtual const char* ClassName() const { return "TMailMessagePart"; }

    // Kept as the values of the part's own header lines.
    std::string ContentType() const { return Headers.GetHeaderValue("Content-Type"); }
    void SetContentType(std::string_view value) { Headers.SetHeaderValue("Content-Type", value); }
    std::string ContentTransfer() const { return Headers.GetHeaderValue("Content-Transfer-Encoding"); }
    void SetContentTransfer(std::string_view value) { Headers.SetHeaderValue("Content-Transfer-Encoding", value); }
    std::string ContentDisposition() const { return Headers.GetHeaderValue("Content-Disposition"); }
    void SetContentDisposition(std::string_view value) { Headers.SetHeaderValue("Content-Disposition", value); }

    TMailMessageParts* Collection() const { return collection_; }

    TMailHeaderList Headers;
    // Lines written after the content headers.
    TMailHeaderList ExtraHeaders;

protected:
    struct Descendant {};
    explicit TMailMessagePart(Descendant) {}

private:
    friend class TMailMessageParts;
    TMailMessageParts* collection_ = nullptr;
};

class TMailText : public TMailMessagePart {
public:
    TMailText() : TMailMessagePart(Descendant{}) {}
    explicit TMailText(const TStringList& body) : TMailMessagePart(Descendant{}) { Body.Assign(body); }
    void Assign(const TMailMessagePart& source) override;
    const char* ClassName() const override { return "TMailText"; }

    TStringList Body;
};

class TMailAttachment : public TMailMessagePart {
public:
    // StoredPath := path, FileName := its file-name part.
    explicit TMailAttachment(const std::string& path = std::string());
    // Deletes the file at StoredPath when OwnsFile is set.
    ~TMailAttachment() override;
    void Assign(const TMailMessagePart& source) override;
    const char* ClassName() const override { return "TMailAttachment"; }

    // Encodes the stored file with the encoder that the collection's AttachmentEncoding names.
    // Raises EFOpenError when the file cannot be opened.
    void SaveContentTo(TStream& destination) const;

    std::string StoredPath;
    std::string FileName;
    bool OwnsFile = false;
};

class TMailMessageParts {
public:
    explicit TMailMessageParts(TMailMessage* owner = nullptr);
    ~TMailMessageParts();
    TMailMessageParts(const TMailMessageParts&) = delete;
    TMailMessageParts& operator=(const TMailMessageParts&) = delete;

    TMailMessage* Owner() const { return owner_; }
    int Count() const { return static_cast<int>(items_.size()); }
    bool Empty() const { return items_.empty(); }
    TMailMessagePart& Items(int index) { return *items_.at(static_cast<size_t>(index)); }
    const TMailMessagePart& Items(int index) const { return *items_.at(static_cast<size_t>(index)); }
    TMailMessagePart& operator[](int index) { return Items(index); }
    const TMailMessagePart& operator[](int index) const { return Items(index); }

    // Takes a new part at the end and returns it.
    template <class Part, class... Args>
    Part& Add(Args&&... args) {
        auto part = std::make_unique<Part>(std::forward<Args>(args)...);
        Part& ref = *part;
        Adopt(std::move(part));
        return ref;
    }
    void Adopt(std::unique_ptr<TMailMessagePart> part);
    // Destroys the part (an attachment that owns its file deletes it).
    void Delete(int index);
    void Clear();

    const std::string& AttachmentEncoding() const { return attachmentEncoding_; }
    // Raises EMailException "Message encoder not found: " + name; nothing changes then.
    void SetAttachmentEncoding(std::string_view name);
    TMailMessageEncoderInfo& EncoderInfo() const { return *encoderInfo_; }

    // Counts valid after RecountParts.
    void RecountParts();
    int32_t AttachmentCount = 0;
    int32_t RelatedCount = 0;
    int32_t TextCount = 0;

private:
    TMailMessage* owner_;
    std::vector<std::unique_ptr<TMailMessagePart>> items_;
    std::string attachmentEncoding_;
    TMailMessageEncoderInfo* encoderInfo_ = nullptr;
};

// Boundaries of the multiparts being read, innermost on top; comparisons ignore case.
class TMailMIMEBoundary {
public:
    // The top entry, empty when the stack is empty.
    std::string Boundary() const { return stack_.empty() ? std::string() : stack_.back(); }
    // Puts b on top unless it is empty or equal (ignoring case) to the top.
    void Push(std::string_view b);
    // Removes the top entry; nothing happens on an empty stack.
    void Pop();
    void Clear() { stack_.clear(); }
    int Count() const { return static_cast<int>(stack_.size()); }

    // The upper-cased boundary parameter of a Content-Type value, empty without one.
    static std::string ExtractBoundary(std::string_view contentType);

private:
    std::vector<std::string> stack_;
};

}  // namespace tarnwick
