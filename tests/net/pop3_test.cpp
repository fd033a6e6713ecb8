// POP3 client transcripts against a scripted loopback server, each run with whole replies and
// with the server answering one byte at a time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "message/MailMessage.h"
#include "net/MailExceptions.h"
#include "net/MailPOP3.h"
#include "support/LoopbackClient.h"
#include "support/Raised.h"
#include "support/TempDir.h"
#include "support/Transcript.h"

using namespace tarnwick;
using namespace tarnwick::test;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const bool tempDirReady = !ProcessTempDir().empty();

class Pop3 : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        server.ByteAtATime(GetParam());
        client.Username = "bob";
        client.Password = "secret";
    }
    ScriptedServer& Login() {
        return Converse(server, {{"", "+OK ready"}, {"USER bob", "+OK"}, {"PASS secret", "+OK logged in"}});
    }
    void Connect() { ConnectTo(server, client); }
    // Disconnects; the server must have seen exactly the expected client lines.
    void Done(const std::string& expected) {
        client.Disconnect();
        EXPECT_TRUE(server.Finish());
        EXPECT_THAT(server.Mismatches(), IsEmpty());
        EXPECT_EQ(server.Received(), expected);
    }
    // A failed login: QUIT is sent and the socket closed before the exception arrives.
    template <class E>
    std::optional<E> FailedLogin(const std::string& expected) {
        auto e = Raised<E>([&] { Connect(); });
        EXPECT_FALSE(client.IsConnected());
        EXPECT_TRUE(server.Finish());
        EXPECT_EQ(server.Received(), expected);
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
    Converse(Login(), {{"UIDL", "+OK 2 messages\r\n1 uid-one\r\n..2 dotted\r\n."},
                       {"RETR 2", "+ok 120 octets\r\nSubject: hello\r\nFrom: Ann <ann@example.com>\r\n\r\nline one\r\n"
                                  "..\r\n..leading dot\r\n."},
                       {"UIDL 3", "+OK 3 abc"}});
    Connect();
    TStringList list;
    list.Add("kept");
    EXPECT_TRUE(client.ListUniqueIds(list));
    EXPECT_THAT(Items(list), ElementsAre("kept", "1 uid-one", ".2 dotted"));
    TMailMessage message;
    EXPECT_TRUE(client.RetrieveMessage(2, message));
    EXPECT_EQ(message.Subject, "hello");
    EXPECT_EQ(message.From.Address, "ann@example.com");
    EXPECT_THAT(Items(message.Body), ElementsAre("line one", ".", ".leading dot"));
    EXPECT_TRUE(client.ListUniqueIds(list, 3));
    EXPECT_THAT(Items(list), ElementsAre("3 abc"));
    Done(CrLf({"USER bob", "PASS secret", "UIDL", "RETR 2", "UIDL 3", "QUIT"}));
}

TEST_P(Pop3, ApopSendsTheDigestOfTimestampAndPassword) {
    client.APOP = true;
    client.Username = "mrose";
    client.Password = "tanstaaf";
    Converse(server, {{"", "+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us> more words"},
                      {"APOP mrose c4c9334bac560ecc979e58001b3e22fb", "+OK maildrop has 1 message"}});
    Connect();
    Done(CrLf({"APOP mrose c4c9334bac560ecc979e58001b3e22fb", "QUIT"}));
}

TEST_P(Pop3, ApopWithoutTimestampIsRefused) {
    client.APOP = true;
    server.SendLine("+OK ready <no end");
    auto e = FailedLogin<EMailException>("QUIT\r\n");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "Server do not support APOP (no timestamp)");
    EXPECT_EQ(TMailPOP3::GreetingTimestamp(""), "");
    EXPECT_EQ(TMailPOP3::GreetingTimestamp("ready <a<b>c> x"), "<a<b>");
}

