#pragma once
// One parsed server reply: code and text lines.
#include <cstdint>
#include <string>

#include "platform/StringList.h"

namespace tarnwick {

class TMailRFCReply {
public:
    int32_t NumericCode() const { return numericCode_; }
    // A value above 0 also sets TextCode to its decimal text.
    void SetNumericCode(int32_t code);
    const std::string& TextCode() const { return textCode_; }
    // A non-empty text also sets NumericCode to its value, or 0 when it is not a number.
    void SetTextCode(const std::string& code);
    void Clear();
    // First line "250-a" / "250 a" / "+OK a": the code from its first four characters, and every
    // line without its first four characters as text.
    void ParseReply(const TStringList& lines);

    TStringList Text;

private:
    int32_t numericCode_ = 0;
    std::string textCode_;
};

}  // namespace tarnwick
