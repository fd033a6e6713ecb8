// IMAP client transcripts against a scripted loopback server, each run with whole responses and
// with the server answering one byte at a time; and the response reader on its own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "message/MailMessage.h"
#include "net/ImapResponse.h"
#include "net/MailAbort.h"
#include "net/MailExceptions.h"
#include "net/MailIMAP.h"
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

const std::string kGreeting = "* OK [CAPABILITY IMAP4rev1 IDLE] ready";

class Imap : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        server.ByteAtATime(GetParam());
        client.Username = "bob";
        client.Password = "secret";
    }
    // Greeting and LOGIN (A0001); the OK tells the capabilities.
    ScriptedServer& Login() {
        return Converse(server, {{"", kGreeting},
                                 {"A0001 LOGIN \"bob\" \"secret\"", "A0001 OK [CAPABILITY IMAP4rev1 IDLE] in"}});
    }
    void Connect() { ConnectTo(server, client); }
    // Disconnects; the server must have seen exactly the expected client lines.
    void Done(const std::string& expected) {
        client.Disconnect();
        EXPECT_TRUE(server.Finish());
        EXPECT_THAT(server.Mismatches(), IsEmpty());
        EXPECT_EQ(server.Received(), expected);
    }

    ScriptedServer server;
    TMailIMAP client;
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(WholeAndByteAtATime, Imap, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "ByteAtATime" : "Whole"; });

// --- login

