// Server fields: the standard port, and "host:port" in builds made for testing.
#include <gtest/gtest.h>

#include "app/ServerEndpoint.h"

namespace tarnwick::test {
namespace {

TEST(ServerEndpointTest, PlainHostsUseTheStandardPort) {
    const TServerEndpoint endpoint = ParseServerText("pop.example.jp", 110);
    EXPECT_EQ(endpoint.Host, "pop.example.jp");
    EXPECT_EQ(endpoint.Port, 110);
}

TEST(ServerEndpointTest, HostAndPortOnlyWhereTheBuildAllowsIt) {
    const TServerEndpoint endpoint = ParseServerText("127.0.0.1:11110", 110);
    if (!ServerPortsAllowed()) {
        EXPECT_EQ(endpoint.Host, "127.0.0.1:11110");
        EXPECT_EQ(endpoint.Port, 110);
        return;
    }
    EXPECT_EQ(endpoint.Host, "127.0.0.1");
    EXPECT_EQ(endpoint.Port, 11110);
    // Anything that is not one colon and a port in range stays the host text as typed.
    for (const char* text : {"::1", "host:", ":25", "host:0", "host:65536", "host:12a", "host:123456"}) {
        const TServerEndpoint kept = ParseServerText(text, 25);
        EXPECT_EQ(kept.Host, text);
        EXPECT_EQ(kept.Port, 25);
    }
}

}  // namespace
}  // namespace tarnwick::test
