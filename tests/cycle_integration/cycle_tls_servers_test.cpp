// The forwarding cycle over TLS against the local Dovecot and Postfix: each POP3 mode (plain,
// STLS, TLS) and each SMTP mode (plain, STARTTLS with AUTH, TLS with AUTH) forwards byte for
// byte; a refused password or certificate ends the login with a clear line and nothing is sent.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <thread>

#include "cycle/CycleFixture.h"
#include "net/MailPOP3.h"
#include "support/MailServers.h"
#include "support/ScriptedServer.h"
#include "support/TestCertificates.h"
#include "support/VariedMailbox.h"

namespace tarnwick::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_) ::setenv(name_, old_->c_str(), 1);
        else ::unsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

class CycleOverTls : public CycleTest {
protected:
    void SetUp() override {
        CycleTest::SetUp();
        servers_ = MailServers::Acquire();
        if (!servers_ || !servers_->HasTLS())
            GTEST_SKIP() << "local mail servers with TLS not configured (scripts/servers start)";
        // Users trust an authority through the system's store; scripts/servers puts ours there.
        if (std::getenv("SSL_CERT_FILE") == nullptr) trust_.emplace("SSL_CERT_FILE", servers_->caFile);
        cycle_.MailSMTP().HeloName = "tester";
    }

    std::string Pop3Text(TSecurity security) const {
        return servers_->pop3Host + ":" +
               std::to_string(security == TSecurity::TLS ? servers_->pop3sPort : servers_->pop3Port);
    }
    std::string SmtpText(TSecurity security) const {
        const int port = security == TSecurity::TLS        ? servers_->smtpsPort
                         : security == TSecurity::StartTLS ? servers_->submissionPort
                                                           : servers_->smtpPort;
        return servers_->smtpHost + ":" + std::to_string(port);
    }
    // The ports that take AUTH take every POP3 user too; the second one has a space in its password.
    TServerSettings Settings(TSecurity pop3, TSecurity smtp) const {
        TServerSettings settings;
        settings.Pop3User = servers_->pop3User;
        settings.Pop3Pass = servers_->pop3Pass;
        settings.Pop3Server = Pop3Text(pop3);
        settings.Pop3Access.Security = pop3;
        settings.SmtpServer = SmtpText(smtp);
        settings.SmtpAccess.Security = smtp;
        if (smtp != TSecurity::None) {
            settings.SmtpUser = servers_->pop3User2;
            settings.SmtpPass = servers_->pop3Pass2;
        }
        return settings;
    }
    void Run(const TServerSettings& settings) { cycle_.ForwardNewMail(settings, forwardAddress_); }
    // No forwarding line, nothing delivered and no ledger: the message waits for the next cycle.
    void ExpectNothingSent(const std::vector<std::string>& log) {
        EXPECT_THAT(log, Not(Contains(HasSubstr("メール転送("))));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // a stray delivery would show now
        EXPECT_THAT(servers_->Delivered(), IsEmpty());
        EXPECT_FALSE(LedgerExists());
    }

    std::unique_ptr<MailServers> servers_;
    std::optional<ScopedEnv> trust_;
};

