// SMTP client transcripts against a scripted loopback server, each run with whole replies and
// with the server answering one byte at a time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "message/MailMessage.h"
#include "net/MailExceptions.h"
#include "net/MailSMTP.h"
#include "support/LoopbackClient.h"
#include "support/Raised.h"
#include "support/Transcript.h"

using namespace tarnwick;
using namespace tarnwick::test;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const std::string kTransaction = CrLf({"RSET", "MAIL FROM:<ann@example.com>", "RCPT TO:<fwd@example.com>", "DATA",
                                       "Subject: hi", "To: someone@example.com", "", "body", "..", "."});

class Smtp : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        server.ByteAtATime(GetParam());
        client.HeloName = "client.test";
        message.NoEncode = true;
        message.Headers.SetText("Subject: hi\r\nTo: someone@example.com\r\n");
        message.Body.SetText("body\r\n.\r\n");
        message.From.SetText("Ann <ann@example.com>");
        message.Recipients.ParseAddresses("fwd@example.com");
    }
    ScriptedServer& Greeting(ScriptedServer& s) { return Converse(s, {{"", "220 mx"}, {"EHLO client.test", "250 mx"}}); }
    // One accepted transaction of the message above.
    static ScriptedServer& Transaction(ScriptedServer& s) {
        return Converse(s, {{"RSET", "250 ok"}, {"MAIL FROM:<ann@example.com>", "250 ok"},
                            {"RCPT TO:<fwd@example.com>", "250 ok"}, {"DATA", "354 go"}, {".", "250 queued"}});
    }
    void Connect(ScriptedServer& s) { ConnectTo(s, client); }
    void Done(const std::string& expected) {
        client.Disconnect();
        EXPECT_TRUE(server.Finish());
        EXPECT_THAT(server.Mismatches(), IsEmpty());
        EXPECT_EQ(server.Received(), expected);
    }

    ScriptedServer server;
    TMailSMTP client;
    TMailMessage message;
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(WholeAndByteAtATime, Smtp, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "ByteAtATime" : "Whole"; });

// --- greeting

TEST_P(Smtp, EhloCollectsTheAuthSchemes) {
    Converse(server, {{"", "220 mx ready"},
                      {"EHLO client.test", "250-mx\r\n250-AUTH LOGIN plain\r\n250-auth=login\r\n250 SIZE 1000"},
                      {"QUIT", ""}});
    Connect(server);
    EXPECT_THAT(Items(client.AuthSchemes), ElementsAre("LOGIN", "PLAIN"));
    EXPECT_TRUE(client.AuthSchemeOffered(TAuthenticationType::atLogin));
    Done(CrLf({"EHLO client.test", "QUIT"}));
}

TEST_P(Smtp, HeloWhenEhloIsRefusedOrSwitchedOff) {
    Converse(server, {{"", "220 mx"}, {"EHLO client.test", "500 what"}, {"HELO client.test", "250 hi"}, {"QUIT", ""}});
    Connect(server);
    EXPECT_TRUE(client.AuthSchemes.Empty());
    Done(CrLf({"EHLO client.test", "HELO client.test", "QUIT"}));

    ScriptedServer helo;
    Converse(helo.ByteAtATime(GetParam()), {{"", "220 mx"}, {"HELO client.test", "250 hi"}});
    client.SetUseEhlo(false);
    Connect(helo);
    client.Disconnect();
    EXPECT_TRUE(helo.Finish());
    EXPECT_EQ(helo.Received(), CrLf({"HELO client.test", "QUIT"}));
}

TEST_P(Smtp, AnEmptyHeloNameIsThisMachinesName) {
    client.HeloName.clear();
    const std::string name = client.LocalHostName();
    Converse(server, {{"", "220 mx"}, {"EHLO " + name, "250 hi"}});
    Connect(server);
    Done(CrLf({"EHLO " + name, "QUIT"}));
}

