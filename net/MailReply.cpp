#include "net/MailReply.h"

#include "platform/Exception.h"

namespace tarnwick {

void TMailRFCReply::SetNumericCode(int32_t code) {
    numericCode_ = code;
    if (code > 0) textCode_ = IntToStr(code);
}

void TMailRFCReply::SetTextCode(const std::string& code) {
    textCode_ = code;
    if (!code.empty()) numericCode_ = StrToIntDef(code, 0);
}

void TMailRFCReply::Clear() {
    numericCode_ = 0;
    Text.Clear();
    textCode_.clear();
}

void TMailRFCReply::ParseReply(const TStringList& lines) {
    Clear();
    if (lines.Count() == 0) return;
    std::string code = Trim(std::string_view(lines[0]).substr(0, 4));
    if (code.size() == 4 && code[3] == '-') code.resize(3);
    SetTextCode(code);
    for (const std::string& line : lines) Text.Add(line.size() > 4 ? line.substr(4) : std::string());
}

}  // namespace tarnwick
