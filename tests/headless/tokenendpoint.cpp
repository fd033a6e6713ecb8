// The stand-in provider as a program of its own, for the command-line tests: signs with the key of
// scripts/servers (TARNWICK_OAUTH_KEY), prints its port and serves until its standard input closes.
#include <unistd.h>

#include <cstdio>

#include "support/TokenEndpoint.h"

int main() {
    const auto signer = tarnwick::test::TokenSigner::FromEnvironment();
    if (!signer) {
        std::fprintf(stderr, "tokenendpoint: TARNWICK_OAUTH_KEY is not set\n");
        return 2;
    }
    tarnwick::test::TokenEndpoint endpoint(*signer);
    endpoint.Start();
    std::printf("%d\n", endpoint.Port());
    std::fflush(stdout);
    char buffer[64];
    while (::read(0, buffer, sizeof buffer) > 0) {
    }
    return 0;
}
