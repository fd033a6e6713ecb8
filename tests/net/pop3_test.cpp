// POP3 client transcripts against a scripted loopback server, each run with whole replies and
// with the server answering one byte at a time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "message/MailMessage.h"
#include "net/MailExceptions.h"
#include "net/MailPOP3.h"
#include "support/Raised.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"

using namespace tarnwick;
using tarnwick::test::FilesIn;
using tarnwick::test::ProcessTempDir;
using tarnwick::test::Raised;
using tarnwick::test::ScriptedServer;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const bool tempDirReady = !ProcessTempDir().empty();

std::vector<std::string> Items(const TStringList& list) {
    std::vector<std::string> out;
    for (const std::string& line : list) out.push_back(line);
    return out;
}

std::string Lines(std::initializer_list<std::string> lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

class Pop3 : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        server.ByteAtATime(GetParam());
        client.Username = "bob";
        client.Password = "secret";
    }
    // The greeting and USER/PASS login.
    ScriptedServer& LoginScript() {
        return server.SendLine("+OK ready").Expect("USER bob").SendLine("+OK").Expect("PASS secret").SendLine(
            "+OK logged in");
    }
    void Connect() {
        server.Start();
        client.SetHost("127.0.0.1");
        client.SetPort(server.Port());
        client.Connect();
    }
    // Disconnects and checks that the server saw exactly the expected client lines.
    void Done(const std::string& expected) {
        client.Disconnect();
        EXPECT_TRUE(server.Finish());
        EXPECT_THAT(server.Mismatches(), IsEmpty());
        EXPECT_EQ(server.Received(), expected);
    }
    // A login failure: the exception, then QUIT and the close already happened.
    template <class E>
    std::optional<E> FailedConnect() {
        server.Start();
        client.SetHost("127.0.0.1");
        client.SetPort(server.Port());
        auto e = Raised<E>([&] { client.Connect(); });
        EXPECT_FALSE(client.IsConnected());
        EXPECT_TRUE(server.Finish());
        return e;
    }

    ScriptedServer server;
    TMailPOP3 client;
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(WholeAndByteAtATime, Pop3, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "ByteAtATime" : "Whole"; });

// --- login

TEST_P(Pop3, LoginListRetrieveAndQuit) {
    LoginScript()
        .Expect("UIDL")
        .Send(Lines({"+OK 2 messages", "1 uid-one", "..2 dotted", "."}))
        .Expect("RETR 2")
        .Send(Lines({"+OK 120 octets", "Subject: hello", "From: Ann <ann@example.com>", "", "line one", "..",
                     "..leading dot", "."}))
        .Expect("QUIT");
    Connect();
    EXPECT_EQ(client.LastReply.NumericCode(), 1);
    TStringList list;
    list.Add("kept");
    EXPECT_TRUE(client.ListUniqueIds(list));
    EXPECT_THAT(Items(list), ElementsAre("kept", "1 uid-one", ".2 dotted"));
    TMailMessage message;
    EXPECT_TRUE(client.RetrieveMessage(2, message));
    EXPECT_EQ(message.Subject, "hello");
    EXPECT_EQ(message.From.Address, "ann@example.com");
    EXPECT_THAT(Items(message.Body), ElementsAre("line one", ".", ".leading dot"));
    Done(Lines({"USER bob", "PASS secret", "UIDL", "RETR 2", "QUIT"}));
}

TEST_P(Pop3, StatusWordsIgnoreCaseAndEmptyListsAreFine) {
    server.SendLine("+ok")
        .Expect("USER bob")
        .SendLine("+Ok")
        .Expect("PASS secret")
        .SendLine("+OK")
        .Expect("UIDL")
        .Send(Lines({"+OK", "."}))
        .Expect("UIDL 3")
        .SendLine("+OK 3 abc")
        .Expect("QUIT");
    Connect();
    TStringList list;
    EXPECT_TRUE(client.ListUniqueIds(list));
    EXPECT_TRUE(list.Empty());
    EXPECT_TRUE(client.ListUniqueIds(list, 3));
    EXPECT_THAT(Items(list), ElementsAre("3 abc"));
    Done(Lines({"USER bob", "PASS secret", "UIDL", "UIDL 3", "QUIT"}));
}