// Without TLS: CRAM-MD5 where CAPA offers it, else APOP where the greeting has a timestamp, else
// USER/PASS; a refused method falls back once to USER/PASS. The RFC 2195 and RFC 1939 examples.
TEST_P(Pop3, ChallengeResponseIsPreferredWithoutTls) {
    const std::string rfc1939 = "+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>";
    const std::string apop = "APOP mrose c4c9334bac560ecc979e58001b3e22fb";
    const std::string cram = "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw";
    const std::string challenge = "+ PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+";
    const std::string sasl = "+OK\r\nSASL PLAIN CRAM-MD5\r\n.";
    struct Case {
        const char* name;
        std::string user, pass, greeting, capa;
        std::vector<std::pair<std::string, std::string>> login;  // after CAPA
    };
    const Case cases[] = {
        {"CRAM-MD5 before APOP", "tim", "tanstaaftanstaaf", rfc1939, sasl,
         {{"AUTH CRAM-MD5", challenge}, {cram, "+OK"}}},
        {"APOP", "mrose", "tanstaaf", rfc1939, "+OK\r\nUIDL\r\n.", {{apop, "+OK"}}},
        {"CRAM-MD5 refused", "tim", "tanstaaftanstaaf", "+OK ready", sasl,
         {{"AUTH CRAM-MD5", challenge}, {cram, "-ERR no"}, {"USER tim", "+OK"}, {"PASS tanstaaftanstaaf", "+OK"}}},
        {"AUTH CRAM-MD5 refused at once", "tim", "pw", "+OK ready", sasl,
         {{"AUTH CRAM-MD5", "-ERR not now"}, {"USER tim", "+OK"}, {"PASS pw", "+OK"}}},
        {"APOP refused", "mrose", "tanstaaf", rfc1939, "-ERR",
         {{apop, "-ERR no"}, {"USER mrose", "+OK"}, {"PASS tanstaaf", "+OK"}}},
        {"neither", "bob", "secret", "+OK ready", "-ERR", {{"USER bob", "+OK"}, {"PASS secret", "+OK"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer s;
        s.ByteAtATime(GetParam());
        Converse(s, {{"", c.greeting}, {"CAPA", c.capa}});
        std::string expected = "CAPA\r\n";
        for (const auto& [line, reply] : c.login) {
            s.Expect(line).SendLine(reply);
            expected += line + "\r\n";
        }
        TMailPOP3 pop3;
        pop3.PreferChallenge = true;
        pop3.Username = c.user;
        pop3.Password = c.pass;
        ConnectTo(s, pop3);
        pop3.Disconnect();
        EXPECT_TRUE(s.Finish());
        EXPECT_THAT(s.Mismatches(), IsEmpty());
        EXPECT_EQ(s.Received(), expected + "QUIT\r\n");
    }
}

TEST_P(Pop3, RefusedGreeting) {
    server.SendLine("-ERR go away");
    auto e = FailedLogin<EMailProtocolReplyError>("QUIT\r\n");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->ReplyCode, 2);
    EXPECT_EQ(e->Message(), " go away\r\n");
}

TEST_P(Pop3, RefusedUser) {
    Converse(server, {{"", "+OK"}, {"USER bob", "-ERR no such user"}});
    auto e = FailedLogin<EMailProtocolReplyError>(CrLf({"USER bob", "QUIT"}));
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), " no such user\r\n");
}

TEST_P(Pop3, RefusedPass) {
    Converse(server, {{"", "+OK"}, {"USER bob", "+OK"}, {"PASS secret", "-ERR bad password"}});
    auto e = FailedLogin<EMailProtocolReplyError>(CrLf({"USER bob", "PASS secret", "QUIT"}));
    ASSERT_TRUE(e);
    EXPECT_EQ(e->ReplyCode, 2);
}

TEST_P(Pop3, StlsRefusedEndsTheLoginBeforeTheUserName) {
    client.Security = TMailSecurity::msStartTLS;
    Converse(server, {{"", "+OK ready"}, {"STLS", "-ERR not here"}});
    auto e = FailedLogin<EMailTLSError>(CrLf({"STLS", "QUIT"}));
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "The POP3 server refused STLS: not here");
}

TEST_P(Pop3, UnrecognisedStatusWord) {
    server.SendLine("+OKAY hello");
    auto e = FailedLogin<EMailException>("QUIT\r\n");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "Unrecognized POP3 Response Header:\n\"Y hello\r\n\"");
}

