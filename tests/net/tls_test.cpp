// POP3 and SMTP over TLS against scripted loopback servers: implicit TLS, STLS and STARTTLS,
// refused certificates, and servers that misbehave around or inside the session. Each run with
// whole replies and with the server answering one byte (one TLS record) at a time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "message/MailMessage.h"
#include "net/MailAbort.h"
#include "net/MailExceptions.h"
#include "net/MailIOHandlerSSL.h"
#include "net/MailPOP3.h"
#include "net/MailSMTP.h"
#include "support/Raised.h"
#include "support/TestCertificates.h"
#include "support/Transcript.h"

using namespace tarnwick;
using namespace tarnwick::test;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

class Tls : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        server.ByteAtATime(GetParam());
        server.UseCertificate(certs.server.cert, certs.server.key);
        pop3.Username = "bob";
        pop3.Password = "secret";
        pop3.CAFile = certs.caCert;
        smtp.HeloName = "client.test";
        smtp.Username = "user";
        smtp.Password = "pass";
        smtp.CAFile = certs.caCert;
    }
    // By address the certificate's IP entry is checked, by name (SNI sent) its DNS entry.
    template <class Client>
    void Start(Client& client, ScriptedServer& s, const std::string& host = "127.0.0.1") {
        s.Start();
        client.SetHost(host);
        client.SetPort(s.Port());
    }
    // The server must have seen exactly these client lines (decrypted) and nothing amiss.
    void Done(ScriptedServer& s, const std::string& expected) {
        EXPECT_TRUE(s.Finish());
        EXPECT_THAT(s.Mismatches(), IsEmpty());
        EXPECT_EQ(s.Received(), expected);
    }

    const TestCertificates& certs = Certificates();
    ScriptedServer server;
    TMailPOP3 pop3;
    TMailSMTP smtp;
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(WholeAndByteAtATime, Tls, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "ByteAtATime" : "Whole"; });

// --- sessions that stand

TEST_P(Tls, Pop3ImplicitTlsLogsInAndRetrieves) {
    server.ImplicitTLS();
    Converse(server, {{"", "+OK ready"}, {"USER bob", "+OK"}, {"PASS secret", "+OK in"},
                      {"RETR 1", "+OK\r\nSubject: over tls\r\n\r\n..dotted\r\nline two\r\n."}});
    pop3.Security = TMailSecurity::msTLS;
    Start(pop3, server);
    pop3.Connect();
    TMailMessage message;
    ASSERT_TRUE(pop3.RetrieveMessage(1, message));
    EXPECT_EQ(message.Subject, "over tls");
    EXPECT_THAT(Items(message.Body), ElementsAre(".dotted", "line two"));
    pop3.Disconnect();
    Done(server, CrLf({"USER bob", "PASS secret", "RETR 1", "QUIT"}));
}

TEST_P(Tls, Pop3StlsSendsUserAndPasswordOnlyOverTls) {
    // A USER in plain text would have reached the handshake and broken it (a mismatch).
    Converse(server, {{"", "+OK ready"}, {"STLS", "+OK begin TLS"}});
    server.StartTLS();
    Converse(server, {{"USER bob", "+OK"}, {"PASS secret", "+OK in"}});
    pop3.Security = TMailSecurity::msStartTLS;
    Start(pop3, server);
    pop3.Connect();
    pop3.Disconnect();
    Done(server, CrLf({"STLS", "USER bob", "PASS secret", "QUIT"}));
    EXPECT_EQ(server.ServerName(), "");  // no SNI for an address
}

TEST_P(Tls, Pop3OverTlsLogsInWithUserAndPassWhateverTheGreetingOffers) {
    Converse(server, {{"", "+OK ready <1896.697170952@dbc.mtview.ca.us>"}, {"STLS", "+OK begin TLS"}});
    server.StartTLS();
    Converse(server, {{"USER bob", "+OK"}, {"PASS secret", "+OK in"}});
    pop3.Security = TMailSecurity::msStartTLS;
    pop3.PreferChallenge = true;
    Start(pop3, server);
    pop3.Connect();
    pop3.Disconnect();
    Done(server, CrLf({"STLS", "USER bob", "PASS secret", "QUIT"}));
}

