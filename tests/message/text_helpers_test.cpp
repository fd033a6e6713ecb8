#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <set>
#include <string>

#include "message/MailGlobal.h"
#include "platform/Streams.h"
#include "platform/StringList.h"

namespace tarnwick {
namespace {

TEST(CutToken, CutsAtTheDelimiter) {
    std::string text = "abc def";
    EXPECT_EQ("abc", CutToken(text));
    EXPECT_EQ("def", text);
    EXPECT_EQ("def", CutToken(text));
    EXPECT_EQ("", text);
}

TEST(CutToken, KeepsInputWithoutDelete) {
    std::string text = "abc def";
    EXPECT_EQ("abc", CutToken(text, " ", false));
    EXPECT_EQ("abc def", text);
}

TEST(CutToken, LongDelimiterAndMissingDelimiter) {
    std::string text = "a<->b<->c";
    EXPECT_EQ("a", CutToken(text, "<->"));
    EXPECT_EQ("b<->c", text);
    text = "abc";
    EXPECT_EQ("abc", CutToken(text, ";", false));
    EXPECT_EQ("abc", text);
    EXPECT_EQ("abc", CutToken(text, ""));
    EXPECT_EQ("", text);
}

TEST(CutToken, CaseSensitiveByDefault) {
    std::string text = "text/plain; CHARSET=x";
    EXPECT_EQ("text/plain; CHARSET=x", CutToken(text, "charset=", false));
    EXPECT_EQ("text/plain; ", CutToken(text, "charset=", true, false));
    EXPECT_EQ("x", text);
    text = "text/plain; CHARSET=x";
    EXPECT_EQ("text/plain; ", CutTokenAnyCase(text, "charset="));
    EXPECT_EQ("x", text);
}

TEST(CutToken, NulDelimiterSearchesBytes) {
    std::string text("user\0pass", 9);
    EXPECT_EQ("user", CutToken(text, std::string_view("\0", 1)));
    EXPECT_EQ("pass", text);
}

TEST(CutToken, NeverCutsInsideADoubleByteCharacter) {
    // The trail byte of "表" is 0x5C, a backslash.
    std::string text = "表\\x";
    ASSERT_EQ(4u, text.size());
    EXPECT_EQ("表", CutToken(text, "\\"));
    EXPECT_EQ("x", text);
}

TEST(TextPos, CharacterAwareSearch) {
    EXPECT_EQ(1u, TextPos("a", "abc"));
    EXPECT_EQ(3u, TextPos("c", "abc"));
    EXPECT_EQ(0u, TextPos("d", "abc"));
    EXPECT_EQ(0u, TextPos("", "abc"));
    EXPECT_EQ(0u, TextPos("abcd", "abc"));
    // "ソ" is 0x83 0x5C: its trail byte is no backslash of its own.
    const std::string so = "ソ";
    EXPECT_EQ(0u, TextPos("\\", so));
    EXPECT_EQ(3u, TextPos("\\", so + "\\"));
    // "@" as trail byte (0x81 0x40 is the ideographic space) is skipped too.
    EXPECT_EQ(4u, TextPos("@", "\x81\x40" "a@"));
    // A lead byte as the last byte is an ordinary byte.
    EXPECT_EQ(2u, TextPos("\x82", "a\x82"));
}

TEST(FindInMemory, FindsNeedleAnywhereInTheBlock) {
    const char block[] = {'a', 'b', '\r', '\n', 'c', '\r', '\n'};
    EXPECT_EQ(3u, FindInMemory("\r\n", block, sizeof block));
    EXPECT_EQ(3u, FindInMemory("\r\n", block + 3, 4));  // ends at the last byte of the block
    EXPECT_EQ(1u, FindInMemory("a", block, sizeof block));
    EXPECT_EQ(0u, FindInMemory("\r\n", block, 3));
    EXPECT_EQ(0u, FindInMemory("abc", block, 2));
    EXPECT_EQ(0u, FindInMemory("", block, sizeof block));
    EXPECT_EQ(0u, FindInMemory("a", nullptr, 0));
}

TEST(FindInMemory, FirstByteRepeatsBeforeTheMatch) {
    const std::string block = "\r\r\r\r\n";
    EXPECT_EQ(4u, FindInMemory("\r\n", block.data(), block.size()));
    const std::string zeros("\0\0\0x", 4);
    EXPECT_EQ(3u, FindInMemory(std::string_view("\0x", 2), zeros.data(), zeros.size()));
}

TEST(SplitCommaList, QuotedCommasDoNotSplit) {
    TStringList list;
    list.Add("old");
    SplitCommaList(list, "a, \"b, c\" ,d");
    ASSERT_EQ(3, list.Count());
    EXPECT_EQ("a", list[0]);
    EXPECT_EQ("\"b, c\"", list[1]);
    EXPECT_EQ("d", list[2]);
}

TEST(SplitCommaList, EmptyItemsAreDropped) {
    TStringList list;
    SplitCommaList(list, " , ,, ");
    EXPECT_EQ(0, list.Count());
    SplitCommaList(list, "");
    EXPECT_EQ(0, list.Count());
    // An unbalanced quote keeps the rest together.
    SplitCommaList(list, "x, \"y, z");
    ASSERT_EQ(2, list.Count());
    EXPECT_EQ("\"y, z", list[1]);
}

TEST(TempFiles, NewNamesAreUniqueAndReserved) {
    char dir[] = "/tmp/tarnwick-test-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    std::set<std::string> names;
    for (int i = 0; i < 20; ++i) {
        const std::string name = NewTempFileName(dir);
        EXPECT_EQ(std::string(dir) + "/Tarn", name.substr(0, std::string(dir).size() + 5));
        EXPECT_TRUE(FileExists(name));
        names.insert(name);
    }
    EXPECT_EQ(20u, names.size());
    for (const auto& name : names) DeleteFile(name);
    // A folder already ending in a delimiter gets no second one.
    const std::string name = NewTempFileName(std::string(dir) + "/");
    EXPECT_EQ(std::string::npos, name.find("//"));
    DeleteFile(name);
    rmdir(dir);
}

TEST(TempFiles, EmptyFolderMeansTheTemporaryFolder) {
    const std::string folder = TempFolderPath();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ('/', folder.back());
    const std::string name = NewTempFileName("");
    EXPECT_EQ(folder, name.substr(0, folder.size()));
    EXPECT_TRUE(DeleteFile(name));
}

TEST(TempFiles, MissingFolderIsAnError) {
    EXPECT_THROW(NewTempFileName("/nonexistent-tarnwick-folder"), EStreamError);
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