TEST_P(Pop3, ApopSendsTheDigestOfTimestampAndPassword) {
    client.APOP = true;
    client.Username = "mrose";
    client.Password = "tanstaaf";
    server.SendLine("+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us> more words")
        .Expect("APOP mrose c4c9334bac560ecc979e58001b3e22fb")
        .SendLine("+OK maildrop has 1 message")
        .Expect("QUIT");
    Connect();
    Done(Lines({"APOP mrose c4c9334bac560ecc979e58001b3e22fb", "QUIT"}));
}

TEST_P(Pop3, ApopWithoutTimestampIsRefused) {
    client.APOP = true;
    for (const char* greeting : {"+OK", "+OK ready <no end"}) {
        ScriptedServer local;
        local.ByteAtATime(GetParam()).SendLine(greeting).Expect("QUIT");
        local.Start();
        client.SetHost("127.0.0.1");
        client.SetPort(local.Port());
        auto e = Raised<EMailException>([&] { client.Connect(); });
        ASSERT_TRUE(e);
        EXPECT_EQ(e->Message(), "Server do not support APOP (no timestamp)");
        EXPECT_TRUE(local.Finish());
        EXPECT_EQ(local.Received(), "QUIT\r\n");
    }
}

TEST_P(Pop3, RefusedGreetingUserOrPassSendsQuitAndCloses) {
    server.SendLine("-ERR go away").Expect("QUIT");
    auto e = FailedConnect<EMailProtocolReplyError>();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->ReplyCode, 2);
    EXPECT_EQ(e->Message(), " go away\r\n");
    EXPECT_EQ(server.Received(), "QUIT\r\n");
}

TEST_P(Pop3, RefusedUser) {
    server.SendLine("+OK").Expect("USER bob").SendLine("-ERR no such user").Expect("QUIT");
    auto e = FailedConnect<EMailProtocolReplyError>();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), " no such user\r\n");
    EXPECT_EQ(server.Received(), Lines({"USER bob", "QUIT"}));
}

TEST_P(Pop3, RefusedPass) {
    server.SendLine("+OK").Expect("USER bob").SendLine("+OK").Expect("PASS secret").SendLine("-ERR bad password").Expect(
        "QUIT");
    auto e = FailedConnect<EMailProtocolReplyError>();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->ReplyCode, 2);
    EXPECT_EQ(server.Received(), Lines({"USER bob", "PASS secret", "QUIT"}));
}

TEST_P(Pop3, UnrecognisedStatusWord) {
    server.SendLine("+OKAY hello").Expect("QUIT");
    auto e = FailedConnect<EMailException>();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "Unrecognized POP3 Response Header:\n\"Y hello\r\n\"");
}

TEST_P(Pop3, CommandTextWithLineBreaksIsNeverSent) {
    for (auto set : {+[](TMailPOP3& c) { c.Username = "bob\r\nDELE 1"; },
                     +[](TMailPOP3& c) { c.Password = std::string("pw\0x", 4); },
                     +[](TMailPOP3& c) { c.Password = "pw\nDELE 1"; }}) {
        TMailPOP3 local;
        set(local);
        local.SetHost("127.0.0.1");
        local.SetPort(server.Port());
        auto e = Raised<EMailException>([&] { local.Connect(); });
        ASSERT_TRUE(e);
        EXPECT_THAT(e->Message(), ::testing::StartsWith("Invalid character (CR, LF or NUL) in "));
        EXPECT_FALSE(local.IsConnected());
    }
    EXPECT_EQ(server.Connections(), 0);
}

// --- transaction

TEST_P(Pop3, RefusedCommandsReturnFalseAndKeepTheConnection) {
    LoginScript()
        .Expect("UIDL")
        .SendLine("-ERR not now")
        .Expect("RETR 9")
        .SendLine("-ERR no such message")
        .Expect("UIDL 9")
        .SendLine("-ERR no such message")
        .Expect("RETR 1")
        .Send(Lines({"+OK", "Subject: s", "."}))
        .Expect("QUIT");
    Connect();
    TStringList list;
    list.Add("kept");
    EXPECT_FALSE(client.ListUniqueIds(list));
    TMailMessage message;
    EXPECT_FALSE(client.RetrieveMessage(9, message));
    EXPECT_TRUE(message.Headers.Empty());
    EXPECT_FALSE(client.ListUniqueIds(list, 9));
    EXPECT_THAT(Items(list), ElementsAre("kept"));
    EXPECT_TRUE(client.RetrieveMessage(1, message));
    EXPECT_EQ(message.Subject, "s");
    EXPECT_TRUE(message.Body.Empty());
    Done(Lines({"USER bob", "PASS secret", "UIDL", "RETR 9", "UIDL 9", "RETR 1", "QUIT"}));
}