TEST_F(CycleOverTls, EveryPop3AndSmtpModeForwardsEveryKindOfMessageByteForByte) {
    const struct {
        TSecurity pop3, smtp;
    } modes[] = {{TSecurity::None, TSecurity::StartTLS},
                 {TSecurity::StartTLS, TSecurity::TLS},
                 {TSecurity::TLS, TSecurity::None}};
    const auto mailbox = VariedMailbox();
    for (const auto& mode : modes) {
        const TServerSettings settings = Settings(mode.pop3, mode.smtp);
        SCOPED_TRACE(settings.Pop3Server + " -> " + settings.SmtpServer);
        servers_->ClearPop3Maildir();
        servers_->ClearDelivered();
        ::unlink(ledgerFile_.c_str());
        std::map<std::string, std::string> sent;  // subject -> message as the server holds it (CR LF)
        for (const auto& [subject, bytes] : mailbox) {
            servers_->DropPop3Message(bytes);
            std::string raw = bytes.substr(bytes.find("Subject: ") + 9);
            sent[raw.substr(0, raw.find('\n'))] = ToCrLf(bytes);
        }

        Run(settings);

        std::vector<std::string> expected = {"POP3サーバにログイン(" + settings.Pop3Server + ")", "メールリストを取得",
                                             "新規メール 11件", "SMTPサーバにログイン(" + settings.SmtpServer + ")"};
        for (const auto& [subject, bytes] : mailbox) expected.push_back("メール転送(" + subject + ")");
        expected.push_back("POP3サーバからログオフ(" + settings.Pop3Server + ")");
        expected.push_back("SMTPサーバからログオフ(" + settings.SmtpServer + ")");
        EXPECT_THAT(TakeLog(), ElementsAreArray(expected));

        servers_->WaitForDelivered(mailbox.size());
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // anything extra would show now
        const std::vector<DeliveredMessage> got = servers_->Delivered();
        ASSERT_EQ(got.size(), mailbox.size());
        for (const DeliveredMessage& m : got) {
            const std::string subject = SubjectOf(m);
            ASSERT_EQ(sent.count(subject), 1u) << "unexpected delivery: " << m.content.substr(0, 300);
            EXPECT_EQ(m.OriginalTo(), forwardAddress_) << subject;
            EXPECT_EQ(m.ReturnPath(), "sender@example.jp") << subject;
            auto [wantHead, wantBody] = SplitMessage(sent[subject]);
            auto [gotHead, gotBody] = SplitMessage(m.SentCrLf());
            EXPECT_EQ(gotHead, wantHead) << subject;
            EXPECT_EQ(gotBody, wantBody) << subject;
            sent.erase(subject);
        }
    }
}

TEST_F(CycleOverTls, AWrongSmtpPasswordEndsTheLoginWithTheServersTextAndSendsNothing) {
    servers_->DropPop3Message("From: a@example.jp\nSubject: held back\n\nbody\n");
    for (TSecurity smtp : {TSecurity::StartTLS, TSecurity::TLS}) {
        TServerSettings settings = Settings(TSecurity::None, smtp);
        settings.SmtpPass = "wrong";
        Run(settings);
        const std::vector<std::string> log = TakeLog();
        // Postfix answers "535 5.7.8 Error: authentication failed: ..."
        EXPECT_THAT(log, Contains(HasSubstr("SMTPサーバにログイン失敗(" + settings.SmtpServer +
                                            ") 【ユーザ名またはパスワードが違います】 5.7.8 Error: authentication failed")));
        ExpectNothingSent(log);
    }
    // The right password then forwards the message that waited.
    Run(Settings(TSecurity::None, TSecurity::StartTLS));
    EXPECT_THAT(TakeLog(), Contains("メール転送(held back)"));
    EXPECT_EQ(servers_->WaitForDelivered(1).size(), 1u);
}

TEST_F(CycleOverTls, AnAuthorityTheSystemDoesNotTrustIsRefusedUnlessItIsTheCAFile) {
    servers_->DropPop3Message("From: a@example.jp\nSubject: for trusted eyes\n\nbody\n");
    {
        // A store that holds some other certificate, not the servers' authority.
        ScopedEnv store("SSL_CERT_FILE", servers_->selfSignedCert);
        const std::string reason = " 【サーバの証明書を信頼できません(期限切れ・自己署名など)。サーバの案内を確認してください】 "
                                   "Certificate verification failed: unable to get local issuer certificate";
        TServerSettings settings = Settings(TSecurity::TLS, TSecurity::None);
        Run(settings);
        std::vector<std::string> log = TakeLog();
        EXPECT_THAT(log, Contains("POP3サーバにログイン失敗(" + settings.Pop3Server + ")" + reason));
        ExpectNothingSent(log);

        settings = Settings(TSecurity::None, TSecurity::StartTLS);
        Run(settings);
        log = TakeLog();
        EXPECT_THAT(log, Contains("SMTPサーバにログイン失敗(" + settings.SmtpServer + ")" + reason));
        ExpectNothingSent(log);

        // The CA file of the settings trusts it.
        settings = Settings(TSecurity::StartTLS, TSecurity::TLS);
        settings.Pop3Access.CAFile = settings.SmtpAccess.CAFile = servers_->caFile;
        Run(settings);
        EXPECT_THAT(TakeLog(), Contains("メール転送(for trusted eyes)"));
    }
    EXPECT_EQ(servers_->WaitForDelivered(1).size(), 1u);
}

