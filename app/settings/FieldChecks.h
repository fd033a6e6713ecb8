#pragma once
// What the window's fields may hold, checked where they are typed and again before a cycle uses
// them: a Japanese input method easily leaves full-width digits or "＠" in a server or an address,
// and a forwarding address that does not parse would reach the SMTP server and name a ledger file.
#include <string>

#include "app/settings/SettingsFile.h"

namespace tarnwick {

// Full-width letters, digits, blanks and "＠" as ASCII (Unicode NFKC), the ends trimmed. For
// servers, addresses and the interval; never for a password. Code page 932 in and out.
std::string FoldInput(const std::string& cp932);

// The fields that have a form, by the window's captions.
enum class TField { Pop3Server, SmtpServer, ForwardUser, ForwardDomain, EnvelopeFrom, Interval };
const char* FieldCaption(TField field);

// Why value is not good for the field, naming it ("POP3サーバアドレスの形式が…"); empty when it
// is good. An empty value is good here: what is missing is said by MissingSettings.
std::string FieldProblem(TField field, const std::string& value);

struct TFieldCheck {
    TField Field = TField::Pop3Server;
    std::string Problem;  // empty: every field is good
    bool Ok() const { return Problem.empty(); }
};
// The forwarding address (user part, then domain): what a cycle may not go without.
TFieldCheck CheckForwardAddress(const TSettings& settings);

}  // namespace tarnwick