TEST_P(Imap, LoginSendsNamesQuotedOrAsLiterals) {
    struct Case {
        const char* name;
        std::string password;
        std::string capabilities;
        std::vector<std::pair<std::string, std::string>> steps;  // after the greeting
    };
    const Case cases[] = {
        {"plain", "secret", "IMAP4rev1", {{"A0001 LOGIN \"bob\" \"secret\"", "A0001 OK in"}}},
        {"a quote: literal, after the go-ahead",
         "se\"cret",
         "IMAP4rev1",
         {{"A0001 LOGIN \"bob\" {7}", "+ go ahead"}, {"se\"cret", "A0001 OK in"}}},
        {"LITERAL+: without waiting",
         "back\\slash",
         "IMAP4rev1 LITERAL+",
         {{"A0001 LOGIN \"bob\" {10+}", ""}, {"back\\slash", "A0001 OK in"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer s;
        s.ByteAtATime(GetParam());
        s.SendLine("* OK [CAPABILITY " + c.capabilities + "] ready");
        for (const auto& [line, reply] : c.steps) Converse(s, {{line, reply}});
        // No capabilities in the OK: they are asked for again after the login.
        Converse(s, {{"A0002 CAPABILITY", "* CAPABILITY IMAP4rev1 IDLE\r\nA0002 OK"}, {"A0003 LOGOUT", ""}});
        TMailIMAP local;
        local.Username = "bob";
        local.Password = c.password;
        ConnectTo(s, local);
        EXPECT_TRUE(local.HasCapability("idle"));
        local.Disconnect();
        EXPECT_TRUE(s.Finish());
        EXPECT_THAT(s.Mismatches(), IsEmpty());
    }
}

TEST_P(Imap, RefusedLoginIsAPermanentRefusalWithTheServersText) {
    Converse(server, {{"", kGreeting},
                      {"A0001 LOGIN \"bob\" \"secret\"", "A0001 NO [AUTHENTICATIONFAILED] Authentication failed."}});
    auto e = Raised<EMailProtocolReplyError>([&] { Connect(); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "Authentication failed.");
    EXPECT_EQ(e->Kind(), TMailErrorKind::PermanentRefusal);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_TRUE(server.Finish());
    EXPECT_EQ(server.Received(), CrLf({"A0001 LOGIN \"bob\" \"secret\"", "A0002 LOGOUT"}));
}

TEST_P(Imap, AuthenticateWithTheTokenOnTheLineOnlyWhereSaslIrIsOffered) {
    const std::string response = "dXNlcj1ib2IBYXV0aD1CZWFyZXIgdG9rAQE=";
    struct Case {
        const char* name;
        std::string capabilities;
        std::vector<std::pair<std::string, std::string>> steps;
        std::string errorStatus;  // empty: logged in
    };
    const Case cases[] = {
        {"SASL-IR", "IMAP4rev1 SASL-IR AUTH=XOAUTH2",
         {{"A0001 AUTHENTICATE XOAUTH2 " + response, "A0001 OK [CAPABILITY IMAP4rev1 IDLE] in"}}, ""},
        {"two steps, refused with an error challenge", "IMAP4rev1 AUTH=XOAUTH2",
         {{"A0001 AUTHENTICATE XOAUTH2", "+ "},
          {response, "+ eyJzdGF0dXMiOiI0MDEifQ=="},
          {"", "A0001 NO [AUTHENTICATIONFAILED] invalid token"}},
         "401"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer s;
        s.ByteAtATime(GetParam());
        s.SendLine("* OK [CAPABILITY " + c.capabilities + "] ready");
        for (const auto& [line, reply] : c.steps) s.Expect(line).SendLine(reply);
        TMailIMAP local;
        local.Username = "bob";
        local.OAuth.Mechanism = TOAuthMechanism::omAuto;
        local.OAuth.AccessToken = "tok";
        if (c.errorStatus.empty()) {
            ConnectTo(s, local);
            local.Disconnect();
        } else {
            auto e = Raised<EMailOAuthRefused>([&] { ConnectTo(s, local); });
            ASSERT_TRUE(e);
            EXPECT_EQ(e->Status, c.errorStatus);
            EXPECT_EQ(e->Kind(), TMailErrorKind::PermanentRefusal);
        }
        EXPECT_TRUE(s.Finish());
        EXPECT_THAT(s.Mismatches(), IsEmpty());
    }
}

TEST_P(Imap, StartTlsRefusedEndsTheLoginBeforeTheUserName) {
    client.Security = TMailSecurity::msStartTLS;
    Converse(server, {{"", kGreeting}, {"A0001 STARTTLS", "A0001 BAD not here"}});
    auto e = Raised<EMailTLSError>([&] { Connect(); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "The IMAP server refused STARTTLS: not here");
    EXPECT_TRUE(server.Finish());
    EXPECT_EQ(server.Received(), CrLf({"A0001 STARTTLS", "A0002 LOGOUT"}));
}

TEST_P(Imap, CommandTextWithLineBreaksIsNeverSent) {
    for (const std::string& bad : {std::string("bob\r\nA1 DELETE INBOX"), std::string("pw\0x", 4)}) {
        TMailIMAP local;
        (bad[0] == 'b' ? local.Username : local.Password) = bad;
        local.SetHost("127.0.0.1");
        local.SetPort(server.Port());
        auto e = Raised<EMailException>([&] { local.Connect(); });
        ASSERT_TRUE(e);
        EXPECT_THAT(e->Message(), ::testing::StartsWith("Invalid character (CR, LF or NUL) in "));
    }
    EXPECT_EQ(server.Connections(), 0);
}

// --- folder and messages

TEST_P(Imap, ExamineSearchAndSizes) {
    Converse(Login(), {{"A0002 EXAMINE \"INBOX\"",
                        "* FLAGS (\\Answered \\Seen)\r\n* 3 EXISTS\r\n* OK [UIDVALIDITY 3857529045] UIDs valid\r\n"
                        "* OK [UIDNEXT 12] next\r\nA0002 OK [READ-ONLY] EXAMINE completed"},
                       {"A0003 UID SEARCH ALL", "* SEARCH 11 4 7\r\nA0003 OK"},
                       {"A0004 UID FETCH 4,7,11 (UID RFC822.SIZE)",
                        "* 2 FETCH (UID 7 RFC822.SIZE 300)\r\n* 1 FETCH (RFC822.SIZE 120 UID 4)\r\n"
                        "A0004 NO [EXPUNGEISSUED] some are gone"},
                       {"A0005 EXAMINE \"~peter/mail/&U,BTFw-/&ZeVnLIqe-&-\"", "A0005 NO no such folder"}});
    Connect();
    const TMailIMAP::TFolderStatus status = client.Examine("INBOX");
    EXPECT_EQ(status.UidValidity, 3857529045u);
    EXPECT_EQ(status.UidNext, 12u);
    EXPECT_EQ(status.Exists, 3u);
    EXPECT_THAT(client.SearchAll(), ElementsAre(4, 7, 11));
    EXPECT_THAT(client.FetchSizes({4, 7, 11}), ElementsAre(std::pair<const uint32_t, int64_t>(4, 120),
                                                           std::pair<const uint32_t, int64_t>(7, 300)));
    auto e = Raised<EMailProtocolReplyError>([&] { client.Examine("~peter/mail/台北/日本語&"); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "no such folder");
    EXPECT_EQ(e->Kind(), TMailErrorKind::PermanentRefusal);
    Done(CrLf({"A0001 LOGIN \"bob\" \"secret\"", "A0002 EXAMINE \"INBOX\"", "A0003 UID SEARCH ALL",
               "A0004 UID FETCH 4,7,11 (UID RFC822.SIZE)", "A0005 EXAMINE \"~peter/mail/&U,BTFw-/&ZeVnLIqe-&-\"",
               "A0006 LOGOUT"}));
}

TEST_P(Imap, HeadersComeInTheOrderAskedForWhateverTheServersOrder) {
    Converse(Login(), {{"A0002 UID FETCH 5:6,9 (UID RFC822.SIZE BODY.PEEK[HEADER])", ""}});
    // The literal arrives in two pieces, the second after a pause.
    server.Send("* 2 FETCH (UID 6 RFC822.SIZE 80 BODY[HEADER] {36}\r\nSubject: six\r\n")
        .Pause(50)
        .Send("From: a@example.jp\r\n\r\n)\r\n* 1 FETCH (UID 5 BODY[HEADER] \"Subject: five\" RFC822.SIZE 70)\r\n"
              "A0002 OK done\r\n");
    Connect();
    std::vector<std::string> seen;
    client.FetchHeaders({9, 5, 6}, [&](size_t index, bool found, int64_t size, TMailMessage& header) {
        seen.push_back(std::to_string(index) + (found ? " " + header.Subject + " " + std::to_string(size) : " -"));
    });
    EXPECT_THAT(seen, ElementsAre("0 -", "1 five 70", "2 six 80"));
    Done(CrLf({"A0001 LOGIN \"bob\" \"secret\"", "A0002 UID FETCH 5:6,9 (UID RFC822.SIZE BODY.PEEK[HEADER])",
               "A0003 LOGOUT"}));
}

TEST_P(Imap, AMessageIsTheLiteralsBytesWithUntaggedResponsesAround) {
    const std::string bytes = "Subject: hi\r\nFrom: a@example.jp\r\n\r\n.\r\n..two\r\n\r\nlast without CR LF";
    Converse(Login(), {{"A0002 UID FETCH 8 (UID BODY.PEEK[])",
                        "* 4 EXISTS\r\n* 3 FETCH (FLAGS (\\Seen) UID 7)\r\n* 2 FETCH (UID 8 BODY[] {" +
                            std::to_string(bytes.size()) + "}\r\n" + bytes + " FLAGS ())\r\n* 1 RECENT\r\nA0002 OK"},
                       {"A0003 UID FETCH 9 (UID BODY.PEEK[])", "A0003 OK nothing"}});
    Connect();
    TMailMessage message;
    message.NoDecode = message.NoEncode = message.KeepBodyText = true;
    ASSERT_TRUE(client.FetchMessage(8, message));
    EXPECT_EQ(message.Subject, "hi");
    EXPECT_THAT(Items(message.Headers), ElementsAre("Subject: hi", "From: a@example.jp"));
    EXPECT_EQ(message.BodyText, ".\r\n..two\r\n\r\nlast without CR LF\r\n");
    EXPECT_EQ(client.Exists(), 4u);
    TMailMessage gone;
    EXPECT_FALSE(client.FetchMessage(9, gone));
    // The EXISTS during the fetch is news: the next idle returns at once.
    EXPECT_EQ(client.Idle(600), TMailIMAP::TIdleEnd::Changed);
    Done(CrLf({"A0001 LOGIN \"bob\" \"secret\"", "A0002 UID FETCH 8 (UID BODY.PEEK[])",
               "A0003 UID FETCH 9 (UID BODY.PEEK[])", "A0004 LOGOUT"}));
}

TEST_P(Imap, ALiteralOverTheLimitClosesBeforeItIsRead) {
    client.MaxMessageSize = 100;
    Converse(Login(), {{"A0002 UID FETCH 8 (UID BODY.PEEK[])", ""}});
    server.Send("* 1 FETCH (UID 8 BODY[] {101}\r\n").Offer(std::string(101, 'x') + ")\r\nA0002 OK\r\n");
    Connect();
    TMailMessage message;
    auto e = Raised<EMailMessageTooLarge>([&] { client.FetchMessage(8, message); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Kind(), TMailErrorKind::LocalLimit);
    EXPECT_FALSE(client.IsConnected());
    Done(CrLf({"A0001 LOGIN \"bob\" \"secret\"", "A0002 UID FETCH 8 (UID BODY.PEEK[])"}));
}

TEST_P(Imap, ByeInTheMiddleIsALostConnection) {
    Converse(Login(), {{"A0002 UID SEARCH ALL", "* SEARCH 1\r\n* BYE shutting down"}}).Close();
    Connect();
    auto e = Raised<EMailException>([&] { client.SearchAll(); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Kind(), TMailErrorKind::ConnectionLost);
    EXPECT_EQ(e->Message(), "The IMAP server ended the session: shutting down");
    EXPECT_FALSE(client.IsConnected());
    Done(CrLf({"A0001 LOGIN \"bob\" \"secret\"", "A0002 UID SEARCH ALL"}));
}

// --- waiting for news

TEST_P(Imap, IdleEndsOnNewsOrForItsRenewal) {
    // A keep-alive is no news; EXISTS is. Without news the renewal (1 s here) sends DONE.
    Converse(Login(), {{"A0002 IDLE", "+ idling\r\n* OK still here\r\n* 5 EXISTS"},
                       {"DONE", "A0002 OK IDLE terminated"},
                       {"A0003 IDLE", "+ idling\r\n* OK still here"},
                       {"DONE", "* 2 EXPUNGE\r\nA0003 OK"},
                       {"A0004 IDLE", "+ idling"},
                       {"DONE", "A0004 OK"},
                       {"A0005 NOOP", "* 6 EXISTS\r\nA0005 OK"},
                       {"A0006 NOOP", "A0006 OK"}});
    Connect();
    EXPECT_EQ(client.Idle(600), TMailIMAP::TIdleEnd::Changed);
    EXPECT_EQ(client.Exists(), 5u);
    // News that comes with the tagged OK after DONE still counts.
    EXPECT_EQ(client.Idle(1), TMailIMAP::TIdleEnd::Changed);
    EXPECT_EQ(client.Idle(1), TMailIMAP::TIdleEnd::Renew);
    EXPECT_TRUE(client.Noop());
    EXPECT_FALSE(client.Noop());
    Done(CrLf({"A0001 LOGIN \"bob\" \"secret\"", "A0002 IDLE", "DONE", "A0003 IDLE", "DONE", "A0004 IDLE", "DONE",
               "A0005 NOOP", "A0006 NOOP", "A0007 LOGOUT"}));
}

TEST_P(Imap, TheStopEndsAnIdle) {
    TMailAbort abort;
    TMailIOHandlerAbortable transport(abort);
    client.SetIOHandler(&transport);
    Converse(Login(), {{"A0002 IDLE", "+ idling"}}).Hold();
    Connect();
    std::thread aborter([&] {
        for (int i = 0; i < 6000 && server.Received().find("IDLE\r\n") == std::string::npos; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        abort.Abort();
    });
    auto e = Raised<EMailException>([&] { client.Idle(600); });
    aborter.join();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Kind(), TMailErrorKind::ConnectionLost);
    client.Disconnect();
    EXPECT_TRUE(server.Finish());
    EXPECT_EQ(server.HungUp(), 1);
}

// --- the response reader

TEST(ImapResponse, ReadsEachFormAndRefusesMalformedOnes) {
    const auto r = ParseImapResponses(
        "* 12 FETCH (UID 7 BODY[HEADER.FIELDS (SUBJECT)] ~{5}\r\nab\r\nc X \"q\\\"\\\\\" NIL (() (a)))\r\n"
        "A0001 NO [UNAVAILABLE] try later\r\n+ \r\n* OK [UIDVALIDITY 9] {5}\r\n");
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0].Number, 12u);
    EXPECT_EQ(r[0].Name, "FETCH");
    const auto& items = r[0].Items.at(0).Items;
    ASSERT_EQ(items.size(), 8u);
    EXPECT_EQ(items[2].Text, "BODY[HEADER.FIELDS (SUBJECT)]");
    EXPECT_EQ(items[3].Text, "ab\r\nc");
    EXPECT_EQ(items[5].Text, "q\"\\");
    EXPECT_EQ(items[6].Kind, TImapValue::TKind::Nil);
    EXPECT_EQ(r[1].Tag, "A0001");
    EXPECT_EQ(r[1].Code, "UNAVAILABLE");
    EXPECT_EQ(r[1].Text, "try later");
    EXPECT_EQ(r[2].Type, TImapResponse::TType::Continuation);
    // A status text ending in a brace is text, not a literal.
    EXPECT_EQ(r[3].CodeText, "9");
    EXPECT_EQ(r[3].Text, "{5}");

    TImapLimits small;
    small.MaxDepth = 2;
    small.MaxLiteral = 10;
    const std::pair<std::string, std::string> bad[] = {
        {"* SEARCH \"open", "Malformed IMAP response: unterminated quoted string."},
        {"* LIST (a \"b\\c\")", "Malformed IMAP response: bad escape in a quoted string."},
        {"* X (((a)))", "Malformed IMAP response: lists nested too deep."},
        {"* X (a", "Malformed IMAP response: unterminated list."},
        {"A1 FETCH (a)", "Malformed IMAP response: tagged data."},
        {"* 1 FETCH (BODY[] {11}\r\n", "Message of 11 bytes is over the size limit of 10 bytes."},
    };
    for (const auto& [text, message] : bad) {
        SCOPED_TRACE(text);
        auto e = Raised<EMailException>([&] { ParseImapResponses(text + "\r\n", small); });
        ASSERT_TRUE(e);
        EXPECT_EQ(e->Message(), message);
    }
}
