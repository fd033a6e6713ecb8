// Logins with an OAuth 2.0 access token (XOAUTH2, OAUTHBEARER) through POP3 AUTH and SMTP AUTH,
// as transcripts against a scripted server answering whole and one byte at a time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "message/Coders.h"
#include "message/MailMessage.h"
#include "net/MailPOP3.h"
#include "net/MailSASL.h"
#include "net/MailSMTP.h"
#include "support/LoopbackClient.h"
#include "support/Raised.h"
#include "support/Transcript.h"

using namespace tarnwick;
using namespace tarnwick::test;
using ::testing::IsEmpty;

namespace {

std::string B64(const std::string& s) { return EncodeTextWith<TMailEncoderMIME>(s); }
std::string Xo(const std::string& token) { return B64("user=bob\x01" "auth=Bearer " + token + "\x01\x01"); }
std::string Bearer(const std::string& token, int port) {
    return B64("n,a=bob,\x01host=127.0.0.1\x01port=" + std::to_string(port) + "\x01" "auth=Bearer " + token +
               "\x01\x01");
}
// The error challenges Dovecot sends for a refused token.
const std::string kXoError = B64(R"({"status":"401","schemes":"bearer","scope":"mail"})");
const std::string kBearerError = B64(R"({"status":"invalid_token","schemes":"bearer","scope":"mail"})");

class OAuthLogin : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { server.ByteAtATime(GetParam()); }
    template <class Client>
    void Connect(Client& client) {
        client.Username = "bob";
        ConnectTo(server, client);
    }
    void Finished() {
        EXPECT_TRUE(server.Finish());
        EXPECT_THAT(server.Mismatches(), IsEmpty());
    }
    ScriptedServer server;
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(WholeAndByteAtATime, OAuthLogin, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "ByteAtATime" : "Whole"; });

// --- POP3

TEST_P(OAuthLogin, Pop3InitialResponseOnTheLineOnlyUpTo255Octets) {
    // "AUTH XOAUTH2 " is 13 octets and CR LF 2: the longest token whose line still fits.
    std::string token = "t";
    while (Xo(token + "t").size() + 15 <= 255) token += 't';
    ASSERT_EQ(Xo(token).size() + 15, 255u);
    const std::string longer = token + "tttt";

    Converse(server, {{"", "+OK ready"}, {"AUTH XOAUTH2 " + Xo(token), "+OK logged in"}, {"QUIT", ""}});
    server.Accept();
    Converse(server, {{"", "+OK ready"}, {"AUTH XOAUTH2", "+ "}, {Xo(longer), "+OK logged in"}, {"QUIT", ""}});
    server.Accept();
    // Two steps also when asked to, whatever the length; a bare "+" is a continuation too.
    Converse(server, {{"", "+OK ready"}, {"AUTH XOAUTH2", "+"}, {Xo("short"), "+OK logged in"}, {"QUIT", ""}});
    TMailPOP3 client;
    client.OAuth.Mechanism = TOAuthMechanism::omXOAuth2;
    client.OAuth.AccessToken = token;
    Connect(client);
    client.Disconnect();
    client.OAuth.AccessToken = longer;
    client.Connect();
    client.Disconnect();
    client.OAuth.AccessToken = "short";
    client.OAuth.TwoStep = true;
    client.Connect();
    client.Disconnect();
    Finished();
}

TEST_P(OAuthLogin, Pop3ChoosesFromTheSaslCapabilityAndAsksAgainAfterTheLogin) {
    const std::string capa = "+OK\r\nUSER\r\nSASL PLAIN XOAUTH2 OAUTHBEARER\r\n.";
    Converse(server, {{"", "+OK ready"}, {"CAPA", capa}, {"AUTH OAUTHBEARER", "+ "},
                      {Bearer("tok", server.Port()), "+OK in"}, {"QUIT", ""}});
    server.Accept();
    // Microsoft's choice; the capabilities after the login are the ones that count.
    Converse(server, {{"", "+OK ready"}, {"CAPA", capa}, {"AUTH XOAUTH2 " + Xo("tok"), "+OK in"},
                      {"CAPA", "+OK\r\nPIPELINING\r\n."}, {"QUIT", ""}});
    TMailPOP3 client;
    client.OAuth.Mechanism = TOAuthMechanism::omAuto;
    client.OAuth.AccessToken = "tok";
    client.OAuth.TwoStep = true;
    Connect(client);
    client.Disconnect();
    client.OAuth.TwoStep = false;
    client.OAuth.PreferXOAuth2 = true;
    client.Connect();
    EXPECT_TRUE(client.Pipelining());
    client.Disconnect();
    Finished();
}