TEST_P(Tls, SmtpStartTlsGreetsAgainAndAuthenticatesOverTls) {
    smtp.SetAuthenticationType(TAuthenticationType::atAuto);
    Converse(server, {{"", "220 mx"}, {"EHLO client.test", "250-mx\r\n250-AUTH LOGIN\r\n250 STARTTLS"},
                      {"STARTTLS", "220 go ahead"}});
    server.StartTLS();
    // What the plain-text EHLO offered counts no more: PLAIN is offered only now.
    Converse(server, {{"EHLO client.test", "250-mx\r\n250 AUTH PLAIN LOGIN"},
                      {"AUTH PLAIN AHVzZXIAcGFzcw==", "235 2.7.0 ok"}});
    smtp.Security = TMailSecurity::msStartTLS;
    Start(smtp, server, "localhost");
    smtp.Connect();
    EXPECT_THAT(Items(smtp.Capabilities), ElementsAre("AUTH"));
    EXPECT_TRUE(smtp.Authenticate());
    smtp.Disconnect();
    Done(server, CrLf({"EHLO client.test", "STARTTLS", "EHLO client.test", "AUTH PLAIN AHVzZXIAcGFzcw==", "QUIT"}));
    EXPECT_EQ(server.ServerName(), "localhost");
}

// --- certificates refused: the login ends with the reason, and no credentials ever leave