TEST_P(Smtp, RefusedGreetingOrHeloSendsQuitAndCloses) {
    Converse(server, {{"", "554 no service"}, {"QUIT", ""}});
    auto e = Raised<EMailProtocolReplyError>([&] { Connect(server); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->ReplyCode, 554);
    EXPECT_EQ(e->Message(), "no service\r\n");
    EXPECT_FALSE(client.IsConnected());
    EXPECT_TRUE(server.Finish());
    EXPECT_EQ(server.Received(), "QUIT\r\n");

    ScriptedServer helo;
    Converse(helo.ByteAtATime(GetParam()),
             {{"", "220 mx"}, {"EHLO client.test", "502 no"}, {"HELO client.test", "501 bad name"}, {"QUIT", ""}});
    e = Raised<EMailProtocolReplyError>([&] { Connect(helo); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->ReplyCode, 501);
    EXPECT_TRUE(helo.Finish());
    EXPECT_THAT(helo.Mismatches(), IsEmpty());
}

// --- transactions

TEST_P(Smtp, EveryRecipientInOrderAndTheContentDotStuffed) {
    message.Recipients.ParseAddresses("one@example.com, Two <two@example.com>");
    message.CCList.ParseAddresses("cc@example.com");
    message.BccList.ParseAddresses("bcc@example.com");
    Converse(Greeting(server), {{"RSET", "250 ok"}, {"MAIL FROM:<ann@example.com>", "250 ok"},
                                {"RCPT TO:<one@example.com>", "250 ok"}, {"RCPT TO:<two@example.com>", "251 forwarding"},
                                {"RCPT TO:<cc@example.com>", "250 ok"}, {"RCPT TO:<bcc@example.com>", "250 ok"},
                                {"DATA", "354 go ahead"}, {".", "250 queued"}});
    Connect(server);
    client.SendMail(message);
    Done(CrLf({"EHLO client.test", "RSET", "MAIL FROM:<ann@example.com>", "RCPT TO:<one@example.com>",
               "RCPT TO:<two@example.com>", "RCPT TO:<cc@example.com>", "RCPT TO:<bcc@example.com>", "DATA",
               "Subject: hi", "To: someone@example.com", "", "body", "..", ".", "QUIT"}));
}

TEST_P(Smtp, TheMailAgentGoesOnlyIntoGeneratedHeaders) {
    client.MailAgent = "Agent 1";
    message.ExtraHeaders.SetHeaderValue("X-Mailer", "old");
    Transaction(Transaction(Greeting(server)));
    Connect(server);
    client.SendMail(message);
    EXPECT_EQ(message.ExtraHeaders.GetHeaderValue("X-Mailer"), "Agent 1");
    client.MailAgent.clear();
    message.NoEncode = false;
    client.SendMail(message);
    EXPECT_EQ(message.ExtraHeaders.IndexOf("X-Mailer: old"), -1);
    client.Disconnect();
    EXPECT_TRUE(server.Finish());
    EXPECT_EQ(server.Received().find("X-Mailer"), std::string::npos);
}

TEST_P(Smtp, LoginOncePerConnectionAfterTheFirstReset) {
    client.SetAuthenticationType(TAuthenticationType::atLogin);
    client.Username = "user";
    client.Password = "pass";
    for (int connection = 0; connection < 2; ++connection) {
        Converse(server, {{"", "220 mx"}, {"EHLO client.test", "250-mx\r\n250 AUTH LOGIN"}, {"RSET", "250 ok"},
                          {"AUTH LOGIN", "334 VXNlcm5hbWU6"}, {"dXNlcg==", "334 UGFzc3dvcmQ6"}, {"cGFzcw==", "235 ok"},
                          {"MAIL FROM:<ann@example.com>", "250 ok"}, {"RCPT TO:<fwd@example.com>", "250 ok"},
                          {"DATA", "354 go"}, {".", "250 queued"}});
        Transaction(server).Expect("QUIT");
        if (connection == 0) server.Accept();
    }
    server.Start();
    client.SetHost("127.0.0.1");
    client.SetPort(server.Port());
    for (int connection = 0; connection < 2; ++connection) {
        client.Connect();
        client.SendMail(message);
        EXPECT_TRUE(client.Authenticated);
        client.SendMail(message);
        client.Disconnect();
        EXPECT_FALSE(client.Authenticated);
    }
    EXPECT_TRUE(server.Finish());
    EXPECT_THAT(server.Mismatches(), IsEmpty());
}

TEST_P(Smtp, PlainWhenOfferedElseLoginAndARefusalCarriesTheServersText) {
    client.SetAuthenticationType(TAuthenticationType::atAuto);
    client.Username = "user";
    client.Password = "pass";
    // base64("\0user\0pass")
    Converse(server, {{"", "220 mx"}, {"EHLO client.test", "250-mx\r\n250 AUTH LOGIN PLAIN"},
                      {"AUTH PLAIN AHVzZXIAcGFzcw==", "235 ok"}, {"QUIT", ""}});
    server.Accept();
    Converse(server, {{"", "220 mx"}, {"EHLO client.test", "250-mx\r\n250 AUTH=LOGIN"},
                      {"AUTH LOGIN", "334 VXNlcm5hbWU6"}, {"dXNlcg==", "334 UGFzc3dvcmQ6"},
                      {"cGFzcw==", "535 5.7.8 Error: authentication failed"}, {"QUIT", ""}});
    Connect(server);
    EXPECT_TRUE(client.Authenticate());
    client.Disconnect();
    client.Connect();
    auto e = Raised<EMailProtocolReplyError>([&] { client.Authenticate(); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->ReplyCode, 535);
    EXPECT_EQ(e->Message(), "5.7.8 Error: authentication failed\r\n");
    client.Disconnect();
    EXPECT_TRUE(server.Finish());
    EXPECT_THAT(server.Mismatches(), IsEmpty());
}

TEST_P(Smtp, CramMd5IsPreferredWithoutTlsAndAnswersTheChallengeAsRfc2195Shows) {
    client.SetAuthenticationType(TAuthenticationType::atAuto);
    client.Username = "tim";
    client.Password = "tanstaaftanstaaf";
    Converse(server, {{"", "220 mx"}, {"EHLO client.test", "250-mx\r\n250 AUTH PLAIN LOGIN CRAM-MD5"},
                      {"AUTH CRAM-MD5", "334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+"},
                      {"dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw", "235 ok"}, {"QUIT", ""}});
    Connect(server);
    EXPECT_TRUE(client.Authenticate());
    client.Disconnect();
    EXPECT_TRUE(server.Finish());
    EXPECT_THAT(server.Mismatches(), IsEmpty());
}

TEST_P(Smtp, StartTlsNotOfferedOrRefusedEndsTheLoginWithNothingElseSent) {
    client.Security = TMailSecurity::msStartTLS;
    client.SetAuthenticationType(TAuthenticationType::atAuto);
    client.Username = "user";
    client.Password = "pass";
    Converse(server, {{"", "220 mx"}, {"EHLO client.test", "250-mx\r\n250 AUTH PLAIN"}, {"QUIT", ""}});
    server.Accept();
    Converse(server, {{"", "220 mx"}, {"EHLO client.test", "250-mx\r\n250 STARTTLS"},
                      {"STARTTLS", "454 4.7.0 TLS not available"}, {"QUIT", ""}});
    server.Start();
    client.SetHost("127.0.0.1");
    client.SetPort(server.Port());
    auto offered = Raised<EMailTLSError>([&] { client.Connect(); });
    ASSERT_TRUE(offered);
    EXPECT_EQ(offered->Message(), "The SMTP server does not offer STARTTLS.");
    auto refused = Raised<EMailTLSError>([&] { client.Connect(); });
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->Message(), "The SMTP server refused STARTTLS: 4.7.0 TLS not available");
    EXPECT_FALSE(client.IsConnected());
    EXPECT_TRUE(server.Finish());
    EXPECT_EQ(server.Received(), CrLf({"EHLO client.test", "QUIT", "EHLO client.test", "STARTTLS", "QUIT"}));
}

TEST_P(Smtp, TheEnvelopeSenderReplacesTheFromAddressOnlyInTheEnvelope) {
    client.EnvelopeFrom = "me@provider.jp";
    Converse(Greeting(server), {{"RSET", "250 ok"}, {"MAIL FROM:<me@provider.jp>", "250 ok"},
                                {"RCPT TO:<fwd@example.com>", "250 ok"}, {"DATA", "354 go"}, {".", "250 queued"}});
    Connect(server);
    client.SendMail(message);
    std::string expected = "EHLO client.test\r\n" + kTransaction + "QUIT\r\n";
    expected.replace(expected.find("<ann@example.com>"), 17, "<me@provider.jp>");
    Done(expected);
}

TEST_P(Smtp, LoginNotOfferedIsSkipped) {
    client.SetAuthenticationType(TAuthenticationType::atLogin);
    Transaction(Greeting(server));
    Connect(server);
    client.SendMail(message);
    Done("EHLO client.test\r\n" + kTransaction + "QUIT\r\n");
}

TEST_P(Smtp, RefusedCommandsCarryTheirCodeAndTheNextTransactionStartsWithReset) {
    const std::vector<std::pair<std::string, std::string>> accepted = {
        {"RSET", "250 ok"}, {"MAIL FROM:<ann@example.com>", "250 ok"}, {"RCPT TO:<fwd@example.com>", "250 ok"},
        {"DATA", "354 go"}, {".", "250 queued"}};
    for (const auto& [refused, reply] : std::vector<std::pair<std::string, std::string>>{
             {"MAIL FROM:<ann@example.com>", "550 relaying denied"}, {"RCPT TO:<fwd@example.com>", "450 busy"},
             {"DATA", "554 no data"}, {".", "552 too big"}}) {
        ScriptedServer s;
        Greeting(s.ByteAtATime(GetParam()));
        for (const auto& [command, ok] : accepted) {
            Converse(s, {{command, command == refused ? reply : ok}});
            if (command == refused) break;
        }
        Transaction(s);
        Connect(s);
        auto e = Raised<EMailProtocolReplyError>([&] { client.SendMail(message); });
        ASSERT_TRUE(e) << refused;
        EXPECT_EQ(e->ReplyCode, std::stoi(reply.substr(0, 3)));
        EXPECT_EQ(e->Message(), reply.substr(4) + "\r\n");
        client.SendMail(message);
        client.Disconnect();
        EXPECT_TRUE(s.Finish());
        EXPECT_THAT(s.Mismatches(), IsEmpty()) << refused;
    }
}

TEST_P(Smtp, CloseDuringDataReachesTheCaller) {
    Converse(Greeting(server), {{"RSET", "250 ok"}, {"MAIL FROM:<ann@example.com>", "250 ok"},
                                {"RCPT TO:<fwd@example.com>", "250 ok"}, {"DATA", "354 go"}})
        .Close();
    Connect(server);
    EXPECT_THROW(client.SendMail(message), EMailException);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_NO_THROW(client.Disconnect());
    EXPECT_TRUE(server.Finish());
}

TEST_P(Smtp, AFailureWhileWritingTheContentClosesTheConnectionWithoutEndingTheData) {
    message.NoEncode = false;
    message.MessageParts.Add<TMailAttachment>("/nonexistent/file.bin");
    Converse(Greeting(server), {{"RSET", "250 ok"}, {"MAIL FROM:<ann@example.com>", "250 ok"},
                                {"RCPT TO:<fwd@example.com>", "250 ok"}, {"DATA", "354 go"}});
    Connect(server);
    EXPECT_THROW(client.SendMail(message), EFOpenError);
    EXPECT_FALSE(client.IsConnected());
    client.Disconnect();
    EXPECT_TRUE(server.Finish());
    EXPECT_EQ(server.Received().find("\r\n.\r\n"), std::string::npos);
    EXPECT_EQ(server.Received().find("QUIT"), std::string::npos);
}

// The sender comes from a From header anyone can write: it goes out as one RFC 5321 mailbox, or
// as "<>" (the header itself unchanged).
TEST_P(Smtp, TheSenderIsAlwaysOneValidReversePath) {
    struct Case {
        std::string from, mailFrom;
        bool nullSender;
    };
    const std::vector<Case> cases = {
        {"<\"a@b.c> RET=HDRS ENVID=x\"@d>", "MAIL FROM:<\"a@b.c> RET=HDRS ENVID=x\"@d>", false},
        {"<\"a b\"@c.d>", "MAIL FROM:<\"a b\"@c.d>", false},
        {"\"a b\"@c.d", "MAIL FROM:<\"a b\"@c.d>", false},
        {"x@y.z (nested (comment) here)", "MAIL FROM:<x@y.z>", false},
        {"Ann <\"a\\\"b\\\\c\"@d.e>", "MAIL FROM:<\"a\\\"b\\\\c\"@d.e>", false},
        {"<first.last+tag@[192.0.2.1]>", "MAIL FROM:<first.last+tag@[192.0.2.1]>", false},
        {"<a@b c.d>", "MAIL FROM:<>", true},
        {"nobody", "MAIL FROM:<>", true},
        {"<a@b.c.>", "MAIL FROM:<>", true},
        {"", "MAIL FROM:<>", false},
    };
    std::vector<std::string> problems;
    client.OnNullSender = [&](const std::string& address, const std::string& problem) {
        problems.push_back(address + ": " + problem);
    };
    Greeting(server);
    std::string expected = "EHLO client.test\r\n";
    for (const Case& c : cases) {
        Converse(server, {{"RSET", "250 ok"}, {c.mailFrom, "250 ok"}, {"RCPT TO:<fwd@example.com>", "250 ok"},
                          {"DATA", "354 go"}, {".", "250 queued"}});
        expected += CrLf({"RSET", c.mailFrom, "RCPT TO:<fwd@example.com>", "DATA", "From: " + c.from, "", "body",
                          ".."}) + ".\r\n";
    }
    // Control characters, as a decoded encoded word can give them.
    Converse(server, {{"RSET", "250 ok"}, {"MAIL FROM:<>", "250 ok"}, {"RCPT TO:<fwd@example.com>", "250 ok"},
                      {"DATA", "354 go"}, {".", "250 queued"}});
    Connect(server);
    for (const Case& c : cases) {
        message.Headers.SetText("From: " + c.from + "\r\n");
        message.LoadHeaderFields();
        message.Recipients.ParseAddresses("fwd@example.com");
        client.SendMail(message);
        EXPECT_EQ(problems.size(), static_cast<size_t>(c.nullSender)) << c.from;
        problems.clear();
    }
    message.From.Address = "ann@example.com>\r\nRCPT TO:<victim@example.com";
    client.SendMail(message);
    EXPECT_EQ(problems, std::vector<std::string>{message.From.Address + ": control character in the address"});
    client.Disconnect();
    EXPECT_TRUE(server.Finish());
    EXPECT_THAT(server.Mismatches(), IsEmpty());
    EXPECT_EQ(server.Received().substr(0, expected.size()), expected);
}

// Without 送信者アドレス the path final delivery recorded is kept: "<>" for a bounce (which must
// never cause another), a list's bounce address for list mail; a Return-Path in any other form
// is not trusted and From stands, as before.
TEST_P(Smtp, TheEnvelopeSenderComesFromTheSettingTheReturnPathOrFrom) {
    struct Case {
        std::string envelopeFrom, headers, mailFrom;
        bool nullSender;  // the log is told that "<>" stands for an unusable address
    };
    const std::string bounce = "Return-Path: <>\r\nFrom: MAILER-DAEMON@example.org\r\n";
    const std::string list = "Return-Path: <list-bounces@lists.example.org>\r\nFrom: ann@example.com\r\n";
    const std::vector<Case> cases = {
        {"", "From: ann@example.com\r\n", "MAIL FROM:<ann@example.com>", false},
        {"", list, "MAIL FROM:<list-bounces@lists.example.org>", false},
        {"", bounce, "MAIL FROM:<>", false},
        {"me@provider.jp", "From: ann@example.com\r\n", "MAIL FROM:<me@provider.jp>", false},
        {"me@provider.jp", list, "MAIL FROM:<me@provider.jp>", false},
        {"me@provider.jp", bounce, "MAIL FROM:<me@provider.jp>", false},
        // The forms a Return-Path comes in.
        {"", "Return-Path:  < b@x.example >  \r\nFrom: ann@example.com\r\n", "MAIL FROM:<b@x.example>", false},
        {"", "Return-Path: <>\r\nReturn-Path: <b@x.example>\r\nFrom: ann@example.com\r\n", "MAIL FROM:<>", false},
        {"", "Return-Path: <b@x.example>\r\nReturn-Path: <>\r\nFrom: ann@example.com\r\n", "MAIL FROM:<b@x.example>",
         false},
        {"", "Return-Path: <\"b c\"@x.example>\r\nFrom: ann@example.com\r\n", "MAIL FROM:<\"b c\"@x.example>", false},
        {"", "Return-Path: <@relay.example:b@x.example>\r\nFrom: ann@example.com\r\n", "MAIL FROM:<b@x.example>",
         false},
        {"", "Return-Path: <>\r\nFrom: nobody\r\n", "MAIL FROM:<>", false},
        // Forms final delivery does not write: From stands.
        {"", "Return-Path: <> (bounce)\r\nFrom: ann@example.com\r\n", "MAIL FROM:<ann@example.com>", false},
        {"", "Return-Path: b@x.example\r\nFrom: ann@example.com\r\n", "MAIL FROM:<ann@example.com>", false},
        {"", "Return-Path: <b@x.example> <c@y.example>\r\nFrom: ann@example.com\r\n", "MAIL FROM:<ann@example.com>",
         false},
        {"", "Return-Path: <b@-x.example>\r\nFrom: ann@example.com\r\n", "MAIL FROM:<ann@example.com>", false},
        {"", "Return-Path: <b@x.example RET=HDRS>\r\nFrom: ann@example.com\r\n", "MAIL FROM:<ann@example.com>",
         false},
        {"", "Return-Path: garbage\r\nFrom: nobody\r\n", "MAIL FROM:<>", true},
    };
    int problems = 0;
    client.OnNullSender = [&](const std::string&, const std::string&) { ++problems; };
    Greeting(server);
    std::string expected = "EHLO client.test\r\n";
    for (const Case& c : cases) {
        Converse(server, {{"RSET", "250 ok"}, {c.mailFrom, "250 ok"}, {"RCPT TO:<fwd@example.com>", "250 ok"},
                          {"DATA", "354 go"}, {".", "250 queued"}});
        expected += CrLf({"RSET", c.mailFrom, "RCPT TO:<fwd@example.com>", "DATA"}) + c.headers +
                    "\r\nbody\r\n..\r\n.\r\n";
    }
    Connect(server);
    for (const Case& c : cases) {
        client.EnvelopeFrom = c.envelopeFrom;
        message.Headers.SetText(c.headers);
        message.LoadHeaderFields();
        message.Recipients.ParseAddresses("fwd@example.com");
        client.SendMail(message);
        EXPECT_EQ(problems, c.nullSender ? 1 : 0) << c.headers;
        problems = 0;
    }
    Done(expected + "QUIT\r\n");
}

TEST_P(Smtp, TextWithLineBreaksIsNeverSent) {
    Converse(Greeting(server), {{"VRFY ann", "250 Ann <ann@example.com>"}, {"EXPN list", "251 ok"}});
    Connect(server);
    message.BccList.Add().Address = "x@example.com\nDATA";
    auto e = Raised<EMailException>([&] { client.SendMail(message); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "Invalid character (CR, LF or NUL) in recipient address.");
    EXPECT_THROW(client.VerifyAddress("a\r\nb"), EMailException);
    EXPECT_EQ(client.VerifyAddress("ann"), "Ann <ann@example.com>");
    client.ExpandList("list");
    Done(CrLf({"EHLO client.test", "VRFY ann", "EXPN list", "QUIT"}));
}

TEST(ReversePath, QuotingAndTheLimitsOfAMailbox) {
    EXPECT_EQ(ReversePathFor("a..b@c.d").Path, "<\"a..b\"@c.d>");  // no dot-atom: quoted
    EXPECT_EQ(ReversePathFor(".a@c.d").Path, "<\".a\"@c.d>");
    EXPECT_EQ(ReversePathFor("a^b@x-1.c.d").Path, "<a^b@x-1.c.d>");
    const std::vector<std::string> bad = {"a@-x.d", "a@x..d", "@c.d", "a@", "a@[]", "\x83\x40@c.d", "a@c.d\x7f",
                                          std::string(251, 'a') + "@c.d"};
    for (const std::string& address : bad) {
        const TReversePath path = ReversePathFor(address);
        EXPECT_EQ(path.Path, "<>") << address;
        EXPECT_FALSE(path.Problem.empty()) << address;
    }
    EXPECT_EQ(ReversePathFor(std::string(64, 'a') + "@" + std::string(189, 'b')).Path.size(), 256u);
}

TEST(SmtpSettings, CoupledSettersAndAssign) {
    TMailSMTP smtp;
    EXPECT_EQ(smtp.Port(), 25);
    smtp.SetUseEhlo(false);
    smtp.SetAuthenticationType(TAuthenticationType::atLogin);
    EXPECT_TRUE(smtp.UseEhlo());
    smtp.SetUseEhlo(false);
    EXPECT_EQ(smtp.AuthenticationType(), TAuthenticationType::atNone);

    TMailSMTP source;
    source.SetAuthenticationType(TAuthenticationType::atLogin);
    source.SetHost("mx.example.com");
    source.SetPort(587);
    source.MailAgent = "agent";
    source.HeloName = "not copied";
    smtp.Assign(source);
    EXPECT_TRUE(smtp.UseEhlo());
    EXPECT_EQ(smtp.Host() + ":" + std::to_string(smtp.Port()) + " " + smtp.MailAgent + smtp.HeloName,
              "mx.example.com:587 agent");
}

// --- pipelining: the server replies only once it has the whole group, so a client that waited
// for a reply inside the group would never get one.

TEST_P(Smtp, APipelinedGroupIsSentWholeAndItsRepliesAreReadInOrder) {
    Converse(server, {{"", "220 mx"}, {"EHLO client.test", "250-mx\r\n250 PIPELINING"}});
    server.Expect("RSET").Expect("MAIL FROM:<ann@example.com>").Expect("RCPT TO:<fwd@example.com>").Expect("DATA");
    server.SendLine("250 ok").SendLine("250 ok").SendLine("250 ok").SendLine("354 go");
    server.ExpectUntil(".").SendLine("250 queued");
    // A refused sender: the rest of the group is answered, read, and the connection stays usable.
    server.Expect("RSET").Expect("MAIL FROM:<ann@example.com>").Expect("RCPT TO:<fwd@example.com>").Expect("DATA");
    server.SendLine("250 ok").SendLine("550 5.7.1 sender refused").SendLine("503 no sender").SendLine("554 no rcpt");
    // A server that opens DATA after refusing the envelope gets no content: the client hangs up.
    server.Expect("RSET").Expect("MAIL FROM:<ann@example.com>").Expect("RCPT TO:<fwd@example.com>").Expect("DATA");
    server.SendLine("250 ok").SendLine("550 refused").SendLine("250 ok").SendLine("354 go anyway");
    Connect(server);
    client.SendMail(message);
    auto refused = Raised<EMailProtocolReplyError>([&] { client.SendMail(message); });
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->ReplyCode, 550);
    EXPECT_TRUE(client.IsConnected());
    refused = Raised<EMailProtocolReplyError>([&] { client.SendMail(message); });
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->ReplyCode, 550);
    EXPECT_FALSE(client.IsConnected());
    const std::string group = CrLf({"RSET", "MAIL FROM:<ann@example.com>", "RCPT TO:<fwd@example.com>", "DATA"});
    EXPECT_TRUE(server.Finish());
    EXPECT_THAT(server.Mismatches(), IsEmpty());
    EXPECT_EQ(server.Received(), "EHLO client.test\r\n" + kTransaction + group + group);
}

TEST_P(Smtp, WithChunkingTheEnvelopeAndTheUnstuffedContentGoInOneGroup) {
    const std::string content = "Subject: hi\r\nTo: someone@example.com\r\n\r\nbody\r\n.\r\n";
    Converse(server, {{"", "220 mx"}, {"EHLO client.test", "250-mx\r\n250-PIPELINING\r\n250 CHUNKING"}});
    server.Expect("RSET").Expect("MAIL FROM:<ann@example.com>").Expect("RCPT TO:<fwd@example.com>");
    server.Expect("BDAT " + std::to_string(content.size()) + " LAST").ExpectUntil(".");
    server.SendLine("250 ok").SendLine("250 ok").SendLine("250 ok").SendLine("250 queued");
    server.Expect("RSET").Expect("MAIL FROM:<ann@example.com>").Expect("RCPT TO:<fwd@example.com>");
    server.Expect("BDAT " + std::to_string(content.size()) + " LAST").ExpectUntil(".");
    server.SendLine("250 ok").SendLine("250 ok").SendLine("550 no such user").SendLine("503 no valid recipients");
    server.Expect("QUIT");
    Connect(server);
    client.SendMail(message);
    auto refused = Raised<EMailProtocolReplyError>([&] { client.SendMail(message); });
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->ReplyCode, 550);
    const std::string group = CrLf({"RSET", "MAIL FROM:<ann@example.com>", "RCPT TO:<fwd@example.com>",
                                    "BDAT " + std::to_string(content.size()) + " LAST"}) + content;
    Done("EHLO client.test\r\n" + group + group + "QUIT\r\n");
}

