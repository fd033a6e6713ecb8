#pragma once
// Mail addresses as a display name and a bare address, parsed from and written to header text,
// and the list of addresses of one header (groups and comments included).
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "message/MailException.h"

namespace tarnwick {

class TMailMessage;
class TMailAddressList;

// Raised with "@ Outside address" when a second "@" follows an address in angle brackets.
class EMailAddressParseError : public EMailException {
public:
    using EMailException::EMailException;
};

inline constexpr std::string_view AtomChars =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890!#$%&'*+-/=?_`{}|~";
inline constexpr std::string_view AtomCharsSpace =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890!#$%&'*+-/=?_`{}|~ ";
inline constexpr std::string_view QuotedSpecials = "\\\"";

// 1-based position of the first of chars in text (double-byte aware), 0 if none.
size_t FirstOfAny(std::string_view chars, std::string_view text);
// 1-based position of the first byte of text that is not among chars; 1 for empty chars,
// 0 for an empty text or when every byte is among chars.
size_t FirstNotIn(std::string_view chars, std::string_view text);
// Removes bytes of chars from the start, then from the end of text.
std::string TrimChars(std::string_view chars, std::string_view text);

class TMailAddressItem {
public:
    TMailAddressItem() = default;
    explicit TMailAddressItem(TMailAddressList* collection) : collection_(collection) {}
    TMailAddressItem(const TMailAddressItem& other) : Address(other.Address), Name(other.Name) {}
    // Copies Address and Name; the item stays in its own collection.
    TMailAddressItem& operator=(const TMailAddressItem& other) {
        Assign(other);
        return *this;
    }
    void Assign(const TMailAddressItem& source);

    TMailAddressList* Collection() const { return collection_; }

    std::string Address;
    std::string Name;

    // The whole address as header text, quoted where needed.
    std::string Text() const;
    // Parses one address; raises EMailAddressParseError ("@ Outside address"), keeping what was
    // read up to that point.
    void SetText(std::string_view text);

private:
    std::string AddressForHeader() const;
    TMailAddressList* collection_ = nullptr;
};

class TMailAddressList {
public:
    explicit TMailAddressList(TMailMessage* owner = nullptr) : owner_(owner) {}
    TMailAddressList(const TMailAddressList&) = delete;
    TMailAddressList& operator=(const TMailAddressList&) = delete;

    TMailMessage* Owner() const { return owner_; }
    int Count() const { return static_cast<int>(items_.size()); }
    bool Empty() const { return items_.empty(); }
    TMailAddressItem& Items(int index) { return *items_.at(static_cast<size_t>(index)); }
    const TMailAddressItem& Items(int index) const { return *items_.at(static_cast<size_t>(index)); }
    TMailAddressItem& operator[](int index) { return Items(index); }
    const TMailAddressItem& operator[](int index) const { return Items(index); }

    // A new empty item at the end.
    TMailAddressItem& Add();
    void Delete(int index);
    void Clear() { items_.clear(); }
    // Copies the addresses of another list.
    void Assign(const TMailAddressList& source);

    // Empties the list and fills it from header text. Raises EMailAddressParseError as the item
    // parser does, or past MaxHeaderListItems items ("Too many addresses."); the items read so
    // far (the failing one included) stay in the list.
    void ParseAddresses(std::string_view text);

private:
    // Adds an item from text; drops it again when it reads back as nothing or "<>".
    void AddFromText(std::string_view text, bool keepEmpty);

    TMailMessage* owner_;
    std::vector<std::unique_ptr<TMailAddressItem>> items_;
};

}  // namespace tarnwick
