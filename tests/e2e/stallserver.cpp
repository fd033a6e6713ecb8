// A server for the end-to-end test that never gets anywhere: it listens on a loopback port (written
// to PORTFILE), the first connection gets no answer at all, every later one a greeting that trickles
// in one byte every 200 ms and never ends. Runs until killed.
//   stallserver PORTFILE
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PORTFILE\n", argv[0]);
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 8) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 1;
    if (FILE* file = std::fopen(argv[1], "w")) {
        std::fprintf(file, "%d\n", ntohs(address.sin_port));
        std::fclose(file);
    }
    std::vector<int> silent, trickling;
    for (;;) {
        pollfd p{listener, POLLIN, 0};
        if (::poll(&p, 1, 200) > 0) {
            const int connection = ::accept(listener, nullptr, nullptr);
            if (connection >= 0) (silent.empty() && trickling.empty() ? silent : trickling).push_back(connection);
        }
        static const char greeting[] = "+OK this line never ends ";
        static unsigned next = 0;
        const char byte = greeting[next++ % (sizeof greeting - 1)];
        for (int connection : trickling) (void)::send(connection, &byte, 1, MSG_NOSIGNAL);
    }
}