// --- what MAIL FROM tells of the message (8BITMIME, SIZE), one at a time and pipelined

TEST_P(Smtp, MailFromCarriesBodyAndSizeAsOfferedAndAnOversizedMessageIsRefusedUnsent) {
    const std::string plain = "Subject: hi\r\nTo: someone@example.com\r\n\r\nbody\r\n.\r\n";
    const std::string eight = "Subject: hi\r\nTo: someone@example.com\r\n\r\nbod\xe9\r\n.\r\n";
    const std::string size = std::to_string(plain.size());  // both are the same length
    struct Case {
        std::string offered;  // the last EHLO line (after the greeting line and any PIPELINING)
        bool eightBit;
        std::string parameters;  // after "MAIL FROM:<ann@example.com>"; "552" when refused
    };
    const std::string limit = std::to_string(plain.size() - 1);
    const Case cases[] = {
        {"250-8BITMIME\r\n250 SIZE 1000", true, " BODY=8BITMIME SIZE=" + size},
        {"250-8BITMIME\r\n250 SIZE 1000", false, " SIZE=" + size},
        {"250 8BITMIME", true, " BODY=8BITMIME"},
        {"250 SIZE", true, " SIZE=" + size},  // no limit announced
        {"250 HELP", true, ""},
        {"250-8BITMIME\r\n250 SIZE " + limit, true, "552"},
    };
    for (const bool pipelined : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.offered + (pipelined ? " pipelined" : ""));
            message.Body.SetText(c.eightBit ? "bod\xe9\r\n.\r\n" : "body\r\n.\r\n");
            ScriptedServer s;
            s.ByteAtATime(GetParam());
            Converse(s, {{"", "220 mx"},
                         {"EHLO client.test",
                          "250-mx\r\n" + std::string(pipelined ? "250-PIPELINING\r\n" : "") + c.offered}});
            std::string expected = "EHLO client.test\r\n";
            const bool refused = c.parameters == "552";
            if (!refused) {
                const std::string mailFrom = "MAIL FROM:<ann@example.com>" + c.parameters;
                if (pipelined) {
                    s.Expect("RSET").Expect(mailFrom).Expect("RCPT TO:<fwd@example.com>").Expect("DATA");
                    s.SendLine("250 ok").SendLine("250 ok").SendLine("250 ok").SendLine("354 go");
                    Converse(s, {{".", "250 queued"}});
                } else {
                    Converse(s, {{"RSET", "250 ok"}, {mailFrom, "250 ok"}, {"RCPT TO:<fwd@example.com>", "250 ok"},
                                 {"DATA", "354 go"}, {".", "250 queued"}});
                }
                expected += CrLf({"RSET", mailFrom, "RCPT TO:<fwd@example.com>", "DATA"}) +
                            (c.eightBit ? eight : plain).substr(0, plain.size() - 3) + "..\r\n.\r\n";
            }
            Connect(s);
            if (refused) {
                // Queued, it is left to SendMail, which refuses it as the server would have.
                EXPECT_FALSE(client.QueueMail(message));
                auto e = Raised<EMailProtocolReplyError>([&] { client.SendMail(message); });
                ASSERT_TRUE(e);
                EXPECT_EQ(e->ReplyCode, 552);
                EXPECT_EQ(e->Message(), "Message size " + size + " bytes exceeds the server's limit of " + limit + " bytes.");
                EXPECT_TRUE(client.IsConnected());
            } else if (pipelined) {
                ASSERT_TRUE(client.QueueMail(message));
                client.FinishMail();
            } else {
                client.SendMail(message);
            }
            client.Disconnect();
            EXPECT_TRUE(s.Finish());
            EXPECT_THAT(s.Mismatches(), IsEmpty());
            EXPECT_EQ(s.Received(), expected + "QUIT\r\n");
        }
    }
}

