#include "platform/StringList.h"

#include "platform/Exception.h"
#include "platform/Streams.h"

namespace tarnwick {

int TStringList::Add(std::string text) { return AddObject(std::move(text), nullptr); }

int TStringList::AddObject(std::string text, void* object) {
    if (Duplicates != TDuplicates::dupAccept) {
        int existing = IndexOf(text);
        if (existing >= 0) {
            if (Duplicates == TDuplicates::dupIgnore) return existing;
            throw EStringListError("String list does not allow duplicates");
        }
    }
    items_.push_back(Item{std::move(text), object});
    return Count() - 1;
}

void TStringList::AddStrings(const TStringList& other) {
    for (const auto& item : other.items_) AddObject(item.text, item.object);
}

void TStringList::Insert(int index, std::string text) {
    if (index < 0 || index > Count()) throw EStringListError(Format("List index out of bounds (%d)", index));
    items_.insert(items_.begin() + index, Item{std::move(text), nullptr});
}

void TStringList::Delete(int index) {
    if (index < 0 || index >= Count()) throw EStringListError(Format("List index out of bounds (%d)", index));
    items_.erase(items_.begin() + index);
}

int TStringList::IndexOf(std::string_view text) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (SameText(items_[i].text, text)) return static_cast<int>(i);
    return -1;
}

int TStringList::IndexOfObject(const void* object) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i].object == object) return static_cast<int>(i);
    return -1;
}

std::string TStringList::Text() const {
    size_t total = 0;
    for (const auto& item : items_) total += item.text.size() + 2;
    std::string out;
    out.reserve(total);
    for (const auto& item : items_) {
        out += item.text;
        out += "\r\n";
    }
    return out;
}

void TStringList::SetText(std::string_view text) {
    items_.clear();
    size_t start = 0, i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            items_.push_back(Item{std::string(text.substr(start, i - start)), nullptr});
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            start = ++i;
        } else {
            ++i;
        }
    }
    if (start < text.size()) items_.push_back(Item{std::string(text.substr(start)), nullptr});
}

void TStringList::LoadFromFile(const std::string& path) {
    TFileStream file(path, TFileStream::fmOpenRead);
    LoadFromStream(file);
}

void TStringList::SaveToFile(const std::string& path) const {
    TFileStream file(path, TFileStream::fmCreate);
    SaveToStream(file);
}

void TStringList::LoadFromStream(TStream& stream) {
    std::string data;
    int64_t size = stream.Size() - stream.Position();
    if (size > 0) {
        data.resize(static_cast<size_t>(size));
        data.resize(static_cast<size_t>(stream.Read(data.data(), size)));
    }
    SetText(data);
}

void TStringList::SaveToStream(TStream& stream) const {
    std::string text = Text();
    stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

}  // namespace tarnwick
