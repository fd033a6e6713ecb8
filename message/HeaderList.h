#pragma once
// The lines of a header block, one physical line per entry: lookup by name ignoring case,
// continuation lines joined on reading, long values folded on writing.
#include <string>
#include <string_view>

#include "message/HeaderCoding.h"
#include "platform/StringList.h"

namespace tarnwick {

// Where folding may break a line.
inline constexpr TCharSet MailFoldBreakChars{"\t ,"};

class TMailHeaderList : public TStringList {
public:
    TMailHeaderList() = default;

    // Placed between name and value on writing; its right-trimmed form ends the name on reading.
    std::string ValueSeparator = ": ";
    bool KeepNameCase = false;
    bool JoinContinuations = true;
    bool FoldLongLines = true;
    int FoldWidth = 78;

    // The name part of a line (upper case unless KeepNameCase); empty for a line without a colon.
    std::string LineName(int index) const;
    // The trimmed value of a line with its continuation lines; empty for an index out of range.
    std::string LineValue(int index) const;
    // Index of the first line with that name ignoring case, -1 if none.
    int FindName(std::string_view name) const;
    std::string GetHeaderValue(std::string_view name) const;
    // Replaces the header in place, appends it, or removes it (with its continuation lines) when
    // value is empty.
    void SetHeaderValue(std::string_view name, std::string_view value);

    void RemoveContinuations(int index);
    // Puts the folded pieces of text into the list from line index on.
    void ReplaceFolded(std::string_view text, int index);
    // The folded pieces of text, right-trimmed; never an empty piece, and every piece after the
    // first begins with white space.
    TStringList SplitFolded(std::string_view text) const;

    // Inserts breakText at break characters so that lines stay within width where they can;
    // never breaks inside a double-quoted string or a double-byte character.
    static std::string WrapAtBreaks(std::string_view line, std::string_view breakText, const TCharSet& breakChars,
                                    int width);

private:
    // 0-based length of the name of a line; npos when the line has no separator.
    size_t NameLength(std::string_view line) const;
};

}  // namespace tarnwick