TEST_P(Smtp, AuthOfferedWithNoSchemeOfOursIsToldApart) {
    Converse(server, {{"", "220 mx"}, {"EHLO client.test", "250-mx\r\n250 AUTH DIGEST-MD5 XOAUTH2"}});
    client.SetAuthenticationType(TAuthenticationType::atAuto);
    Connect(server);
    EXPECT_FALSE(client.AuthSchemeOffered(TAuthenticationType::atAuto));
    EXPECT_THAT(Items(client.AuthSchemes), ElementsAre("DIGEST-MD5", "XOAUTH2"));
    Done("EHLO client.test\r\nQUIT\r\n");
}

// --- queued without CHUNKING: after the final dot, the next message's envelope in the same write.
// The server answers nothing until it has the whole write, so a client that waited in between
// would never get a reply.

TEST_P(Smtp, QueuedWithDataTheDotAndTheNextEnvelopeGoTogetherAndARefusalInsideSkipsOnlyItsMessage) {
    const std::string group = CrLf({"RSET", "MAIL FROM:<ann@example.com>", "RCPT TO:<fwd@example.com>", "DATA"});
    const std::string content = CrLf({"Subject: hi", "To: someone@example.com", "", "body", "..", "."});
    auto expectGroup = [&] {
        server.Expect("RSET").Expect("MAIL FROM:<ann@example.com>").Expect("RCPT TO:<fwd@example.com>").Expect("DATA");
    };
    Converse(server, {{"", "220 mx"}, {"EHLO client.test", "250-mx\r\n250 PIPELINING"}});
    expectGroup();
    server.SendLine("250 ok").SendLine("250 ok").SendLine("250 ok").SendLine("354 go");
    // Message 1's content and dot, then message 2's envelope: its MAIL is refused.
    server.ExpectUntil(".");
    expectGroup();
    server.SendLine("250 queued 1").SendLine("250 ok").SendLine("550 5.7.1 sender refused").SendLine("503 no sender");
    server.SendLine("554 no valid recipients");
    // No content for message 2; message 3's envelope comes on its own, its content once it is
    // the last.
    expectGroup();
    server.SendLine("250 ok").SendLine("250 ok").SendLine("250 ok").SendLine("354 go");
    Converse(server, {{".", "250 queued 3"}});
    Connect(server);
    ASSERT_TRUE(client.QueueMail(message));
    ASSERT_TRUE(client.QueueMail(message));
    EXPECT_NO_THROW(client.FinishMail());
    ASSERT_TRUE(client.QueueMail(message));
    EXPECT_EQ(client.QueuedMails(), 2u);
    auto refused = Raised<EMailProtocolReplyError>([&] { client.FinishMail(); });
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->ReplyCode, 550);
    EXPECT_EQ(refused->Message(), "5.7.1 sender refused\r\n");
    EXPECT_NO_THROW(client.FinishMail());
    EXPECT_EQ(client.QueuedMails(), 0u);
    EXPECT_EQ(client.LastReply.Text.Text(), "queued 3\r\n");
    Done("EHLO client.test\r\n" + group + content + group + group + content + "QUIT\r\n");
}