TEST_P(Pop3, RetrieveDecodesPartsIntoOwnedFiles) {
    LoginScript()
        .Expect("RETR 1")
        .Send(Lines({"+OK", "Content-Type: multipart/mixed; boundary=X", "", "pre", "--X", "", "text", "--X",
                     "Content-Disposition: attachment; filename=a.bin", "Content-Transfer-Encoding: base64", "",
                     "AAEC", "--X--", "."}))
        .Expect("QUIT");
    Connect();
    TMailMessage message;
    EXPECT_TRUE(client.RetrieveMessage(1, message));
    EXPECT_THAT(Items(message.Body), ElementsAre("pre"));
    ASSERT_EQ(message.MessageParts.Count(), 2);
    EXPECT_EQ(FilesIn(ProcessTempDir()).size(), 1u);
    message.Clear();
    EXPECT_THAT(FilesIn(ProcessTempDir()), IsEmpty());
    Done(Lines({"USER bob", "PASS secret", "RETR 1", "QUIT"}));
}

TEST_P(Pop3, CloseInTheMiddleOfRetrieve) {
    LoginScript()
        .Expect("RETR 1")
        .Send(Lines({"+OK", "Subject: s", "", "begin 644 a.txt", "#86)C"}))
        .Close();
    Connect();
    TMailMessage message;
    EXPECT_THROW(client.RetrieveMessage(1, message), EMailConnClosedGracefully);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_THAT(FilesIn(ProcessTempDir()), IsEmpty());
    EXPECT_NO_THROW(client.Disconnect());
    EXPECT_TRUE(server.Finish());
    EXPECT_EQ(server.Received(), Lines({"USER bob", "PASS secret", "RETR 1"}));
}

TEST_P(Pop3, DisconnectAfterTheServerClosedSendsNothing) {
    LoginScript().Close();
    Connect();
    TStringList list;
    EXPECT_THROW(client.ListUniqueIds(list), EMailConnClosedGracefully);
    EXPECT_NO_THROW(client.Disconnect());
    EXPECT_TRUE(server.Finish());
    EXPECT_EQ(server.Received(), Lines({"USER bob", "PASS secret", "UIDL"}));
}

// --- line limits

TEST_P(Pop3, ContentLinesAreBoundedByTheirOwnLimit) {
    const std::string longLine(100000, 'x');
    LoginScript()
        .Expect("RETR 1")
        .Send(Lines({"+OK", "Subject: long", "", longLine, "."}))
        .Expect("RETR 2")
        .Send(Lines({"+OK", "", longLine + "y", "tail", "."}));
    Connect();
    // The limit counts the bytes before the LF, a CR included.
    client.MaxContentLineLength = 100001;
    TMailMessage message;
    message.NoDecode = true;
    EXPECT_TRUE(client.RetrieveMessage(1, message));
    EXPECT_EQ(message.Body[0], longLine);
    EXPECT_EQ(client.MaxLineLength, 16384);
    // One byte more: the message cannot be read, and the connection is closed, since the rest
    // of the message is still coming.
    message.Clear();
    auto e = Raised<EMailReadLnMaxLineLengthExceeded>([&] { client.RetrieveMessage(2, message); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "Max line length exceeded.");
    EXPECT_FALSE(client.IsConnected());
    EXPECT_EQ(client.MaxLineLength, 16384);
    client.Disconnect();
    EXPECT_TRUE(server.Finish());
    EXPECT_EQ(server.Received(), Lines({"USER bob", "PASS secret", "RETR 1", "RETR 2"}));
}

TEST_P(Pop3, ByDefaultContentLinesHaveTheReplyLimit) {
    LoginScript().Expect("RETR 1").Send(Lines({"+OK", "", std::string(16383, 'a'), std::string(16384, 'b'), "."}));
    Connect();
    TMailMessage message;
    EXPECT_THROW(client.RetrieveMessage(1, message), EMailReadLnMaxLineLengthExceeded);
    EXPECT_EQ(message.Body.Count(), 1);
    EXPECT_FALSE(client.IsConnected());
    client.Disconnect();
    EXPECT_TRUE(server.Finish());
}

TEST(Pop3Digest, IsLowerCaseHexOfMd5) {
    EXPECT_EQ(TMailPOP3::ApopDigest("", ""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(TMailPOP3::GreetingTimestamp("ready <a<b>c> x"), "<a<b>");
    EXPECT_EQ(TMailPOP3::GreetingTimestamp("ready"), "");
}
