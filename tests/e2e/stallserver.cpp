// A server for the end-to-end tests that never gets anywhere: it listens on a loopback port (written
// to PORTFILE), the first connection gets no answer at all, every later one a greeting that trickles
// in one byte every 200 ms and never ends. Runs until killed.
//   stallserver PORTFILE
// With "smtp": an SMTP server that takes every command up to DATA, answers 354 and then never reads
// again, so the client's writes of the message stop going anywhere.
//   stallserver PORTFILE smtp
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Say(int connection, const char* line) { (void)::send(connection, line, std::strlen(line), MSG_NOSIGNAL); }

// One connection at a time: commands answered line by line until DATA, then silence with a small
// receive buffer that nobody empties.
int ServeStalledSmtp(int listener) {
    std::vector<int> stalled;
    for (;;) {
        const int connection = ::accept(listener, nullptr, nullptr);
        if (connection < 0) continue;
        const int small = 4096;
        ::setsockopt(connection, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        Say(connection, "220 stall ESMTP\r\n");
        std::string line;
        char c;
        while (::recv(connection, &c, 1, 0) == 1) {
            if (c != '\n') {
                line += c;
                continue;
            }
            const std::string command = line.substr(0, 4);
            line.clear();
            if (command == "EHLO" || command == "HELO") Say(connection, "250 stall\r\n");
            else if (command == "DATA") {
                Say(connection, "354 go ahead\r\n");
                break;
            } else if (command == "QUIT") break;
            else Say(connection, "250 ok\r\n");
        }
        stalled.push_back(connection);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s PORTFILE [smtp]\n", argv[0]);
        return 2;
    }
    const bool smtp = argc == 3;
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
    if (smtp) return ServeStalledSmtp(listener);
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
