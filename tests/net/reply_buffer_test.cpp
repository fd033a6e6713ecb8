// Reply records, the input buffer, the stream line reader and the work events.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/MailBuffer.h"
#include "net/MailExceptions.h"
#include "net/MailReply.h"
#include "net/MailTCPConnection.h"
#include "net/MailTCPStream.h"
#include "support/Raised.h"

using namespace tarnwick;
using tarnwick::test::Raised;
using ::testing::ElementsAre;

namespace {

TStringList ListOf(std::initializer_list<const char*> lines) {
    TStringList list;
    for (const char* line : lines) list.Add(line);
    return list;
}

std::vector<std::string> Lines(const TStringList& list) {
    std::vector<std::string> lines;
    for (const std::string& line : list) lines.push_back(line);
    return lines;
}

}  // namespace

TEST(Reply, NumberedMultiLine) {
    TMailRFCReply reply;
    reply.ParseReply(ListOf({"250-first", "250 last"}));
    EXPECT_EQ(reply.TextCode(), "250");
    EXPECT_EQ(reply.NumericCode(), 250);
    EXPECT_THAT(Lines(reply.Text), ElementsAre("first", "last"));
}

TEST(Reply, StatusWordsKeepTheirTextAfterFourCharacters) {
    TMailRFCReply reply;
    reply.ParseReply(ListOf({"+OK ready"}));
    EXPECT_EQ(reply.TextCode(), "+OK");
    EXPECT_EQ(reply.NumericCode(), 0);
    EXPECT_THAT(Lines(reply.Text), ElementsAre("ready"));
    reply.ParseReply(ListOf({"-ERR no such message"}));
    EXPECT_EQ(reply.TextCode(), "-ERR");
    EXPECT_THAT(Lines(reply.Text), ElementsAre(" no such message"));
    reply.ParseReply(ListOf({"+OK"}));
    EXPECT_EQ(reply.TextCode(), "+OK");
    EXPECT_THAT(Lines(reply.Text), ElementsAre(""));
    reply.ParseReply(TStringList());
    EXPECT_EQ(reply.TextCode(), "");
    EXPECT_EQ(reply.Text.Count(), 0);
}

TEST(Reply, CodeSettersFollowEachOther) {
    TMailRFCReply reply;
    reply.SetNumericCode(1);
    EXPECT_EQ(reply.TextCode(), "1");
    reply.SetTextCode("354");
    EXPECT_EQ(reply.NumericCode(), 354);
    reply.SetTextCode("abc");
    EXPECT_EQ(reply.NumericCode(), 0);
    reply.SetNumericCode(0);
    EXPECT_EQ(reply.TextCode(), "abc");
    reply.Clear();
    EXPECT_EQ(reply.TextCode(), "");
    EXPECT_EQ(reply.NumericCode(), 0);
}