TEST_P(Tls, RefusedCertificatesEndTheLoginBeforeAnyCredentials) {
    struct Case {
        CertificateFiles served;
        bool trustCA;
        std::string host;
        std::string reason;
    };
    const Case cases[] = {
        {certs.server, false, "127.0.0.1", "unable to get local issuer certificate"},
        {certs.selfSigned, true, "127.0.0.1", "self-signed certificate"},
        {certs.wrongName, true, "127.0.0.1", "IP address mismatch"},
        {certs.wrongName, true, "localhost", "hostname mismatch"},
        {certs.expired, true, "localhost", "certificate has expired"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        // POP3 through STLS, SMTP straight into TLS: the user name, password and AUTH never go out.
        ScriptedServer popServer, smtpServer;
        for (ScriptedServer* s : {&popServer, &smtpServer}) {
            s->ByteAtATime(GetParam());
            s->UseCertificate(c.served.cert, c.served.key);
        }
        Converse(popServer, {{"", "+OK ready"}, {"STLS", "+OK begin TLS"}}).OfferTLS();
        smtpServer.ImplicitTLS(true);
        TMailPOP3 client;
        client.Username = "bob";
        client.Password = "secret";
        client.Security = TMailSecurity::msStartTLS;
        TMailSMTP sender;
        sender.SetAuthenticationType(TAuthenticationType::atAuto);
        sender.Username = "user";
        sender.Password = "pass";
        sender.Security = TMailSecurity::msTLS;
        if (c.trustCA) client.CAFile = sender.CAFile = certs.caCert;
        Start(client, popServer, c.host);
        Start(sender, smtpServer, c.host);

        auto popError = Raised<EMailCertificateError>([&] { client.Connect(); });
        auto smtpError = Raised<EMailCertificateError>([&] { sender.Connect(); });
        ASSERT_TRUE(popError && smtpError);
        EXPECT_EQ(popError->Message(), "Certificate verification failed: " + c.reason);
        EXPECT_EQ(smtpError->Message(), "Certificate verification failed: " + c.reason);
        EXPECT_FALSE(client.IsConnected());
        EXPECT_FALSE(sender.IsConnected());
        EXPECT_TRUE(popServer.Finish());
        EXPECT_TRUE(smtpServer.Finish());
        EXPECT_EQ(popServer.Received(), "STLS\r\n");
        EXPECT_EQ(smtpServer.Received(), "");
        EXPECT_EQ(popServer.HungUp(), 1);
        EXPECT_EQ(smtpServer.HungUp(), 1);
        EXPECT_THAT(popServer.Mismatches(), IsEmpty());
    }
}

// --- servers that misbehave

TEST_P(Tls, BytesAheadOfTheHandshakeAreRefused) {
    // They came in plain text after the "+OK": a man in the middle could have written them.
    Converse(server, {{"", "+OK ready"}, {"STLS", ""}}).Offer("+OK begin TLS\r\n+OK USER accepted\r\n").OfferTLS();
    pop3.Security = TMailSecurity::msStartTLS;
    Start(pop3, server);
    // Whole, the client holds the extra line before the handshake; a byte at a time, it may
    // only meet it inside the handshake. Either way the session never stands.
    auto e = Raised<EMailTLSError>([&] { pop3.Connect(); });
    EXPECT_TRUE(e);
    EXPECT_FALSE(pop3.IsConnected());
    EXPECT_TRUE(server.Finish());
    EXPECT_EQ(server.Received(), "STLS\r\n");
    EXPECT_EQ(server.HungUp(), 1);
}

TEST_P(Tls, ASilentServerEndsInAReadTimeoutDuringAndAfterTheHandshake) {
    // The first connection never answers the client's hello; the second stops after a login line.
    server.Hold().Accept().StartTLS();
    Converse(server, {{"", "+OK ready"}, {"USER bob", ""}}).Hold();
    pop3.Security = TMailSecurity::msTLS;
    pop3.ReadTimeout = 300;
    Start(pop3, server);
    auto handshake = Raised<EMailReadTimeout>([&] { pop3.Connect(); });
    ASSERT_TRUE(handshake);
    EXPECT_EQ(handshake->Message(), "Read Timeout");
    auto login = Raised<EMailReadTimeout>([&] { pop3.Connect(); });
    ASSERT_TRUE(login);
    EXPECT_FALSE(pop3.IsConnected());
    EXPECT_TRUE(server.Finish());
    EXPECT_EQ(server.HungUp(), 2);
    EXPECT_THAT(server.Received(), Not(HasSubstr("PASS")));
    EXPECT_THAT(server.Mismatches(), IsEmpty());
}

TEST_P(Tls, AnAbortFromAnotherThreadEndsABlockedTlsRead) {
    TMailAbort abort;
    TMailIOHandlerAbortable transport(abort);
    pop3.SetIOHandler(&transport);
    server.ImplicitTLS();
    Converse(server, {{"", "+OK ready"}, {"USER bob", "+OK"}, {"PASS secret", "+OK in"}, {"RETR 1", ""}}).Hold();
    pop3.Security = TMailSecurity::msTLS;
    Start(pop3, server);
    pop3.Connect();
    std::thread aborter([&] {
        // Once the server holds RETR the client is (or is about to be) waiting for its answer.
        for (int i = 0; i < 6000 && server.Received().find("RETR 1\r\n") == std::string::npos; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        abort.Abort();
    });
    TMailMessage message;
    auto e = Raised<EMailException>([&] { pop3.RetrieveMessage(1, message); });
    aborter.join();
    EXPECT_TRUE(e);
    pop3.Disconnect();
    EXPECT_TRUE(server.Finish());
    EXPECT_EQ(server.HungUp(), 1);
    EXPECT_THAT(server.Mismatches(), IsEmpty());
}

// --- the certificate check itself, on the transport

TEST_P(Tls, AWildcardStandsForAWholeLabelOnly) {
    struct Case {
        std::string host;
        bool accepted;
    };
    const Case cases[] = {{"fxx.wild.example.test", true}, {"fxx.example.test", false}, {"f.example.test", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        ScriptedServer s;
        s.ByteAtATime(GetParam());
        s.UseCertificate(certs.wildcards.cert, certs.wildcards.key);
        s.OfferTLS();
        s.Start();
        TMailIOHandlerSSL transport;
        transport.Open();
        transport.ConnectTo("127.0.0.1", s.Port(), "", 0, 0, 0, -1);
        if (c.accepted) {
            transport.StartTLS(c.host, certs.caCert, 60000);
            EXPECT_TRUE(transport.TLSActive());
        } else {
            auto e = Raised<EMailCertificateError>([&] { transport.StartTLS(c.host, certs.caCert, 60000); });
            ASSERT_TRUE(e);
            EXPECT_EQ(e->Message(), "Certificate verification failed: hostname mismatch");
        }
        transport.Close();
        EXPECT_TRUE(s.Finish());
        EXPECT_THAT(s.Mismatches(), IsEmpty());
    }
}

TEST_P(Tls, ACAFileThatCannotBeReadIsNamedWithTheSystemsReason) {
    const std::string missing = "/nonexistent-tarnwick-dir/ca.pem";
    const std::string notPem = certs.server.key;  // a key, no certificate in it
    struct Case {
        std::string file;
        std::string message;
    };
    const Case cases[] = {
        {missing, "Cannot read the CA file " + missing + ": No such file or directory"},
        {notPem, "Cannot read the CA file " + notPem + ": no certificate or crl found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        ScriptedServer s;
        s.Hold();
        s.Start();
        TMailIOHandlerSSL transport;
        transport.Open();
        transport.ConnectTo("127.0.0.1", s.Port(), "", 0, 0, 0, -1);
        auto e = Raised<EMailTLSError>([&] { transport.StartTLS("localhost", c.file, 60000); });
        ASSERT_TRUE(e);
        EXPECT_EQ(e->Message(), c.message);
        transport.Close();
        EXPECT_TRUE(s.Finish());
        EXPECT_EQ(s.Received(), "");
    }
}
