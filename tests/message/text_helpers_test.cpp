#include <gtest/gtest.h>

#include <pthread.h>
#include <unistd.h>

#include <cstdlib>
#include <set>
#include <string>

#include "message/MailGlobal.h"
#include "platform/Streams.h"
#include "platform/StringList.h"
#include "support/TempDir.h"

namespace tarnwick {
namespace {

TEST(CutToken, CutsAtTheDelimiter) {
    std::string text = "abc def";
    EXPECT_EQ("abc", CutToken(text, " ", false));
    EXPECT_EQ("abc def", text);
    EXPECT_EQ("abc", CutToken(text));
    EXPECT_EQ("def", text);
    EXPECT_EQ("def", CutToken(text));
    EXPECT_EQ("", text);
    text = "a<->b<->c";
    EXPECT_EQ("a", CutToken(text, "<->"));
    EXPECT_EQ("b<->c", text);
    std::string pair("user\0pass", 9);
    EXPECT_EQ("user", CutToken(pair, std::string_view("\0", 1)));
    EXPECT_EQ("pass", pair);
}

TEST(CutToken, CaseOnlyIgnoredWhenAsked) {
    std::string text = "text/plain; CHARSET=x";
    EXPECT_EQ("text/plain; CHARSET=x", CutToken(text, "charset=", false));
    EXPECT_EQ("text/plain; ", CutToken(text, "charset=", true, false));
    EXPECT_EQ("x", text);
    text = "text/plain; CHARSET=x";
    EXPECT_EQ("text/plain; ", CutTokenAnyCase(text, "charset="));
    EXPECT_EQ("x", text);
}

TEST(TextPos, NeverMatchesInsideADoubleByteCharacter) {
    EXPECT_EQ(3u, TextPos("c", "abc"));
    EXPECT_EQ(0u, TextPos("", "abc"));
    EXPECT_EQ(0u, TextPos("abcd", "abc"));
    // "ソ" and "表" end in 0x5C, a backslash.
    EXPECT_EQ(0u, TextPos("\\", "ソ"));
    EXPECT_EQ(5u, TextPos("\\", "ソ表\\"));
    EXPECT_EQ(4u, TextPos("@", "\x81\x40" "a@"));
    EXPECT_EQ(2u, TextPos("\x82", "a\x82"));  // a lead byte as the last byte
    std::string text = "表\\x";
    EXPECT_EQ("表", CutToken(text, "\\"));
    EXPECT_EQ("x", text);
}

TEST(FindInMemory, FindsTheFirstWholeMatch) {
    const std::string block = "ab\r\r\r\nc\r\n";
    EXPECT_EQ(5u, FindInMemory("\r\n", block.data(), block.size()));
    EXPECT_EQ(2u, FindInMemory("\r\n", block.data() + 6, 3));  // ends at the last byte
    EXPECT_EQ(1u, FindInMemory("a", block.data(), block.size()));
    EXPECT_EQ(0u, FindInMemory("\r\n", block.data(), 5));
    EXPECT_EQ(0u, FindInMemory("abc", block.data(), 2));
    EXPECT_EQ(0u, FindInMemory("", block.data(), block.size()));
    EXPECT_EQ(0u, FindInMemory("a", nullptr, 0));
    EXPECT_EQ(3u, FindInMemory(std::string_view("\0x", 2), std::string("\0\0\0x", 4).data(), 4));
}

TEST(SplitCommaList, QuotedCommasDoNotSplit) {
    TStringList list;
    list.Add("old");
    SplitCommaList(list, "a, \"b, c\" ,d");
    ASSERT_EQ(3, list.Count());
    EXPECT_EQ("a", list[0]);
    EXPECT_EQ("\"b, c\"", list[1]);
    EXPECT_EQ("d", list[2]);
    SplitCommaList(list, " , ,, ");
    EXPECT_EQ(0, list.Count());
    SplitCommaList(list, "x, \"y, z");  // an unbalanced quote keeps the rest together
    ASSERT_EQ(2, list.Count());
    EXPECT_EQ("\"y, z", list[1]);
}

TEST(TempFiles, NewNamesAreUniqueAndReserved) {
    test::ScratchFolder folder;
    const char* dir = folder.Path().c_str();
    std::set<std::string> names;
    for (int i = 0; i < 20; ++i) {
        const std::string name = NewTempFileName(i % 2 ? std::string(dir) : std::string(dir) + "/");
        EXPECT_EQ(std::string(dir) + "/Tarn", name.substr(0, std::string(dir).size() + 5));
        EXPECT_TRUE(FileExists(name));
        names.insert(name);
    }
    EXPECT_EQ(20u, names.size());
    for (const auto& name : names) DeleteFile(name);
    const std::string name = NewTempFileName("");
    EXPECT_EQ(TempFolderPath(), name.substr(0, TempFolderPath().size()));
    EXPECT_TRUE(DeleteFile(name));
}

TEST(IsMainThread, OnlyTheMainThread) {
    EXPECT_TRUE(IsMainThread());
    // <thread> drags in <chrono>, whose literals do not survive the narrow execution charset.
    bool other = true;
    pthread_t thread;
    ASSERT_EQ(0, pthread_create(
                     &thread, nullptr,
                     [](void* result) -> void* {
                         *static_cast<bool*>(result) = IsMainThread();
                         return nullptr;
                     },
                     &other));
    pthread_join(thread, nullptr);
    EXPECT_FALSE(other);
}

}  // namespace
}  // namespace tarnwick
