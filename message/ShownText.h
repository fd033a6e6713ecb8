#pragma once
// The one way text from outside (ids, subjects, addresses, a provider's words, server replies)
// reaches the log, the window and the terminal.
#include <cstddef>
#include <string>
#include <string_view>

namespace tarnwick {

// The text as UTF-8 to show: read as UTF-8 when it is valid UTF-8, else as code page 932;
// control characters (C0, DEL, C1) shown as \xNN so nothing can move the cursor, fake a line or
// hide what follows; cut after maxChars characters with "…" at the end.
std::string ShownText(std::string_view outside, size_t maxChars = 200);
// A whole log line, outside text included, is cut here.
constexpr size_t kMaxShownLine = 2000;
// The same in code page 932, for the program's own text channels (a character the code page lacks
// becomes "?").
std::string ShownCp932(std::string_view outside, size_t maxChars = 200);

}  // namespace tarnwick
