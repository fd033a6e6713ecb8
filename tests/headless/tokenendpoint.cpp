// The stand-in provider as a program of its own, for the command-line tests: signs with the key of
// scripts/servers (TARNWICK_OAUTH_KEY), prints its port and serves until its standard input closes.
// TARNWICK_TOKEN_REPLY=stall: it takes requests and never answers. Refresh requests are counted on
// standard error.
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/TokenEndpoint.h"

int main() {
    const auto signer = tarnwick::test::TokenSigner::FromEnvironment();
    if (!signer) {
        std::fprintf(stderr, "tokenendpoint: TARNWICK_OAUTH_KEY is not set\n");
        return 2;
    }
    tarnwick::test::TokenEndpoint endpoint(*signer);
    if (const char* reply = std::getenv("TARNWICK_TOKEN_REPLY"); reply && std::string(reply) == "stall")
        endpoint.Reply = tarnwick::test::TokenEndpoint::Replies::Stall;
    endpoint.Start();
    std::printf("%d\n", endpoint.Port());
    std::fflush(stdout);
    char buffer[64];
    int told = 0;
    for (;;) {
        pollfd in{0, POLLIN, 0};
        if (::poll(&in, 1, 50) > 0 && ::read(0, buffer, sizeof buffer) <= 0) break;
        // Each refresh request taken, on standard error: a test can wait for one to be under way.
        if (const int n = endpoint.Requests("refresh_token"); n != told) std::fprintf(stderr, "refresh_token %d\n", told = n);
    }
    return 0;
}
