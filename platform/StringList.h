#pragma once
// Ordered list of strings: unsorted, duplicates allowed unless asked otherwise,
// lookups ignore ASCII letter case.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

class TStream;

enum class TDuplicates { dupAccept, dupIgnore, dupError };

class TStringList {
public:
    TStringList() = default;

    int Count() const { return static_cast<int>(items_.size()); }
    bool Empty() const { return items_.empty(); }
    const std::string& operator[](int index) const { return items_.at(static_cast<size_t>(index)).text; }
    std::string& operator[](int index) { return items_.at(static_cast<size_t>(index)).text; }
    const std::string& Strings(int index) const { return (*this)[index]; }
    void* Objects(int index) const { return items_.at(static_cast<size_t>(index)).object; }
    void SetObject(int index, void* object) { items_.at(static_cast<size_t>(index)).object = object; }

    // Returns the new entry's index; with dupIgnore an existing entry's index (-1 with dupError raises).
    int Add(std::string text);
    int AddObject(std::string text, void* object);
    void AddStrings(const TStringList& other);
    void Insert(int index, std::string text);
    void Delete(int index);
    void Clear() { items_.clear(); }
    void Assign(const TStringList& other) { items_ = other.items_; }

    // First entry equal to text ignoring ASCII letter case, -1 if none.
    int IndexOf(std::string_view text) const;
    int IndexOfObject(const void* object) const;

    // Entries joined with CR LF after every one.
    std::string Text() const;
    // Replaces the entries; accepts CR LF, LF or CR as line ends.
    void SetText(std::string_view text);

    void LoadFromFile(const std::string& path);  // raises EFOpenError
    void SaveToFile(const std::string& path) const;  // raises EFCreateError
    void LoadFromStream(TStream& stream);
    void SaveToStream(TStream& stream) const;

    TDuplicates Duplicates = TDuplicates::dupAccept;

    auto begin() const { return StringIterator{items_.begin()}; }
    auto end() const { return StringIterator{items_.end()}; }

private:
    struct Item {
        std::string text;
        void* object = nullptr;
    };
    struct StringIterator {
        std::vector<Item>::const_iterator it;
        const std::string& operator*() const { return it->text; }
        StringIterator& operator++() { ++it; return *this; }
        bool operator!=(const StringIterator& o) const { return it != o.it; }
        bool operator==(const StringIterator& o) const { return it == o.it; }
    };
    std::vector<Item> items_;
};

}  // namespace tarnwick