TEST_F(CycleOverTls, ACertificateForAnotherNameOrFromNoAuthorityGetsNoCredentials) {
    servers_->DropPop3Message("From: a@example.jp\nSubject: not for them\n\nbody\n");
    // POP3 in TLS from the first byte, with a certificate the authority signed for wrong.example.
    ScriptedServer pop3;
    pop3.UseCertificate(servers_->wrongNameCert, servers_->wrongNameKey).ImplicitTLS(true);
    pop3.Start();
    TServerSettings settings = Settings(TSecurity::TLS, TSecurity::None);
    settings.Pop3Server = "127.0.0.1:" + std::to_string(pop3.Port());
    Run(settings);
    std::vector<std::string> log = TakeLog();
    EXPECT_THAT(log, Contains("POP3サーバにログイン失敗(" + settings.Pop3Server +
                              ") 【サーバ名が証明書の名前と違います。証明書にあるサーバ名を入力してください】 "
                              "Certificate verification failed: IP address mismatch"));
    ExpectNothingSent(log);
    EXPECT_TRUE(pop3.Finish());
    EXPECT_EQ(pop3.Received(), "");

    // SMTP through STARTTLS to a self-signed certificate: AUTH was offered, but never sent.
    ScriptedServer smtp;
    smtp.UseCertificate(servers_->selfSignedCert, servers_->selfSignedKey);
    smtp.SendLine("220 mx").Expect("EHLO tester").SendLine("250-mx\r\n250-AUTH PLAIN LOGIN\r\n250 STARTTLS");
    smtp.Expect("STARTTLS").SendLine("220 go ahead").OfferTLS();
    smtp.Start();
    settings = Settings(TSecurity::None, TSecurity::StartTLS);
    settings.SmtpServer = "127.0.0.1:" + std::to_string(smtp.Port());
    Run(settings);
    log = TakeLog();
    EXPECT_THAT(log, Contains("SMTPサーバにログイン失敗(" + settings.SmtpServer +
                              ") 【サーバの証明書を信頼できません(期限切れ・自己署名など)。サーバの案内を確認してください】 "
                              "Certificate verification failed: self-signed certificate"));
    ExpectNothingSent(log);
    EXPECT_TRUE(smtp.Finish());
    EXPECT_EQ(smtp.Received(), "EHLO tester\r\nSTARTTLS\r\n");
}

// No real server needed: a TLS server that goes quiet inside the session.
TEST_F(CycleTest, ATlsServerThatStopsAnsweringEndsTheLoginInAReadTimeout) {
    const TestCertificates& certs = Certificates();
    ScriptedServer pop3;
    pop3.UseCertificate(certs.server.cert, certs.server.key).ImplicitTLS();
    pop3.SendLine("+OK ready").Expect("CAPA").Hold();
    pop3.Start();
    TServerSettings settings;
    settings.Pop3User = "u";
    settings.Pop3Pass = "p";
    settings.Pop3Server = "127.0.0.1:" + std::to_string(pop3.Port());
    settings.Pop3Access.Security = TSecurity::TLS;
    settings.Pop3Access.CAFile = certs.caCert;
    settings.SmtpServer = "127.0.0.1:1";
    cycle_.MailPOP3().ReadTimeout = 300;
    cycle_.ForwardNewMail(settings, forwardAddress_);
    EXPECT_THAT(TakeLog(), Contains("POP3サーバにログイン失敗(" + settings.Pop3Server + ") 【ログイン中にサーバが応答しなくなりました。ポート番号と暗号化の方式を確認してください】 Read Timeout"));
    EXPECT_TRUE(pop3.Finish());
    EXPECT_EQ(pop3.HungUp(), 1);
    EXPECT_THAT(pop3.Received(), Not(HasSubstr("PASS")));
    EXPECT_THAT(pop3.Mismatches(), IsEmpty());
}

}  // namespace
}  // namespace tarnwick::test