TEST_P(Smtp, QueuedWithDataARefusedDotAndAServerThatOpensDataForARefusedEnvelope) {
    Converse(server, {{"", "220 mx"}, {"EHLO client.test", "250-mx\r\n250 PIPELINING"}});
    server.Expect("RSET").Expect("MAIL FROM:<ann@example.com>").Expect("RCPT TO:<fwd@example.com>").Expect("DATA");
    server.SendLine("250 ok").SendLine("250 ok").SendLine("250 ok").SendLine("354 go");
    server.ExpectUntil(".");
    server.Expect("RSET").Expect("MAIL FROM:<ann@example.com>").Expect("RCPT TO:<fwd@example.com>").Expect("DATA");
    // The dot refused for good; the next envelope refused, yet DATA opened: the client must hang
    // up rather than send anything the server would take as a message.
    server.SendLine("554 5.6.0 content refused").SendLine("250 ok").SendLine("550 refused").SendLine("250 ok");
    server.SendLine("354 go anyway");
    Connect(server);
    ASSERT_TRUE(client.QueueMail(message));
    ASSERT_TRUE(client.QueueMail(message));
    auto dot = Raised<EMailProtocolReplyError>([&] { client.FinishMail(); });
    ASSERT_TRUE(dot);
    EXPECT_EQ(dot->ReplyCode, 554);
    EXPECT_FALSE(client.QueueMail(message));
    EXPECT_FALSE(client.IsConnected());
    auto envelope = Raised<EMailProtocolReplyError>([&] { client.FinishMail(); });
    ASSERT_TRUE(envelope);
    EXPECT_EQ(envelope->ReplyCode, 550);
    EXPECT_TRUE(server.Finish());
    EXPECT_THAT(server.Mismatches(), IsEmpty());
    EXPECT_EQ(server.Received().find("QUIT"), std::string::npos);
}

