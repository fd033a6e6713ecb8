// Outside text as it may be shown: decoded once, controls made visible, long text cut.
#include <gtest/gtest.h>

#include <string>

#include "message/ShownText.h"

namespace tarnwick {
namespace {

TEST(ShownText, DecodesOnceShowsControlsAndCuts) {
    struct Case {
        const char* what;
        std::string outside;
        size_t limit;
        std::string shown;  // UTF-8
    };
    const Case cases[] = {
        {"plain", "k001", 200, "k001"},
        {"line ends and escapes", "a\rb\nc\x1b[2Jd\x7f", 200, "a\\x0Db\\x0Ac\\x1B[2Jd\\x7F"},
        {"UTF-8 stays", "\xE6\x97\xA5\xE6\x9C\xAC", 200, "\xE6\x97\xA5\xE6\x9C\xAC"},
        {"C1 control in UTF-8", "a\xC2\x9B" "b", 200, "a\\x9Bb"},
        {"code page 932", "\x93\xfa\x96\x7b", 200, "\xE6\x97\xA5\xE6\x9C\xAC"},
        {"cut by characters", "\xE6\x97\xA5\xE6\x9C\xAC" "abc", 3, "\xE6\x97\xA5\xE6\x9C\xAC" "a\xE2\x80\xA6"},
        {"exactly the limit", "abc", 3, "abc"},
        {"empty", "", 3, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(ShownText(c.outside, c.limit), c.shown) << c.what;
    // Shown twice, the same: a line may pass more than one sink.
    EXPECT_EQ(ShownText(ShownText("a\x1b" "b")), ShownText("a\x1b" "b"));
}

}  // namespace
}  // namespace tarnwick
