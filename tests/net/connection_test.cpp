// Line connection against a scripted loopback server: every transcript runs twice, once with the
// server answering in whole writes and once one byte at a time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "net/MailExceptions.h"
#include "net/MailTCPClient.h"
#include "net/MailTCPStream.h"
#include "support/LoopbackClient.h"
#include "support/Raised.h"

using namespace tarnwick;
using tarnwick::test::ConnectTo;
using tarnwick::test::Raised;
using tarnwick::test::ScriptedServer;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class Transcript : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { server.ByteAtATime(GetParam()); }

    // Starts the script and connects the client to it.
    void Connect() { ConnectTo(server, client, 2000); }
    void Done() {
        client.Disconnect();
        EXPECT_TRUE(server.Finish());
        EXPECT_THAT(server.Mismatches(), IsEmpty());
    }

    ScriptedServer server;
    TMailTCPClient client;
};

std::vector<std::string> Lines(const TStringList& list) {
    std::vector<std::string> lines;
    for (const std::string& line : list) lines.push_back(line);
    return lines;
}


}  // namespace

INSTANTIATE_TEST_SUITE_P(WholeAndByteAtATime, Transcript, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "ByteAtATime" : "Whole"; });

// --- replies

TEST_P(Transcript, MultiLineReplyIsCollectedUpToTheLineWithABlank) {
    server.SendLine("250-a").SendLine("250-b").SendLine("250 c");
    Connect();
    EXPECT_EQ(client.ReadReply({250}), 250);
    EXPECT_EQ(client.LastReply.NumericCode(), 250);
    EXPECT_EQ(client.LastReply.TextCode(), "250");
    EXPECT_THAT(Lines(client.LastReply.Text), ElementsAre("a", "b", "c"));
    Done();
}

TEST_P(Transcript, MultiLineReplyEndsAtABareCodeButNotAtAnotherCode) {
    server.SendLine("250-a").SendLine("251 b").SendLine("250").SendLine("220 next");
    Connect();
    client.ReadReply();
    EXPECT_THAT(Lines(client.LastReply.Text), ElementsAre("a", "b", ""));
    client.ReadReply();
    EXPECT_EQ(client.LastReply.NumericCode(), 220);
    Done();
}

TEST_P(Transcript, BlankLinesBeforeAReplyAreSkippedAndLinesTrimmed) {
    server.Send("\r\n  \r\n\r\n  +OK hello there  \r\n");
    Connect();
    client.ReadReply();
    EXPECT_EQ(client.LastReply.TextCode(), "+OK");
    EXPECT_EQ(client.LastReply.NumericCode(), 0);
    EXPECT_THAT(Lines(client.LastReply.Text), ElementsAre("hello there"));
    Done();
}

