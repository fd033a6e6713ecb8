#pragma once
// Access to the local Dovecot (POP3) and Postfix (SMTP) test instances that scripts/servers starts.
// The servers are described by environment variables (scripts/servers writes them into its env
// file, which scripts/test sources). A test without them skips:
//
//   TEST(Forwarding, ...) {
//       TARNWICK_REQUIRE_MAIL_SERVERS(servers);   // GTEST_SKIP()s when the variables are absent
//       servers->DropPop3Message("Subject: hi\r\n\r\nbody\r\n");
//       ... connect to servers->pop3Host:servers->pop3Port and servers->smtpHost:servers->smtpPort ...
//       auto got = servers->WaitForDelivered(1);
//       ASSERT_EQ(got.size(), 1u);
//       EXPECT_EQ(got[0].OriginalTo(), "user@docomo.ne.jp");
//   }
//
// One test at a time owns the servers: Acquire() waits for an exclusive lock shared by every test
// program (ctest runs programs in parallel), and starts the test with all Maildirs empty.
#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

namespace tarnwick::test {

// One message Postfix delivered, as stored: LF line ends, with the lines Postfix put on top
// (Return-Path, X-Original-To, Delivered-To, its Received header).
struct DeliveredMessage {
    std::string fileName;
    std::string content;

    // The envelope sender and the one envelope recipient this copy was delivered for.
    std::string ReturnPath() const;  // without the angle brackets
    std::string OriginalTo() const;
    // The message as the client sent it (dot-stuffing undone), still with LF line ends.
    std::string WithoutDeliveryTrace() const;
    // WithoutDeliveryTrace() with CR LF line ends, for comparing with what went out on the wire.
    std::string SentCrLf() const;
};

class MailServers {
public:
    // nullptr when the environment does not describe the servers.
    static std::unique_ptr<MailServers> Acquire();
    ~MailServers();
    MailServers(const MailServers&) = delete;
    MailServers& operator=(const MailServers&) = delete;

    std::string pop3Host;
    int pop3Port = 0;
    std::string pop3User, pop3Pass, pop3Maildir;
    std::string pop3User2, pop3Pass2, pop3Maildir2;  // a second mailbox
    std::string smtpHost;
    int smtpPort = 0;
    std::string deliveredMaildir;
    // TLS (0 / empty when the servers were started without it): POP3 STLS on pop3Port, implicit
    // TLS on pop3sPort; SMTP with STARTTLS and AUTH required on submissionPort, implicit TLS and
    // AUTH on smtpsPort (the POP3 users log in). caFile signed the servers' certificate (for
    // 127.0.0.1 and localhost); the env also points SSL_CERT_FILE at it. The other two are for
    // fault servers: a certificate for wrong.example from the same authority, and a self-signed one.
    int pop3sPort = 0, submissionPort = 0, smtpsPort = 0;
    std::string caFile;
    std::string wrongNameCert, wrongNameKey, selfSignedCert, selfSignedKey;
    bool HasTLS() const { return pop3sPort > 0 && submissionPort > 0 && smtpsPort > 0 && !caFile.empty(); }

    // Puts a message (bytes as given; LF or CR LF line ends) into the mailbox as a new message and
    // returns its file name. Messages appear in the POP3 listing in the order they were dropped.
    std::string DropPop3Message(std::string_view bytes) const { return DropMessage(pop3Maildir, bytes); }
    std::string DropMessage(const std::string& maildir, std::string_view bytes) const;
    void ClearPop3Maildir() const;

    // Delivered messages in delivery order (one per recipient).
    std::vector<DeliveredMessage> Delivered() const;
    void ClearDelivered() const;
    // Waits until at least count messages were delivered or the time is up; returns what is there.
    // The limit only bounds a lost delivery: a busy machine may hold Postfix back for seconds.
    std::vector<DeliveredMessage> WaitForDelivered(size_t count,
                                                   std::chrono::milliseconds limit = std::chrono::seconds(60)) const;

private:
    MailServers() = default;
    int lockFd_ = -1;
};

// LF line ends to CR LF (lines already ending in CR LF stay as they are).
std::string ToCrLf(std::string_view text);

}  // namespace tarnwick::test

#define TARNWICK_REQUIRE_MAIL_SERVERS(var)                                                    \
    auto var = ::tarnwick::test::MailServers::Acquire();                                      \
    if (!var) GTEST_SKIP() << "local mail servers not configured (scripts/servers start; "    \
                              "source $TARNWICK_SERVERS_DIR/env)"
