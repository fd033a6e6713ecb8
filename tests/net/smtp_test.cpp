// SMTP client transcripts against a scripted loopback server, each run with whole replies and
// with the server answering one byte at a time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "message/MailMessage.h"
#include "net/MailExceptions.h"
#include "net/MailSMTP.h"
#include "support/Raised.h"
#include "support/ScriptedServer.h"

using namespace tarnwick;
using tarnwick::test::Raised;
using tarnwick::test::ScriptedServer;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

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

class Smtp : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        server.ByteAtATime(GetParam());
        client.HeloName = "client.test";
        message.NoEncode = true;
        message.Headers.Add("Subject: hi");
        message.Headers.Add("To: someone@example.com");
        message.Body.Add("body");
        message.Body.Add(".");
        message.From.SetText("Ann <ann@example.com>");
        message.Recipients.ParseAddresses("fwd@example.com");
    }
    ScriptedServer& GreetingScript() {
        return server.SendLine("220 mx ready").Expect("EHLO client.test").SendLine("250 mx");
    }
    // One transaction of the message above, all accepted.
    ScriptedServer& TransactionScript(ScriptedServer& s) {
        return s.Expect("RSET")
            .SendLine("250 ok")
            .Expect("MAIL FROM:<ann@example.com>")
            .SendLine("250 ok")
            .Expect("RCPT TO:<fwd@example.com>")
            .SendLine("250 ok")
            .Expect("DATA")
            .SendLine("354 go ahead")
            .ExpectUntil(".")
            .SendLine("250 queued");
    }
    void Connect() {
        server.Start();
        client.SetHost("127.0.0.1");
        client.SetPort(server.Port());
        client.Connect();
    }
    void Done(const std::string& expected) {
        client.Disconnect();
        EXPECT_TRUE(server.Finish());
        EXPECT_THAT(server.Mismatches(), IsEmpty());
        EXPECT_EQ(server.Received(), expected);
    }
    // The accepted transaction as the server reads it.
    static std::string TransactionLines() {
        return Lines({"RSET", "MAIL FROM:<ann@example.com>", "RCPT TO:<fwd@example.com>", "DATA", "Subject: hi",
                      "To: someone@example.com", "", "body", "..", "."});
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
    server.SendLine("220 mx ready")
        .Expect("EHLO client.test")
        .Send(Lines({"250-mx", "250-AUTH LOGIN plain", "250-auth=login", "250-SIZE 1000", "250 PIPELINING"}))
        .Expect("QUIT");
    Connect();
    EXPECT_THAT(Items(client.AuthSchemes), ElementsAre("LOGIN", "PLAIN"));
    EXPECT_TRUE(client.AuthSchemeOffered(TAuthenticationType::atLogin));
    EXPECT_FALSE(client.AuthSchemeOffered(TAuthenticationType::atNone));
    Done(Lines({"EHLO client.test", "QUIT"}));
}

TEST_P(Smtp, RefusedEhloFallsBackToHelo) {
    server.SendLine("220 mx")
        .Expect("EHLO client.test")
        .SendLine("500 what")
        .Expect("HELO client.test")
        .SendLine("250 hi")
        .Expect("QUIT");
    Connect();
    EXPECT_TRUE(client.AuthSchemes.Empty());
    Done(Lines({"EHLO client.test", "HELO client.test", "QUIT"}));
}

TEST_P(Smtp, WithoutEhloOnlyHeloIsSent) {
    client.SetUseEhlo(false);
    server.SendLine("220 mx").Expect("HELO client.test").SendLine("250 hi").Expect("QUIT");
    Connect();
    Done(Lines({"HELO client.test", "QUIT"}));
}

TEST_P(Smtp, AnEmptyHeloNameIsThisMachinesName) {
    client.HeloName.clear();
    const std::string name = client.LocalHostName();
    server.SendLine("220 mx").Expect("EHLO " + name).SendLine("250 hi").Expect("QUIT");
    Connect();
    Done(Lines({"EHLO " + name, "QUIT"}));
}

