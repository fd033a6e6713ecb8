// Server fields: "host", "host:port", "[IPv6]:port"; the standard ports follow the encryption.
#include <gtest/gtest.h>

#include "app/settings/ServerEndpoint.h"
#include "app/settings/ServerSettings.h"

namespace tarnwick::test {
namespace {

void ExpectEndpoint(const std::string& text, int defaultPort, const std::string& host, int port) {
    const TServerEndpoint endpoint = ParseServerText(text, defaultPort);
    EXPECT_EQ(endpoint.Host, host) << text;
    EXPECT_EQ(endpoint.Port, port) << text;
}

TEST(ServerEndpointTest, HostsPortsAndIPv6Literals) {
    ExpectEndpoint("pop.example.jp", 110, "pop.example.jp", 110);
    ExpectEndpoint("127.0.0.1:11110", 110, "127.0.0.1", 11110);
    ExpectEndpoint("[::1]:995", 110, "::1", 995);
    ExpectEndpoint("[::1]", 465, "::1", 465);
    // Anything that is not a port in range stays the host text as typed.
    for (const char* text : {"::1", "host:", ":25", "host:0", "host:65536", "host:12a", "host:123456", "[::1]x",
                             "[::1]:", "[::1"})
        ExpectEndpoint(text, 25, text, 25);
}

TEST(ServerEndpointTest, SecurityNamesAndStandardPorts) {
    EXPECT_EQ(SecurityFromName(""), TSecurity::None);  // a file from before the choice
    EXPECT_EQ(SecurityFromName("starttls"), TSecurity::StartTLS);
    EXPECT_EQ(SecurityFromName("TLS"), TSecurity::TLS);
    EXPECT_EQ(SecurityFromName("SSL"), TSecurity::TLS);  // never plain by mistake
    for (TSecurity s : {TSecurity::None, TSecurity::StartTLS, TSecurity::TLS})
        EXPECT_EQ(SecurityFromName(SecurityName(s)), s);
    EXPECT_EQ(DefaultPort(TServerKind::Pop3, TSecurity::None), 110);
    EXPECT_EQ(DefaultPort(TServerKind::Pop3, TSecurity::StartTLS), 110);
    EXPECT_EQ(DefaultPort(TServerKind::Pop3, TSecurity::TLS), 995);
    EXPECT_EQ(DefaultPort(TServerKind::Pop3, TSecurity::StartTLS, TReceiveProtocol::Imap), 143);
    EXPECT_EQ(DefaultPort(TServerKind::Pop3, TSecurity::TLS, TReceiveProtocol::Imap), 993);
    EXPECT_EQ(DefaultPort(TServerKind::Smtp, TSecurity::None), 25);
    EXPECT_EQ(DefaultPort(TServerKind::Smtp, TSecurity::StartTLS), 587);
    EXPECT_EQ(DefaultPort(TServerKind::Smtp, TSecurity::TLS), 465);
}

}  // namespace
}  // namespace tarnwick::test