TEST_P(Transcript, RefusedReplyCodeRaisesWithTheServerTextAndLeavesTheConnectionOpen) {
    server.SendLine("220 hi").Expect("MAIL FROM:<a@b>").SendLine("550-relaying").SendLine("550 denied");
    server.Expect("RSET").SendLine("250 ok").Expect("RCPT TO:<c@d>").SendLine("251 forwarded");
    Connect();
    client.ReadReply({220});
    auto e = Raised<EMailProtocolReplyError>([&] { client.SendCommand("MAIL FROM:<a@b>", 250); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->ReplyCode, 550);
    EXPECT_EQ(e->Message(), "relaying\r\ndenied\r\n");
    EXPECT_TRUE(client.IsConnected());
    EXPECT_EQ(client.SendCommand("RSET"), 250);  // -1: any code
    EXPECT_EQ(client.SendCommand("RCPT TO:<c@d>", {250, 251}), 251);
    Done();
}

// --- line ends and line contents

TEST_P(Transcript, LineEndsBareLfCrLfAndCrCrLf) {
    server.Send("one\ntwo\r\nthree\r\r\n\r\n");
    Connect();
    EXPECT_EQ(client.ReadLine(), "one");
    EXPECT_EQ(client.ReadLine(), "two");
    EXPECT_EQ(client.ReadLine(), "three\r");  // only one CR is removed
    EXPECT_EQ(client.ReadLine(), "");
    Done();
}

TEST_P(Transcript, ManyLinesAcrossBufferCompactionArriveIntact) {
    std::vector<std::string> sent;
    std::string bytes;
    for (int i = 0; i < 3000; ++i) {
        sent.push_back(std::to_string(i) + std::string(static_cast<size_t>(i * 37 % 150), static_cast<char>('a' + i % 26)));
        bytes += sent.back() + (i % 3 ? "\r\n" : "\n");
    }
    server.Send(bytes);
    Connect();
    for (const std::string& line : sent) ASSERT_EQ(client.ReadLine(), line);
    Done();
}

TEST_P(Transcript, NulBytesAndHighBytesPassThroughUnchanged) {
    server.Send(std::string("a\0b\x82\xA0\xFF\r\n", 8) + std::string(1, '\0') + "\r\n");
    Connect();
    EXPECT_EQ(client.ReadLine(), std::string("a\0b\x82\xA0\xFF", 6));
    EXPECT_EQ(client.ReadLine(), std::string(1, '\0'));
    Done();
}

TEST_P(Transcript, MultiByteTerminatorSplitAcrossPieces) {
    server.Send("abc").Pause(30).Send("<").Pause(30).Send("EOL>rest<EOL>");
    Connect();
    EXPECT_EQ(client.ReadLine("<EOL>"), "abc");
    EXPECT_EQ(client.ReadLine("<EOL>"), "rest");
    Done();
}

// --- the line limit

TEST_P(Transcript, LineOf16384BytesIsReadAnd16385Raises) {
    std::string fits(16384, 'x');
    // The client gives the last line up and hangs up while it may still be arriving.
    server.Send(fits + "\n").Send(std::string(16383, 'y') + "\r\n").Offer(std::string(16385, 'z') + "\r\n");
    Connect();
    EXPECT_EQ(client.ReadLine(), fits);
    // The CR before the LF counts towards the limit.
    EXPECT_EQ(client.ReadLine(), std::string(16383, 'y'));
    EXPECT_THROW(client.ReadLine(), EMailReadLnMaxLineLengthExceeded);
    Done();
}

TEST_P(Transcript, OverlongLineWithoutTerminatorRaisesBeforeTheRestArrives) {
    // The server holds the terminator back until the client hangs up: the limit alone must end
    // the read.
    server.Send(std::string(16385, 'q')).Hold().SendLine("end");
    Connect();
    EXPECT_THROW(client.ReadLine(), EMailReadLnMaxLineLengthExceeded);
    Done();
    EXPECT_EQ(server.HungUp(), 1);  // still held when the client gave up
}

TEST_P(Transcript, LongDataWithoutTerminatorStaysBounded) {
    server.Offer(std::string(400 * 1024, 'm'));
    Connect();
    EXPECT_THROW(client.ReadLine(), EMailReadLnMaxLineLengthExceeded);
    EXPECT_LE(client.InputBuffer().Size(), 16384 + client.RecvBufferSize);
    Done();
}

TEST_P(Transcript, SplitModeReturnsPiecesOfTheLimit) {
    server.Send(std::string(10, 'a') + std::string(5, 'b') + "\r\n");
    Connect();
    client.MaxLineAction = TMailMaxLineAction::maSplit;
    client.MaxLineLength = 10;
    EXPECT_EQ(client.ReadLine(), std::string(10, 'a'));
    EXPECT_TRUE(client.LineWasSplit());
    EXPECT_EQ(client.ReadLine(), "bbbbb");
    EXPECT_FALSE(client.LineWasSplit());
    Done();
}

// --- closes and resets

TEST_P(Transcript, GracefulCloseSequence) {
    server.Send("complete\r\npart").Close();
    Connect();
    EXPECT_EQ(client.ReadLine(), "complete");
    // The close is found while waiting for the rest of the line.
    EXPECT_EQ(client.ReadLine(), "");
    EXPECT_TRUE(client.LineTimedOut());
    EXPECT_FALSE(client.IsConnected());
    // The rest is still buffered, but no line can be completed any more.
    EXPECT_GT(client.InputBuffer().Size(), 0);
    EXPECT_THROW(client.ReadLine(), EMailConnClosedGracefully);
    Done();
}

TEST_P(Transcript, CloseWithNothingBufferedRaisesAtOnce) {
    server.SendLine("+OK").Close();
    int disconnects = 0;
    client.OnDisconnected = [&](TMailComponent&) { ++disconnects; };
    Connect();
    EXPECT_EQ(client.ReadLine(), "+OK");
    EXPECT_THROW(client.ReadLine(), EMailConnClosedGracefully);
    EXPECT_EQ(disconnects, 1);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_THROW(client.WriteLine("QUIT"), EMailConnClosedGracefully);
    Done();
}

TEST_P(Transcript, CloseInTheMiddleOfAMultiLineReply) {
    server.SendLine("250-first").Send("250-sec").Close();
    Connect();
    EXPECT_THROW(client.ReadReply(), EMailConnClosedGracefully);
    Done();
}

TEST_P(Transcript, ResetRaisesTheSocketErrorAndDropsTheSocket) {
    server.Send("par").Pause(100).Reset();
    Connect();
    auto e = Raised<EMailSocketError>([&] { client.ReadLine(); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->ErrorCode, 10054);
    EXPECT_EQ(e->Message(), "Socket Error # 10054\r\nConnection reset by peer.");
    EXPECT_FALSE(client.IsConnected());
    Done();
}

TEST_P(Transcript, WritingToAPeerThatIsGoneIsASocketErrorNotASignal) {
    // The reset waits until "bye" is read: a reset discards what the receiver has not read yet.
    server.SendLine("bye").Hold().Reset();
    Connect();
    EXPECT_EQ(client.ReadLine(), "bye");
    server.Release();
    EXPECT_TRUE(server.Finish());
    std::string block(65536, 'w');
    bool raised = false;
    try {
        for (int i = 0; i < 64; ++i) client.WriteBytes(block.data(), static_cast<int64_t>(block.size()));
    } catch (const EMailSocketError& e) {
        raised = true;
        EXPECT_EQ(e.ErrorCode, 10054);
    } catch (const EMailConnClosedGracefully&) {
        raised = true;
    }
    EXPECT_TRUE(raised);
    EXPECT_FALSE(client.IsConnected());
    client.Disconnect();
}

// --- capturing

TEST_P(Transcript, CaptureLinesUnstuffsDotsAndStopsAtTheLoneDot) {
    server.Send("1 abc\r\n..\r\n...\r\n.x\r\n  spaced  \r\n\r\n.\r\n+OK after\r\n");
    Connect();
    TStringList list;
    list.Add("kept");
    EXPECT_EQ(client.CaptureLines(list), 6);
    EXPECT_THAT(Lines(list), ElementsAre("kept", "1 abc", ".", "..", ".x", "  spaced  ", ""));
    EXPECT_EQ(client.ReadLine(), "+OK after");
    Done();
}

TEST_P(Transcript, CaptureLinesIntoAStreamAndWithoutTarget) {
    server.Send("a\r\n..b\r\n.\r\nx\r\n.\r\n");
    Connect();
    TMemoryStream stream;
    EXPECT_EQ(client.CaptureLines(stream), 2);
    EXPECT_EQ(stream.Data(), "a\r\n.b\r\n");
    EXPECT_EQ(client.CaptureLines(nullptr), 1);
    Done();
}

TEST_P(Transcript, CaptureCutOffByACloseRaisesAndStoresNoHalfLine) {
    server.Send("1 a\r\n2 b").Close();
    Connect();
    TStringList list;
    EXPECT_THROW(client.CaptureLines(list), EMailConnClosedGracefully);
    EXPECT_THAT(Lines(list), ElementsAre("1 a"));
    Done();
}

// --- bytes and streams

TEST_P(Transcript, ReadBytesAndTheConnectionStream) {
    server.Send(std::string("\x01\x02\x03\x04tail\r\nnext line\r\n", 21));
    Connect();
    char four[4];
    client.ReadBytes(four, 4);
    EXPECT_EQ(std::string(four, 4), "\x01\x02\x03\x04");
    TMailTCPStream stream(client);
    EXPECT_EQ(ReadLineFromStream(stream, -1, false), "tail");
    EXPECT_EQ(stream.Seek(0, TSeekOrigin::soCurrent), -1);
    char buf[4];
    EXPECT_EQ(stream.Read(buf, 4), 4);
    EXPECT_EQ(std::string(buf, 4), "next");
    EXPECT_EQ(client.ReadLine(), " line");  // all read: the server is done before the close
    Done();
}

// --- writing

TEST_P(Transcript, WritesGoOutUnchanged) {
    server.Expect("HELO x").Expect("").Expect("line one").Expect("line two").Expect("tail");
    Connect();
    client.WriteLine("HELO x");
    client.WriteLine("");
    TStringList list;
    list.Add("line one");
    list.Add("line two");
    client.WriteLines(list);
    client.WriteText("");
    client.WriteText("tail\r\n");
    Done();
    EXPECT_EQ(server.Received(), "HELO x\r\n\r\nline one\r\nline two\r\ntail\r\n");
}

TEST_P(Transcript, WriteBufferGathersAndIsSentBeforeAnyWaitForTheReply) {
    server.Expect("DATA").SendLine("354 go").ExpectUntil(".").SendLine("250 queued");
    Connect();
    client.WriteLine("DATA");
    EXPECT_EQ(client.ReadReply({354}), 354);
    client.OpenWriteBuffer();
    std::string expected;
    for (int i = 0; i < 2000; ++i) {
        std::string line = "Line " + std::to_string(i) + std::string(static_cast<size_t>(i % 90), '=');
        client.WriteLine(line);
        expected += line + "\r\n";
    }
    // Not yet all sent: the rest waits in the buffer until the reply is awaited.
    EXPECT_GT(client.WriteBufferSize(), 0u);
    EXPECT_EQ(client.SendCommand(".", 250), 250);
    EXPECT_EQ(client.WriteBufferSize(), 0u);
    client.CloseWriteBuffer();
    Done();
    EXPECT_EQ(server.Received(), "DATA\r\n" + expected + ".\r\n");
}

TEST_P(Transcript, DisconnectSendsWhatTheWriteBufferStillHolds) {
    server.Expect("QUIT");
    Connect();
    client.OpenWriteBuffer(0);
    client.WriteLine("QUIT");
    Done();
    EXPECT_FALSE(client.WriteBufferOpen());
}

TEST_P(Transcript, WriteNowDoesNotOvertakeGatheredBytes) {
    server.Expect("first").Expect("second");
    Connect();
    client.OpenWriteBuffer(0);
    client.WriteLine("first");
    client.WriteBytes("second\r\n", 8, true);
    Done();
    EXPECT_EQ(server.Received(), "first\r\nsecond\r\n");
}

TEST_P(Transcript, WriteFromStreamAndInt32) {
    std::string payload(70000, 'p');
    payload += "\r\n";
    server.ExpectUntil("done");
    Connect();
    TMemoryStream source;
    source.WriteString(payload);
    client.WriteInt32(0x01020304, true);
    client.WriteFromStream(source);
    client.WriteLine("done");
    Done();
    EXPECT_EQ(server.Received(), std::string("\x01\x02\x03\x04", 4) + payload + "done\r\n");
}

// --- reading everything, work progress

TEST_P(Transcript, ReadAllUntilThePeerCloses) {
    server.Send("everything\r\nthere is").Close();
    int32_t lastTotal = 0;
    int begins = 0, ends = 0;
    client.OnWorkBegin = [&](TMailComponent&, TWorkMode, int32_t) { ++begins; };
    client.OnWork = [&](TMailComponent&, TWorkMode mode, int32_t total) {
        if (mode == TWorkMode::wmRead) lastTotal = total;
    };
    client.OnWorkEnd = [&](TMailComponent&, TWorkMode) { ++ends; };
    Connect();
    EXPECT_EQ(client.ReadAll(), "everything\r\nthere is");
    EXPECT_EQ(lastTotal, 20);
    EXPECT_EQ(begins, 1);
    EXPECT_EQ(ends, 1);
    Done();
}

// --- without a connection

TEST(ConnectionWithoutPeer, ReadsAndWritesRaiseNotConnected) {
    TMailTCPClient client;
    EXPECT_FALSE(client.IsConnected());
    EXPECT_THROW(client.WriteLine("x"), EMailNotConnected);
    EXPECT_THROW(client.ReadLine(), EMailNotConnected);
    EXPECT_THROW(client.WriteFileContents("/nonexistent/file.eml"), EMailFileNotFound);
    client.Disconnect();  // safe without a transport
}