TEST_P(Smtp, RefusedGreetingOrHeloSendsQuitAndCloses) {
    server.SendLine("554 no service").Expect("QUIT");
    server.Start();
    client.SetHost("127.0.0.1");
    client.SetPort(server.Port());
    auto e = Raised<EMailProtocolReplyError>([&] { client.Connect(); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->ReplyCode, 554);
    EXPECT_EQ(e->Message(), "no service\r\n");
    EXPECT_FALSE(client.IsConnected());
    EXPECT_TRUE(server.Finish());
    EXPECT_EQ(server.Received(), "QUIT\r\n");

    ScriptedServer helo;
    helo.ByteAtATime(GetParam())
        .SendLine("220 mx")
        .Expect("EHLO client.test")
        .SendLine("502 no")
        .Expect("HELO client.test")
        .SendLine("501 bad name")
        .Expect("QUIT");
    helo.Start();
    client.SetPort(helo.Port());
    e = Raised<EMailProtocolReplyError>([&] { client.Connect(); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->ReplyCode, 501);
    EXPECT_TRUE(helo.Finish());
    EXPECT_THAT(helo.Mismatches(), IsEmpty());
}

// --- transactions

TEST_P(Smtp, SendMailTranscriptWithEveryKindOfRecipient) {
    message.Recipients.ParseAddresses("one@example.com, Two <two@example.com>");
    message.CCList.ParseAddresses("cc@example.com");
    message.BccList.ParseAddresses("bcc@example.com");
    GreetingScript()
        .Expect("RSET")
        .SendLine("250 ok")
        .Expect("MAIL FROM:<ann@example.com>")
        .SendLine("250 ok")
        .Expect("RCPT TO:<one@example.com>")
        .SendLine("250 ok")
        .Expect("RCPT TO:<two@example.com>")
        .SendLine("251 will forward")
        .Expect("RCPT TO:<cc@example.com>")
        .SendLine("250 ok")
        .Expect("RCPT TO:<bcc@example.com>")
        .SendLine("250 ok")
        .Expect("DATA")
        .SendLine("354 go ahead")
        .ExpectUntil(".")
        .SendLine("250 queued")
        .Expect("QUIT");
    Connect();
    client.SendMail(message);
    Done(Lines({"EHLO client.test", "RSET", "MAIL FROM:<ann@example.com>", "RCPT TO:<one@example.com>",
                "RCPT TO:<two@example.com>", "RCPT TO:<cc@example.com>", "RCPT TO:<bcc@example.com>", "DATA",
                "Subject: hi", "To: someone@example.com", "", "body", "..", ".", "QUIT"}));
}

TEST_P(Smtp, TheMailAgentIsWrittenOnlyOnTheGeneratingPath) {
    client.MailAgent = "Agent 1";
    message.ExtraHeaders.SetHeaderValue("X-Mailer", "old");
    TransactionScript(GreetingScript()).Expect("QUIT");
    Connect();
    client.SendMail(message);
    EXPECT_EQ(message.ExtraHeaders.GetHeaderValue("X-Mailer"), "Agent 1");
    Done(Lines({"EHLO client.test"}) + TransactionLines() + "QUIT\r\n");
    client.MailAgent.clear();
    message.NoEncode = false;
    ScriptedServer generating;
    generating.SendLine("220 mx").Expect("EHLO client.test").SendLine("250 mx");
    TransactionScript(generating).Expect("QUIT");
    generating.Start();
    client.SetPort(generating.Port());
    client.Connect();
    client.SendMail(message);
    client.Disconnect();
    EXPECT_TRUE(generating.Finish());
    EXPECT_EQ(message.ExtraHeaders.IndexOf("X-Mailer: old"), -1);
    EXPECT_EQ(generating.Received().find("X-Mailer"), std::string::npos);
}

TEST_P(Smtp, LoginHappensOnceAfterTheFirstResetOfAConnection) {
    client.SetAuthenticationType(TAuthenticationType::atLogin);
    client.Username = "user";
    client.Password = "pass";
    ScriptedServer& s = server.SendLine("220 mx")
                            .Expect("EHLO client.test")
                            .Send(Lines({"250-mx", "250 AUTH LOGIN"}))
                            .Expect("RSET")
                            .SendLine("250 ok")
                            .Expect("AUTH LOGIN")
                            .SendLine("334 VXNlcm5hbWU6")
                            .Expect("dXNlcg==")
                            .SendLine("334 UGFzc3dvcmQ6")
                            .Expect("cGFzcw==")
                            .SendLine("235 ok")
                            .Expect("MAIL FROM:<ann@example.com>")
                            .SendLine("250 ok")
                            .Expect("RCPT TO:<fwd@example.com>")
                            .SendLine("250 ok")
                            .Expect("DATA")
                            .SendLine("354 go")
                            .ExpectUntil(".")
                            .SendLine("250 queued");
    TransactionScript(s).Expect("QUIT");
    Connect();
    client.SendMail(message);
    EXPECT_TRUE(client.Authenticated);
    client.SendMail(message);
    client.Disconnect();
    EXPECT_FALSE(client.Authenticated);
    EXPECT_TRUE(server.Finish());
    EXPECT_THAT(server.Mismatches(), IsEmpty());
}

TEST_P(Smtp, LoginNotOfferedIsSkipped) {
    client.SetAuthenticationType(TAuthenticationType::atLogin);
    TransactionScript(GreetingScript()).Expect("QUIT");
    Connect();
    client.SendMail(message);
    Done(Lines({"EHLO client.test"}) + TransactionLines() + "QUIT\r\n");
}

TEST_P(Smtp, RefusedCommandsCarryTheirCodeAndTheNextTransactionStartsWithReset) {
    struct Case {
        const char* refused;
        const char* reply;
        int code;
    };
    for (const Case& c : {Case{"MAIL FROM:<ann@example.com>", "550 relaying denied", 550},
                          Case{"RCPT TO:<fwd@example.com>", "450 mailbox busy", 450},
                          Case{"DATA", "554 no data", 554}, Case{".", "552 too big", 552}}) {
        ScriptedServer s;
        s.ByteAtATime(GetParam()).SendLine("220 mx").Expect("EHLO client.test").SendLine("250 mx");
        const std::vector<std::pair<std::string, std::string>> steps = {
            {"RSET", "250 ok"},
            {"MAIL FROM:<ann@example.com>", "250 ok"},
            {"RCPT TO:<fwd@example.com>", "250 ok"},
            {"DATA", "354 go"},
            {".", "250 queued"}};
        for (const auto& [command, reply] : steps) {
            if (command == ".") s.ExpectUntil(".");
            else s.Expect(command);
            if (command == c.refused) {
                s.SendLine(c.reply);
                break;
            }
            s.SendLine(reply);
        }
        TransactionScript(s).Expect("QUIT");
        s.Start();
        client.SetHost("127.0.0.1");
        client.SetPort(s.Port());
        client.Connect();
        auto e = Raised<EMailProtocolReplyError>([&] { client.SendMail(message); });
        ASSERT_TRUE(e) << c.refused;
        EXPECT_EQ(e->ReplyCode, c.code);
        EXPECT_EQ(e->Message(), std::string(c.reply).substr(4) + "\r\n");
        EXPECT_TRUE(client.IsConnected());
        client.SendMail(message);
        client.Disconnect();
        EXPECT_TRUE(s.Finish());
        EXPECT_THAT(s.Mismatches(), IsEmpty()) << c.refused;
    }
}

TEST_P(Smtp, CloseDuringDataReachesTheCaller) {
    GreetingScript()
        .Expect("RSET")
        .SendLine("250 ok")
        .Expect("MAIL FROM:<ann@example.com>")
        .SendLine("250 ok")
        .Expect("RCPT TO:<fwd@example.com>")
        .SendLine("250 ok")
        .Expect("DATA")
        .SendLine("354 go")
        .Close();
    Connect();
    EXPECT_THROW(client.SendMail(message), EMailException);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_NO_THROW(client.Disconnect());
    EXPECT_TRUE(server.Finish());
}

TEST_P(Smtp, AFailureWhileWritingTheContentClosesTheConnection) {
    message.NoEncode = false;
    message.MessageParts.Add<TMailAttachment>("/nonexistent/file.bin");
    GreetingScript()
        .Expect("RSET")
        .SendLine("250 ok")
        .Expect("MAIL FROM:<ann@example.com>")
        .SendLine("250 ok")
        .Expect("RCPT TO:<fwd@example.com>")
        .SendLine("250 ok")
        .Expect("DATA")
        .SendLine("354 go");
    Connect();
    EXPECT_THROW(client.SendMail(message), EFOpenError);
    EXPECT_FALSE(client.IsConnected());
    client.Disconnect();
    EXPECT_TRUE(server.Finish());
    const std::string received = server.Received();
    EXPECT_EQ(received.find("\r\n.\r\n"), std::string::npos);
    EXPECT_EQ(received.find("QUIT"), std::string::npos);
}

TEST_P(Smtp, AddressesWithLineBreaksAreNeverSent) {
    GreetingScript().Expect("QUIT");
    Connect();
    message.From.Address = "ann@example.com>\r\nRCPT TO:<victim@example.com";
    EXPECT_THROW(client.SendMail(message), EMailException);
    message.From.Address = "ann@example.com";
    message.BccList.Add().Address = "x@example.com\nDATA";
    auto e = Raised<EMailException>([&] { client.SendMail(message); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "Invalid character (CR, LF or NUL) in recipient address.");
    EXPECT_THROW(client.VerifyAddress("a\r\nb"), EMailException);
    Done(Lines({"EHLO client.test", "QUIT"}));
}

TEST_P(Smtp, ExpandAndVerify) {
    GreetingScript()
        .Expect("VRFY bob")
        .SendLine("252 Bob <bob@example.com>")
        .Expect("VRFY ann")
        .SendLine("250 Ann <ann@example.com>")
        .Expect("EXPN list")
        .SendLine("251 ok")
        .Expect("QUIT");
    Connect();
    EXPECT_THROW(client.VerifyAddress("bob"), EMailProtocolReplyError);
    EXPECT_EQ(client.VerifyAddress("ann"), "Ann <ann@example.com>");
    client.ExpandList("list");
    Done(Lines({"EHLO client.test", "VRFY bob", "VRFY ann", "EXPN list", "QUIT"}));
}

TEST(SmtpSettings, CoupledSettersAndAssign) {
    TMailSMTP smtp;
    EXPECT_EQ(smtp.Port(), 25);
    EXPECT_TRUE(smtp.UseEhlo());
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
    source.Username = "u";
    source.Password = "p";
    source.HeloName = "not copied";
    smtp.Assign(source);
    EXPECT_EQ(smtp.AuthenticationType(), TAuthenticationType::atLogin);
    EXPECT_TRUE(smtp.UseEhlo());
    EXPECT_EQ(smtp.Host(), "mx.example.com");
    EXPECT_EQ(smtp.Port(), 587);
    EXPECT_EQ(smtp.MailAgent, "agent");
    EXPECT_EQ(smtp.Username, "u");
    EXPECT_EQ(smtp.Password, "p");
    EXPECT_EQ(smtp.HeloName, "");
}
