#pragma once
// RFC 2047 encoded words in header text, and the ISO-2022-JP <-> Shift-JIS conversions.
#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick {

// How header text is prepared before word encoding.
enum class TTransfer { bit7 = 0, bit8 = 1, iso2022jp = 2 };

// A set of byte values.
class TCharSet {
public:
    constexpr TCharSet() = default;
    constexpr explicit TCharSet(std::string_view chars) {
        for (char c : chars) Include(static_cast<unsigned char>(c));
    }
    constexpr void Include(unsigned char c) { bits_[c >> 6] |= uint64_t{1} << (c & 63); }
    constexpr void IncludeRange(unsigned char first, unsigned char last) {
        for (unsigned c = first; c <= last; ++c) Include(static_cast<unsigned char>(c));
    }
    constexpr bool Contains(unsigned char c) const { return (bits_[c >> 6] >> (c & 63)) & 1; }
    constexpr bool Contains(char c) const { return Contains(static_cast<unsigned char>(c)); }
    constexpr bool Empty() const { return (bits_[0] | bits_[1] | bits_[2] | bits_[3]) == 0; }
    constexpr TCharSet operator+(const TCharSet& other) const {
        TCharSet r;
        for (int i = 0; i < 4; ++i) r.bits_[i] = bits_[i] | other.bits_[i];
        return r;
    }

private:
    uint64_t bits_[4]{};
};

// Characters that force a display name into an encoded word.
inline constexpr TCharSet AddressSpecials{"()[]<>:;.,@\\\""};

// Decodes the ISO-* and WINDOWS-* encoded words of a header value; ISO-2022-JP words become
// Shift-JIS. Words in other charsets and malformed words stay as they are.
std::string DecodeEncodedWords(std::string_view header);
std::string JisToShiftJis(std::string_view text);
std::string ShiftJisToJis(std::string_view text);

// Encodes the words of text that hold 8-bit or control bytes (or specials) as encoded words
// "=?charset?letter?...?="; letter is 'B', 'Q' or '8' (no encoding).
std::string EncodeHeaderText(std::string_view text, const TCharSet& specials, char encoding,
                             TTransfer transfer, std::string_view charset);

// Header charset, transfer and encoding letter for the system locale.
void ChooseHeaderCharset(TTransfer& transfer, char& encoding, std::string& charset);
// The same choice for a given locale language (primary and sub-language numbers).
void ChooseHeaderCharsetFor(int primaryLanguage, int subLanguage, TTransfer& transfer, char& encoding,
                            std::string& charset);

}  // namespace tarnwick