TEST_P(Smtp, AConnectionLostAfterTheContentBeforeItsReplyFailsThatMessage) {
    // Whether queued with DATA, queued with BDAT or sent one at a time: no reply, no success.
    const std::string content = "Subject: hi\r\nTo: someone@example.com\r\n\r\nbody\r\n.\r\n";
    const std::string bdat = "BDAT " + std::to_string(content.size()) + " LAST";
    struct Case { const char* offer; bool queued; };
    for (const Case c : {Case{"250-mx\r\n250 PIPELINING", true},
                         Case{"250-mx\r\n250-PIPELINING\r\n250 CHUNKING", true}, Case{"250 mx", false}}) {
        SCOPED_TRACE(c.offer);
        const bool chunked = std::string(c.offer).find("CHUNKING") != std::string::npos;
        ScriptedServer s;
        s.ByteAtATime(GetParam());
        Converse(s, {{"", "220 mx"}, {"EHLO client.test", c.offer}});
        if (c.queued) {
            s.Expect("RSET").Expect("MAIL FROM:<ann@example.com>").Expect("RCPT TO:<fwd@example.com>");
            if (chunked) s.Expect(bdat).ExpectUntil(".").SendLine("250 ok").SendLine("250 ok").SendLine("250 ok");
            else s.Expect("DATA").SendLine("250 ok").SendLine("250 ok").SendLine("250 ok").SendLine("354 go").ExpectUntil(".");
        } else {
            Converse(s, {{"RSET", "250 ok"}, {"MAIL FROM:<ann@example.com>", "250 ok"},
                         {"RCPT TO:<fwd@example.com>", "250 ok"}, {"DATA", "354 go"}, {".", ""}});
        }
        s.Close();
        TMailSMTP smtp;
        smtp.HeloName = "client.test";
        s.Start();
        smtp.SetHost("127.0.0.1");
        smtp.SetPort(s.Port());
        smtp.Connect();
        if (c.queued) {
            ASSERT_TRUE(smtp.QueueMail(message));
            EXPECT_THROW(smtp.FinishMail(), EMailException);
        } else {
            ASSERT_FALSE(smtp.QueueMail(message));
            EXPECT_THROW(smtp.SendMail(message), EMailException);
        }
        EXPECT_TRUE(s.Finish());
        EXPECT_THAT(s.Mismatches(), IsEmpty());
    }
}