TEST_P(Pop3, CommandTextWithLineBreaksIsNeverSent) {
    for (const std::string& bad : {std::string("bob\r\nDELE 1"), std::string("pw\0x", 4), std::string("pw\nx")}) {
        TMailPOP3 local;
        (bad[0] == 'b' ? local.Username : local.Password) = bad;
        local.SetHost("127.0.0.1");
        local.SetPort(server.Port());
        auto e = Raised<EMailException>([&] { local.Connect(); });
        ASSERT_TRUE(e);
        EXPECT_THAT(e->Message(), ::testing::StartsWith("Invalid character (CR, LF or NUL) in "));
    }
    EXPECT_EQ(server.Connections(), 0);
}

// --- transaction

TEST_P(Pop3, RefusedCommandsReturnFalseAndKeepTheConnection) {
    Converse(Login(), {{"UIDL", "-ERR not now"}, {"RETR 9", "-ERR no such message"}, {"UIDL 9", "-ERR no such message"},
                       {"RETR 1", "+OK\r\nSubject: s\r\n."}});
    Connect();
    TStringList list;
    list.Add("kept");
    EXPECT_FALSE(client.ListUniqueIds(list));
    TMailMessage message;
    EXPECT_FALSE(client.RetrieveMessage(9, message));
    EXPECT_TRUE(message.Headers.Empty());
    EXPECT_FALSE(client.ListUniqueIds(list, 9));
    EXPECT_THAT(Items(list), ElementsAre("kept"));
    // A message that ends right after its header lines.
    EXPECT_TRUE(client.RetrieveMessage(1, message));
    EXPECT_EQ(message.Subject, "s");
    Done(CrLf({"USER bob", "PASS secret", "UIDL", "RETR 9", "UIDL 9", "RETR 1", "QUIT"}));
}