TEST(Reply, ErrorCarriesCodeAndTextLines) {
    TMailTCPConnection connection;
    connection.LastReply.ParseReply(ListOf({"550-no", "550 relay"}));
    auto e = Raised<EMailProtocolReplyError>([&] { connection.CheckReplyCode(550, {250, 251}); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->ReplyCode, 550);
    EXPECT_EQ(e->Message(), "no\r\nrelay\r\n");
    EXPECT_EQ(connection.CheckReplyCode(251, {250, 251}), 251);
    EXPECT_EQ(connection.CheckReplyCode(999, {}), 999);
    EXPECT_THROW(connection.RaiseReplyErrorAs<EMailConnectException>(), EMailConnectException);
}

TEST(ManagedBuffer, ConsumesLazilyAndCompacts) {
    TMailManagedBuffer buffer;
    int64_t removed = 0;
    buffer.OnBytesRemoved = [&](TMailSimpleBuffer&, int64_t n) { removed += n; };
    buffer.Append(std::string(40000, 'a') + "tail");
    EXPECT_EQ(buffer.Extract(3), "aaa");
    EXPECT_EQ(buffer.Size(), 40001);
    buffer.Remove(39997);  // crosses the compaction threshold
    EXPECT_EQ(buffer.View(), "tail");
    EXPECT_EQ(removed, 40000);
    EXPECT_THROW(buffer.Remove(5), EMailNotEnoughDataInBuffer);
    auto tooFew = Raised<EMailNotEnoughDataInBuffer>([&] { buffer.Extract(5); });
    ASSERT_TRUE(tooFew);
    EXPECT_EQ(tooFew->Message(), "Not enough data in buffer.");
    buffer.Remove(4);
    EXPECT_EQ(buffer.Size(), 0);
    buffer.Append("x", 1);
    EXPECT_EQ(buffer.View(), "x");
}

TEST(StreamLines, LineEndsOnAMemoryStream) {
    TMemoryStream stream;
    stream.WriteString("one\r\ntwo\nthree\rfour\r\n\r\nlast");
    stream.SetPosition(0);
    EXPECT_EQ(ReadLineFromStream(stream), "one");
    EXPECT_EQ(ReadLineFromStream(stream), "two");
    EXPECT_EQ(ReadLineFromStream(stream), "three");
    EXPECT_EQ(ReadLineFromStream(stream), "four");
    EXPECT_EQ(ReadLineFromStream(stream), "");
    EXPECT_EQ(ReadLineFromStream(stream), "last");
    EXPECT_EQ(ReadLineFromStream(stream, -1, false), "");
    auto e = Raised<EMailEndOfStream>([&] { ReadLineFromStream(stream); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "End of stream: TMemoryStream at 27");
}

TEST(StreamLines, CrLfAcrossTwoChunksIsOneLineEnd) {
    TMemoryStream stream;
    stream.WriteString(std::string(2047, 'x') + "\r\nnext\r\n" + std::string(2047, 'y') + "\rlast\r");
    stream.SetPosition(0);
    EXPECT_EQ(ReadLineFromStream(stream), std::string(2047, 'x'));
    EXPECT_EQ(ReadLineFromStream(stream), "next");
    // A lone CR at a chunk's end is a line end too, and so is one at the stream's end.
    EXPECT_EQ(ReadLineFromStream(stream), std::string(2047, 'y'));
    EXPECT_EQ(ReadLineFromStream(stream), "last");
    EXPECT_EQ(ReadLineFromStream(stream, -1, false), "");
}

TEST(StreamLines, LongLinesAcrossChunksAndTheLimit) {
    TMemoryStream stream;
    stream.WriteString(std::string(5000, 'l') + "\n" + "abcdefgh\n");
    stream.SetPosition(0);
    EXPECT_EQ(ReadLineFromStream(stream), std::string(5000, 'l'));
    EXPECT_EQ(ReadLineFromStream(stream, 3), "abc");
    EXPECT_EQ(stream.Position(), 5004);
    EXPECT_EQ(ReadLineFromStream(stream, 3), "def");
    EXPECT_EQ(ReadLineFromStream(stream, 3), "gh");
}

TEST(WorkEvents, NestedSectionsFireOnceAndTotalsRun) {
    TMailTCPConnection connection;
    std::vector<std::string> events;
    connection.OnWorkBegin = [&](TMailComponent&, TWorkMode, int32_t max) {
        events.push_back("begin " + std::to_string(max));
    };
    connection.OnWork = [&](TMailComponent&, TWorkMode, int32_t total) { events.push_back(std::to_string(total)); };
    connection.OnWorkEnd = [&](TMailComponent&, TWorkMode) { events.push_back("end"); };
    connection.AddWork(TWorkMode::wmWrite, 5);  // outside a section: nothing
    connection.StartWork(TWorkMode::wmWrite, 100);
    connection.StartWork(TWorkMode::wmWrite, 7);
    connection.AddWork(TWorkMode::wmWrite, 5);
    connection.AddWork(TWorkMode::wmWrite, 10);
    connection.FinishWork(TWorkMode::wmWrite);
    connection.FinishWork(TWorkMode::wmWrite);
    connection.FinishWork(TWorkMode::wmWrite);  // unbalanced: ignored
    EXPECT_THAT(events, ElementsAre("begin 100", "5", "15", "end"));
}