TEST_P(Smtp, A421InsideAGroupIsTheRefusalReportedAndEndsTheConnection) {
    // A server that takes some messages per connection, then says so and closes.
    Converse(server, {{"", "220 mx"}, {"EHLO client.test", "250-mx\r\n250 PIPELINING"}});
    server.Expect("RSET").Expect("MAIL FROM:<ann@example.com>").Expect("RCPT TO:<fwd@example.com>").Expect("DATA");
    server.SendLine("250 ok").SendLine("250 ok").SendLine("250 ok").SendLine("354 go");
    server.ExpectUntil(".");
    server.Expect("RSET").Expect("MAIL FROM:<ann@example.com>").Expect("RCPT TO:<fwd@example.com>").Expect("DATA");
    server.SendLine("250 queued").SendLine("421 4.7.0 too many messages in this connection").Close();
    Connect(server);
    ASSERT_TRUE(client.QueueMail(message));
    ASSERT_TRUE(client.QueueMail(message));
    EXPECT_NO_THROW(client.FinishMail());
    EXPECT_FALSE(client.QueueMail(message));
    auto capped = Raised<EMailProtocolReplyError>([&] { client.FinishMail(); });
    ASSERT_TRUE(capped);
    EXPECT_EQ(capped->ReplyCode, 421);
    EXPECT_EQ(capped->Message(), "4.7.0 too many messages in this connection\r\n");
    EXPECT_FALSE(client.IsConnected());
    client.Disconnect();
    EXPECT_TRUE(server.Finish());
    EXPECT_THAT(server.Mismatches(), IsEmpty());
}