TEST_P(OAuthLogin, Pop3RefusedTokenAnswersTheErrorChallengeAndFails) {
    // The answer to an XOAUTH2 error challenge is an empty line.
    Converse(server, {{"", "+OK ready"}, {"AUTH XOAUTH2 " + Xo("old"), "+ " + kXoError}});
    Converse(server.Expect(""), {{"", "-ERR [AUTH] Authentication failed."}, {"QUIT", ""}});
    server.Accept();
    Converse(server, {{"", "+OK ready"}, {"AUTH OAUTHBEARER", "+ "},
                      {Bearer("old", server.Port()), "+ " + kBearerError}, {"AQ==", "-ERR [AUTH] Authentication failed."},
                      {"QUIT", ""}});
    TMailPOP3 client;
    client.OAuth.Mechanism = TOAuthMechanism::omXOAuth2;
    client.OAuth.AccessToken = "old";
    auto e = Raised<EMailOAuthRefused>([&] { Connect(client); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Status, "401");
    EXPECT_EQ(e->ReplyCode, 2);
    EXPECT_EQ(client.OAuth.ErrorStatus, "401");
    EXPECT_FALSE(client.IsConnected());
    client.OAuth.Mechanism = TOAuthMechanism::omOAuthBearer;
    client.OAuth.TwoStep = true;
    e = Raised<EMailOAuthRefused>([&] { client.Connect(); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Status, "invalid_token");
    EXPECT_EQ(e->Message(), " [AUTH] Authentication failed.\r\n");
    Finished();
}

TEST_P(OAuthLogin, Pop3BadTokenIsRefusedBeforeAnythingIsSent) {
    TMailPOP3 client;
    client.OAuth.Mechanism = TOAuthMechanism::omXOAuth2;
    client.OAuth.AccessToken = "tok\r\nDELE 1";
    client.Username = "bob";
    client.SetHost("127.0.0.1");
    client.SetPort(server.Port());
    EXPECT_TRUE(Raised<EMailException>([&] { client.Connect(); }));
    EXPECT_EQ(server.Connections(), 0);
}

// --- SMTP

TEST_P(OAuthLogin, SmtpMechanismAndFormFollowTheOfferAndTheLineLimit) {
    const std::string offer = "250-mx\r\n250 AUTH PLAIN XOAUTH2 OAUTHBEARER";
    const std::string longToken(600, 'x');
    Converse(server, {{"", "220 mx"}, {"EHLO client.test", offer},
                      {"AUTH OAUTHBEARER " + Bearer("tok", server.Port()), "235 ok"}, {"QUIT", ""}});
    server.Accept();
    // Microsoft: XOAUTH2 although OAUTHBEARER is offered; a long token in two steps.
    Converse(server, {{"", "220 mx"}, {"EHLO client.test", offer}, {"AUTH XOAUTH2", "334 "},
                      {Xo(longToken), "235 2.7.0 Authentication successful"}, {"QUIT", ""}});
    TMailSMTP client;
    client.HeloName = "client.test";
    client.SetAuthenticationType(TAuthenticationType::atOAuth2);
    client.OAuth.AccessToken = "tok";
    Connect(client);
    EXPECT_TRUE(client.Authenticate());
    client.Disconnect();
    client.OAuth.PreferXOAuth2 = true;
    client.OAuth.AccessToken = longToken;
    client.Connect();
    EXPECT_TRUE(client.Authenticate());
    client.Disconnect();
    Finished();
}

TEST_P(OAuthLogin, SmtpRefusedTokenOrNoOAuthOffered) {
    Converse(server, {{"", "220 mx"}, {"EHLO client.test", "250-mx\r\n250 AUTH XOAUTH2 OAUTHBEARER"},
                      {"AUTH OAUTHBEARER " + Bearer("old", server.Port()), "334 " + kBearerError},
                      {"AQ==", "535 5.7.8 Error: authentication failed"}, {"QUIT", ""}});
    server.Accept();
    Converse(server, {{"", "220 mx"}, {"EHLO client.test", "250-mx\r\n250 AUTH PLAIN LOGIN"}, {"QUIT", ""}});
    TMailSMTP client;
    client.HeloName = "client.test";
    client.SetAuthenticationType(TAuthenticationType::atOAuth2);
    client.OAuth.AccessToken = "old";
    Connect(client);
    auto refused = Raised<EMailOAuthRefused>([&] { client.Authenticate(); });
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->ReplyCode, 535);
    EXPECT_EQ(refused->Status, "invalid_token");
    client.Disconnect();
    auto none = Raised<EMailException>([&] { client.Connect(); });
    ASSERT_TRUE(none);
    EXPECT_EQ(none->Message(), "The SMTP server offers neither XOAUTH2 nor OAUTHBEARER.");
    EXPECT_FALSE(client.IsConnected());
    Finished();
}

TEST_P(OAuthLogin, SmtpLogsInOncePerConnectionBeforeTheFirstMail) {
    TMailMessage message;
    message.NoEncode = true;
    message.Headers.SetText("Subject: hi\r\n");
    message.Body.SetText("body\r\n");
    message.From.SetText("ann@example.com");
    message.Recipients.ParseAddresses("fwd@example.com");
    Converse(server, {{"", "220 mx"}, {"EHLO client.test", "250-mx\r\n250 AUTH XOAUTH2"}, {"RSET", "250 ok"},
                      {"AUTH XOAUTH2 " + Xo("tok"), "235 ok"}, {"MAIL FROM:<ann@example.com>", "250 ok"},
                      {"RCPT TO:<fwd@example.com>", "250 ok"}, {"DATA", "354 go"}, {".", "250 queued"},
                      {"RSET", "250 ok"}, {"MAIL FROM:<ann@example.com>", "250 ok"},
                      {"RCPT TO:<fwd@example.com>", "250 ok"}, {"DATA", "354 go"}, {".", "250 queued"},
                      {"QUIT", ""}});
    TMailSMTP client;
    client.HeloName = "client.test";
    client.SetAuthenticationType(TAuthenticationType::atOAuth2);
    client.OAuth.AccessToken = "tok";
    Connect(client);
    client.SendMail(message);
    client.SendMail(message);
    client.Disconnect();
    Finished();
}

// --- the pieces

TEST(OAuthSasl, ResponsesChoiceAndCredentialChecks) {
    EXPECT_EQ(XOAuth2Response("a@b.c", "T"), std::string("user=a@b.c\x01" "auth=Bearer T\x01\x01"));
    EXPECT_EQ(OAuthBearerResponse("a,=b", "mx", 995, "T"),
              std::string("n,a=a=2C=3Db,\x01host=mx\x01port=995\x01" "auth=Bearer T\x01\x01"));
    struct Case {
        TOAuthMechanism set;
        bool prefer, xo, bearer;
        TOAuthMechanism chosen;
    } cases[] = {
        {TOAuthMechanism::omAuto, false, true, true, TOAuthMechanism::omOAuthBearer},
        {TOAuthMechanism::omAuto, true, true, true, TOAuthMechanism::omXOAuth2},
        {TOAuthMechanism::omAuto, true, false, true, TOAuthMechanism::omOAuthBearer},
        {TOAuthMechanism::omAuto, false, true, false, TOAuthMechanism::omXOAuth2},
        {TOAuthMechanism::omAuto, false, false, false, TOAuthMechanism::omXOAuth2},
        {TOAuthMechanism::omXOAuth2, false, false, true, TOAuthMechanism::omXOAuth2},
    };
    for (const Case& c : cases) {
        TOAuthLogin login;
        login.Mechanism = c.set;
        login.PreferXOAuth2 = c.prefer;
        EXPECT_EQ(ChooseOAuthMechanism(login, c.xo, c.bearer), c.chosen);
    }
    EXPECT_NO_THROW(CheckOAuthCredentials("bob", "eyJ.abc-_~+/="));
    for (const char* token : {"", "a b", "a\x01", "a\r\nQUIT"})
        EXPECT_THROW(CheckOAuthCredentials("bob", token), EMailException) << token;
    EXPECT_THROW(CheckOAuthCredentials("bo\x01" "b", "tok"), EMailException);
}

TEST(OAuthSasl, ErrorStatusOfTheChallenge) {
    struct Case {
        std::string json, status;
    } cases[] = {
        {R"({"status":"401","schemes":"bearer"})", "401"},
        {R"( { "schemes" : ["a", {"b": [1, 2]}], "status" : "invalid_token" } )", "invalid_token"},
        {R"({"status":400})", "400"},
        {R"({"nested":{"status":"no"}})", ""},
        {R"({"status":)", ""},
        {R"(["status","401"])", ""},
        {R"({"a":"\"status\"","status":"x\"y"})", "x\"y"},
        {"not json", ""},
        {"", ""},
        {std::string(100, '['), ""},
    };
    for (const Case& c : cases) EXPECT_EQ(OAuthErrorStatus(B64(c.json)), c.status) << c.json;
    EXPECT_EQ(OAuthErrorStatus("%%%not base64"), "");
    EXPECT_EQ(OAuthErrorStatus(B64("{\"status\":\"\x01\xff" + std::string(100, 'z') + "\"}")).size(), 64u);
}
