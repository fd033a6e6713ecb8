// Smoke test of the local POP3 (RFC 1939) and SMTP (RFC 5321) test servers over plain sockets, so a
// failure here points at the test setup rather than at the clients under test.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/MailServers.h"

namespace tarnwick::test {
namespace {

// A blocking line-oriented loopback connection; every read gives up after 10 s.
class Line {
public:
    Line(const std::string& host, int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        timeval tv{10, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET, host.c_str(), &addr.sin_addr);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~Line() { ::close(fd_); }
    bool Connected() const { return connected_; }

    void Send(const std::string& text) {
        std::string data = text + "\r\n";
        ASSERT_EQ(::send(fd_, data.data(), data.size(), MSG_NOSIGNAL), static_cast<ssize_t>(data.size()));
    }
    // One line without its CR LF; empty when the peer closed or went silent.
    std::string Read() {
        for (;;) {
            size_t end = buffer_.find("\r\n");
            if (end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 2);
                return line;
            }
            char chunk[4096];
            ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) {
                closed_ = true;
                return "";
            }
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }
    // A multi-line POP3 answer after its status line, up to the "." line, dot-stuffing undone.
    std::vector<std::string> ReadBlock() {
        std::vector<std::string> lines;
        for (std::string line = Read(); line != "."; line = Read()) {
            if (closed_) {
                ADD_FAILURE() << "connection ended inside a multi-line answer";
                break;
            }
            lines.push_back(line.rfind("..", 0) == 0 ? line.substr(1) : line);
        }
        return lines;
    }
    // The last line of a (possibly multi-line) SMTP reply.
    std::string ReadReply() {
        std::string line = Read();
        while (line.size() > 3 && line[3] == '-') line = Read();
        return line;
    }
    std::string Command(const std::string& text) {
        Send(text);
        return Read();
    }

private:
    int fd_ = -1;
    bool connected_ = false;
    bool closed_ = false;
    std::string buffer_;
};

std::string Md5Hex(const std::string& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(data.data(), data.size(), digest, &len, EVP_md5(), nullptr);
    std::string hex;
    char two[3];
    for (unsigned int i = 0; i < len; ++i) {
        std::snprintf(two, sizeof two, "%02x", digest[i]);
        hex += two;
    }
    return hex;
}

bool Ok(const std::string& line) { return line.rfind("+OK", 0) == 0; }

TEST(MailServersSmoke, Pop3ListsAndRetrievesDroppedMessagesWithUserPassAndApop) {
    TARNWICK_REQUIRE_MAIL_SERVERS(servers);
    servers->DropPop3Message("From: a@example.jp\nSubject: one\n\nfirst\n.starts with a dot\n");
    servers->DropPop3Message("From: b@example.jp\r\nSubject: two\r\n\r\nsecond\r\n");

    {
        Line pop(servers->pop3Host, servers->pop3Port);
        ASSERT_TRUE(pop.Connected());
        ASSERT_TRUE(Ok(pop.Read()));
        ASSERT_TRUE(Ok(pop.Command("USER " + servers->pop3User)));
        ASSERT_TRUE(Ok(pop.Command("PASS " + servers->pop3Pass)));
        ASSERT_TRUE(Ok(pop.Command("UIDL")));
        std::vector<std::string> listing = pop.ReadBlock();
        ASSERT_EQ(listing.size(), 2u);
        EXPECT_EQ(listing[0].rfind("1 ", 0), 0u);
        EXPECT_EQ(listing[1].rfind("2 ", 0), 0u);
        ASSERT_TRUE(Ok(pop.Command("RETR 1")));
        EXPECT_EQ(pop.ReadBlock(), (std::vector<std::string>{"From: a@example.jp", "Subject: one", "", "first",
                                                              ".starts with a dot"}));
        ASSERT_TRUE(Ok(pop.Command("RETR 2")));
        EXPECT_EQ(pop.ReadBlock().back(), "second");
        EXPECT_TRUE(Ok(pop.Command("QUIT")));
    }
    {
        Line pop(servers->pop3Host, servers->pop3Port);
        std::string greeting = pop.Read();
        size_t lt = greeting.find('<'), gt = greeting.find('>', lt);
        ASSERT_NE(gt, std::string::npos) << "no APOP time stamp in " << greeting;
        std::string stamp = greeting.substr(lt, gt - lt + 1);
        EXPECT_FALSE(Ok(pop.Command("APOP " + servers->pop3User + " " + Md5Hex(stamp + "wrong"))));
    }
    {
        Line pop(servers->pop3Host, servers->pop3Port);
        std::string greeting = pop.Read();
        size_t lt = greeting.find('<'), gt = greeting.find('>', lt);
        std::string stamp = greeting.substr(lt, gt - lt + 1);
        ASSERT_TRUE(Ok(pop.Command("APOP " + servers->pop3User + " " + Md5Hex(stamp + servers->pop3Pass))));
        ASSERT_TRUE(Ok(pop.Command("UIDL")));
        EXPECT_EQ(pop.ReadBlock().size(), 2u);
        EXPECT_TRUE(Ok(pop.Command("QUIT")));
    }

    servers->ClearPop3Maildir();
    Line pop(servers->pop3Host, servers->pop3Port);
    ASSERT_TRUE(Ok(pop.Read()));
    ASSERT_TRUE(Ok(pop.Command("USER " + servers->pop3User)));
    ASSERT_TRUE(Ok(pop.Command("PASS " + servers->pop3Pass)));
    ASSERT_TRUE(Ok(pop.Command("UIDL")));
    EXPECT_TRUE(pop.ReadBlock().empty());
    pop.Command("QUIT");
}

TEST(MailServersSmoke, Pop3RefusesAWrongPassword) {
    TARNWICK_REQUIRE_MAIL_SERVERS(servers);
    Line pop(servers->pop3Host, servers->pop3Port);
    ASSERT_TRUE(Ok(pop.Read()));
    ASSERT_TRUE(Ok(pop.Command("USER " + servers->pop3User)));
    EXPECT_EQ(pop.Command("PASS not-" + servers->pop3Pass).rfind("-ERR", 0), 0u);
}

TEST(MailServersSmoke, SmtpDeliversEveryRecipientIntoTheCatchAllMaildir) {
    TARNWICK_REQUIRE_MAIL_SERVERS(servers);
    Line smtp(servers->smtpHost, servers->smtpPort);
    ASSERT_TRUE(smtp.Connected());
    ASSERT_EQ(smtp.ReadReply().substr(0, 3), "220");
    smtp.Send("EHLO tester");
    ASSERT_EQ(smtp.ReadReply().substr(0, 3), "250");
    EXPECT_EQ(smtp.Command("RSET").substr(0, 3), "250");
    EXPECT_EQ(smtp.Command("MAIL FROM:<sender@example.jp>").substr(0, 3), "250");
    EXPECT_EQ(smtp.Command("RCPT TO:<taro@docomo.ne.jp>").substr(0, 3), "250");
    EXPECT_EQ(smtp.Command("RCPT TO:<hanako@ezweb.ne.jp>").substr(0, 3), "250");
    EXPECT_EQ(smtp.Command("DATA").substr(0, 3), "354");
    const std::string message = "From: sender@example.jp\r\nSubject: forwarded\r\n\r\nbody\r\n.line with a dot\r\n";
    smtp.Send("From: sender@example.jp\r\nSubject: forwarded\r\n\r\nbody\r\n..line with a dot\r\n.");
    EXPECT_EQ(smtp.ReadReply().substr(0, 3), "250");
    EXPECT_EQ(smtp.Command("QUIT").substr(0, 3), "221");

    std::vector<DeliveredMessage> got = servers->WaitForDelivered(2);
    ASSERT_EQ(got.size(), 2u);
    std::vector<std::string> recipients{got[0].OriginalTo(), got[1].OriginalTo()};
    std::sort(recipients.begin(), recipients.end());
    EXPECT_EQ(recipients, (std::vector<std::string>{"hanako@ezweb.ne.jp", "taro@docomo.ne.jp"}));
    for (const DeliveredMessage& m : got) {
        EXPECT_EQ(m.ReturnPath(), "sender@example.jp");
        EXPECT_EQ(m.SentCrLf(), message);  // nothing added or changed on the way
    }
    servers->ClearDelivered();
    EXPECT_TRUE(servers->Delivered().empty());
}

}  // namespace
}  // namespace tarnwick::test