TEST_P(Pop3, Utf8IsAskedForOnlyWhenCapaOffersIt) {
    struct Case {
        const char* name;
        std::string capa;       // the server's answer to CAPA
        std::string utf8Reply;  // its answer to UTF8, empty when none is expected
        bool enabled;
        bool pipelining;
    };
    const Case cases[] = {
        {"offered", "+OK\r\nTOP\r\nUTF8 USER\r\nPIPELINING\r\n.", "+OK UTF8 enabled", true, true},
        {"offered but refused", "+OK\r\nutf8\r\n.", "-ERR not now", false, false},
        {"not offered", "+OK\r\nUIDL\r\nUTF8X\r\n.", "", false, false},
        {"no CAPA", "-ERR unknown command", "", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer s;
        s.ByteAtATime(GetParam());
        // Before the login: RFC 6856 makes UTF8 valid only in the AUTHORIZATION state.
        Converse(s, {{"", "+OK ready"}, {"CAPA", c.capa}});
        std::string expected = "CAPA\r\n";
        if (!c.utf8Reply.empty()) {
            Converse(s, {{"UTF8", c.utf8Reply}});
            expected += "UTF8\r\n";
        }
        Converse(s, {{"USER bob", "+OK"}, {"PASS secret", "+OK"}});
        expected += CrLf({"USER bob", "PASS secret"});
        Converse(s, {{"RETR 1", "+OK\r\nSubject: \xe2\x9c\x93\r\n."}});
        s.Start();
        TMailPOP3 pop3;
        pop3.AskUtf8 = true;
        pop3.Username = "bob";
        pop3.Password = "secret";
        pop3.SetHost("127.0.0.1");
        pop3.SetPort(s.Port());
        pop3.Connect();
        EXPECT_EQ(pop3.EnableUtf8(), c.enabled);
        // Both questions share the one CAPA; a second call asks nothing more.
        EXPECT_EQ(pop3.Pipelining(), c.pipelining);
        EXPECT_EQ(pop3.EnableUtf8(), c.enabled);
        TMailMessage message;
        EXPECT_TRUE(pop3.RetrieveMessage(1, message));
        pop3.Disconnect();
        EXPECT_TRUE(s.Finish());
        EXPECT_THAT(s.Mismatches(), IsEmpty());
        EXPECT_EQ(s.Received(), expected + CrLf({"RETR 1", "QUIT"}));
    }
}

TEST_P(Pop3, RetrieveDecodesPartsIntoOwnedFiles) {
    Converse(Login(), {{"RETR 1", "+OK\r\nContent-Type: multipart/mixed; boundary=X\r\n\r\npre\r\n--X\r\n\r\ntext\r\n"
                                  "--X\r\nContent-Disposition: attachment; filename=a.bin\r\n"
                                  "Content-Transfer-Encoding: base64\r\n\r\nAAEC\r\n--X--\r\n."}});
    Connect();
    TMailMessage message;
    EXPECT_TRUE(client.RetrieveMessage(1, message));
    EXPECT_THAT(Items(message.Body), ElementsAre("pre"));
    ASSERT_EQ(message.MessageParts.Count(), 2);
    EXPECT_EQ(FilesIn(ProcessTempDir()).size(), 1u);
    message.Clear();
    EXPECT_THAT(FilesIn(ProcessTempDir()), IsEmpty());
    Done(CrLf({"USER bob", "PASS secret", "RETR 1", "QUIT"}));
}

TEST_P(Pop3, CloseInTheMiddleOfRetrieveLeavesNoFile) {
    Converse(Login(), {{"RETR 1", "+OK\r\nSubject: s\r\n\r\nbegin 644 a.txt\r\n#86)C"}}).Close();
    Connect();
    TMailMessage message;
    EXPECT_THROW(client.RetrieveMessage(1, message), EMailConnClosedGracefully);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_THAT(FilesIn(ProcessTempDir()), IsEmpty());
    Done(CrLf({"USER bob", "PASS secret", "RETR 1"}));
}

TEST_P(Pop3, DisconnectAfterTheServerClosedSendsNothing) {
    Login().Close();
    Connect();
    TStringList list;
    EXPECT_THROW(client.ListUniqueIds(list), EMailConnClosedGracefully);
    Done(CrLf({"USER bob", "PASS secret", "UIDL"}));
}

// --- line limits

TEST_P(Pop3, ContentLinesHaveTheirOwnLimitAndAnOverlongOneClosesTheConnection) {
    const std::string longLine(100000, 'x');
    Converse(Login(), {{"RETR 1", "+OK\r\n\r\n" + longLine + "\r\n."}});
    // The client gives message 2 up and hangs up while it may still be arriving.
    server.Expect("RETR 2").Offer("+OK\r\n\r\n" + longLine + "y\r\ntail\r\n.\r\n");
    Connect();
    // The limit counts the bytes before the LF, a CR included.
    client.MaxContentLineLength = 100001;
    TMailMessage message;
    message.NoDecode = true;
    EXPECT_TRUE(client.RetrieveMessage(1, message));
    EXPECT_EQ(message.Body[0], longLine);
    EXPECT_EQ(client.MaxLineLength, 16384);
    auto e = Raised<EMailReadLnMaxLineLengthExceeded>([&] { client.RetrieveMessage(2, message); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "Max line length exceeded.");
    EXPECT_FALSE(client.IsConnected());
    EXPECT_EQ(client.MaxLineLength, 16384);
    Done(CrLf({"USER bob", "PASS secret", "RETR 1", "RETR 2"}));
}

TEST_P(Pop3, ByDefaultContentLinesHaveTheReplyLimit) {
    Login().Expect("RETR 1").Offer("+OK\r\n\r\n" + std::string(16383, 'a') + "\r\n" + std::string(16384, 'b') + "\r\n.\r\n");
    Connect();
    TMailMessage message;
    EXPECT_THROW(client.RetrieveMessage(1, message), EMailReadLnMaxLineLengthExceeded);
    EXPECT_EQ(message.Body.Count(), 1);
    EXPECT_FALSE(client.IsConnected());
    Done(CrLf({"USER bob", "PASS secret", "RETR 1"}));
}

TEST_P(Pop3, AnOverlongStatusLineToRetrClosesTheConnection) {
    Login().Expect("RETR 1").Offer("+OK " + std::string(20000, 'x') + "\r\nSubject: s\r\n.\r\n");
    Connect();
    TMailMessage message;
    EXPECT_THROW(client.RetrieveMessage(1, message), EMailReadLnMaxLineLengthExceeded);
    EXPECT_FALSE(client.IsConnected());
    Done(CrLf({"USER bob", "PASS secret", "RETR 1"}));
}

// --- header blocks ("TOP n 0")

namespace {
const std::string kHeaderOne = "+OK\r\nSubject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\r\nX-Spam-Flag: YES\r\n\r\n.";
const std::string kHeaderThree = "+OK\r\nSubject: three\r\n\r\n.";

// What RetrieveHeaders handed over: "index found subject" per answer.
std::vector<std::string> Collect(TMailPOP3& client, const std::vector<int>& numbers) {
    std::vector<std::string> seen;
    client.RetrieveHeaders(numbers, [&](size_t index, bool found, TMailMessage& header) {
        EXPECT_TRUE(header.Body.Empty());
        seen.push_back(std::to_string(index) + (found ? " + " : " - ") + header.Subject);
    });
    return seen;
}
}  // namespace

TEST_P(Pop3, TopReadsOnlyTheHeaderAndARefusalKeepsTheConnection) {
    Converse(Login(), {{"TOP 1 0", kHeaderOne}, {"TOP 9 0", "-ERR no such message"}});
    Connect();
    TMailMessage message;
    EXPECT_TRUE(client.RetrieveHeader(1, message));
    EXPECT_EQ(message.Subject, "テスト");
    EXPECT_EQ(message.Headers.GetHeaderValue("x-spam-flag"), "YES");
    EXPECT_TRUE(message.Body.Empty());
    message.Clear();
    EXPECT_FALSE(client.RetrieveHeader(9, message));
    EXPECT_TRUE(message.Headers.Empty());
    Done(CrLf({"USER bob", "PASS secret", "TOP 1 0", "TOP 9 0", "QUIT"}));
}

TEST_P(Pop3, HeadersOneAtATimeWhenTheServerDoesNotPipeline) {
    Converse(Login(), {{"CAPA", "+OK\r\nUIDL\r\n."}, {"TOP 1 0", kHeaderOne}, {"TOP 2 0", "-ERR gone"},
                       {"TOP 3 0", kHeaderThree}});
    Connect();
    EXPECT_THAT(Collect(client, {1, 2, 3}), ElementsAre("0 + テスト", "1 - ", "2 + three"));
    Done(CrLf({"USER bob", "PASS secret", "CAPA", "TOP 1 0", "TOP 2 0", "TOP 3 0", "QUIT"}));
}

TEST_P(Pop3, HeadersAreAskedForInOneBatchWhenTheServerPipelines) {
    // Every TOP arrives before the first answer leaves.
    Converse(Login(), {{"CAPA", "+OK\r\nPIPELINING\r\n."}, {"TOP 1 0", ""}, {"TOP 2 0", ""},
                       {"TOP 3 0", kHeaderOne + "\r\n-ERR gone\r\n" + kHeaderThree}});
    Connect();
    EXPECT_THAT(Collect(client, {1, 2, 3}), ElementsAre("0 + テスト", "1 - ", "2 + three"));
    Done(CrLf({"USER bob", "PASS secret", "CAPA", "TOP 1 0", "TOP 2 0", "TOP 3 0", "QUIT"}));
}

TEST_P(Pop3, AFailureWithAnswersStillDueClosesTheConnection) {
    Converse(Login(), {{"CAPA", "+OK\r\nPIPELINING\r\n."}, {"TOP 1 0", ""}, {"TOP 2 0", ""}});
    server.Offer(kHeaderOne + "\r\n" + kHeaderThree + "\r\n");
    Connect();
    EXPECT_THROW(client.RetrieveHeaders({1, 2}, [](size_t, bool, TMailMessage&) { throw EMailException("stop"); }),
                 EMailException);
    EXPECT_FALSE(client.IsConnected());
    Done(CrLf({"USER bob", "PASS secret", "CAPA", "TOP 1 0", "TOP 2 0"}));
}
