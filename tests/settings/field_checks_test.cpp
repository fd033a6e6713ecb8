// What the window's fields may hold: full-width input folded, each field's form, the first bad one.
#include <gtest/gtest.h>

#include "app/settings/Settings.h"

namespace tarnwick {
namespace {

TEST(FieldChecks, FoldedInputIsCheckedFieldByField) {
    struct Row {
        TField field;
        const char* typed;
        const char* folded;
        bool good;
    };
    const Row rows[] = {
        // Full-width digits, letters, colon, blanks and "＠" as ASCII; the ends trimmed.
        {TField::Pop3Server, "pop.example.jp：３７９９５", "pop.example.jp:37995", true},
        {TField::SmtpServer, "　ｓｍｔｐ．example.jp ", "smtp.example.jp", true},
        {TField::EnvelopeFrom, "taro＠example.jp", "taro@example.jp", true},
        {TField::Interval, "１５", "15", true},
        {TField::Pop3Server, "[::1]:995", "[::1]:995", true},
        {TField::Pop3Server, "fe80::1", "fe80::1", true},
        {TField::Pop3Server, "pop.example.jp:99999", "pop.example.jp:99999", false},
        {TField::Pop3Server, "pop.example.jp:", "pop.example.jp:", false},
        {TField::SmtpServer, "smtp example.jp", "smtp example.jp", false},
        {TField::SmtpServer, "taro@smtp.example.jp", "taro@smtp.example.jp", false},
        {TField::SmtpServer, "[::1]:x", "[::1]:x", false},
        // The user part: what an old phone address holds passes; "@", blanks and separators do not.
        {TField::ForwardUser, "taro..hanako.", "taro..hanako.", true},
        {TField::ForwardUser, "taro@", "taro@", false},
        {TField::ForwardUser, "ta ro", "ta ro", false},
        {TField::ForwardUser, "a,b", "a,b", false},
        {TField::ForwardDomain, "docomo.ne.jp", "docomo.ne.jp", true},
        {TField::ForwardDomain, "@docomo.ne.jp", "@docomo.ne.jp", false},
        {TField::ForwardDomain, "docomo..ne.jp", "docomo..ne.jp", false},
        {TField::EnvelopeFrom, "taro", "taro", false},
        {TField::Interval, "0", "0", false},
        {TField::Interval, "1a", "1a", false},
    };
    for (const Row& row : rows) {
        const std::string folded = FoldInput(row.typed);
        EXPECT_EQ(folded, row.folded);
        const std::string problem = FieldProblem(row.field, folded);
        EXPECT_EQ(problem.empty(), row.good) << row.typed << ": " << problem;
        // Every problem names its field by the window's caption.
        if (!problem.empty()) {
            EXPECT_EQ(problem.rfind(FieldCaption(row.field), 0), 0u) << problem;
        }
    }

    // The forwarding address: the user part first; an empty half is left to the missing-field line.
    TSettings settings;
    settings.MailUser = "taro@";
    settings.MailDomain = "docomo..ne.jp";
    EXPECT_EQ(CheckForwardAddress(settings).Field, TField::ForwardUser);
    settings.MailUser = "taro";
    EXPECT_EQ(CheckForwardAddress(settings).Field, TField::ForwardDomain);
    settings.MailDomain.clear();
    EXPECT_TRUE(CheckForwardAddress(settings).Ok());
}

}  // namespace
}  // namespace tarnwick
