#include "message/HeaderCoding.h"

namespace tarnwick {

std::string DecodeEncodedWords(std::string_view header) { return std::string(header); }
std::string JisToShiftJis(std::string_view text) { return std::string(text); }
std::string ShiftJisToJis(std::string_view text) { return std::string(text); }
std::string EncodeHeaderText(std::string_view text, const TCharSet&, char, TTransfer, std::string_view) {
    return std::string(text);
}
void ChooseHeaderCharset(TTransfer& transfer, char& encoding, std::string& charset) {
    transfer = TTransfer::iso2022jp;
    encoding = 'B';
    charset = "ISO-2022-JP";
}

}  // namespace tarnwick
