// Socket layer: error texts, addresses, socket sets, binding.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <string>

#include "net/MailExceptions.h"
#include "net/MailSocketHandle.h"
#include "net/MailStack.h"
#include "net/MailTCPClient.h"
#include "support/Raised.h"

using namespace tarnwick;
using tarnwick::test::Raised;

TEST(SocketErrorText, TableEntriesAndUnknownNumbers) {
    EXPECT_EQ(TMailStack::TranslateError(10061), "Socket Error # 10061\r\nConnection refused.");
    EXPECT_EQ(TMailStack::TranslateError(11001), "Socket Error # 11001\r\nHost not found.");
    EXPECT_EQ(TMailStack::TranslateError(10035), "Socket Error # 10035\r\nOperation would block. ");
    EXPECT_EQ(TMailStack::TranslateError(10066), "Socket Error # 10066\r\nDirectory not empty");
    EXPECT_EQ(TMailStack::TranslateError(10058),
              "Socket Error # 10058\r\nCannot send or receive after socket is closed.");
    EXPECT_EQ(TMailStack::TranslateError(12345), "Socket Error # 12345\r\n");
    EXPECT_EQ(TMailStack::TranslateError(10093), "Socket Error # 10093\r\n");
}

TEST(SocketErrorText, LinuxErrorsMapToTheWindowsNumbers) {
    EXPECT_EQ(TMailStackLinux::ErrnoToSocketError(ECONNREFUSED), 10061);
    EXPECT_EQ(TMailStackLinux::ErrnoToSocketError(ECONNRESET), 10054);
    EXPECT_EQ(TMailStackLinux::ErrnoToSocketError(EPIPE), 10054);
    EXPECT_EQ(TMailStackLinux::ErrnoToSocketError(EBADF), 10009);
    EXPECT_EQ(TMailStackLinux::ErrnoToSocketError(ENOTSOCK), 10038);
}

TEST(SocketErrorText, CheckSocketResult) {
    TMailStackLinux stack;
    EXPECT_FALSE(stack.CheckSocketResult(0));
    errno = ECONNREFUSED;
    EXPECT_TRUE(stack.CheckSocketResult(-1, {10061}));
    EXPECT_EQ(stack.LastError(), 10061);
    errno = ECONNRESET;
    auto e = Raised<EMailSocketError>([&] { stack.CheckSocketResult(-1, {10061}); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->ErrorCode, 10054);
    EXPECT_EQ(e->Message(), "Socket Error # 10054\r\nConnection reset by peer.");
    EXPECT_EQ(stack.LastError(), 10054);
}

TEST(Addresses, DottedQuads) {
    EXPECT_TRUE(TMailStack::IsDottedQuad("127.0.0.1"));
    EXPECT_TRUE(TMailStack::IsDottedQuad("0.0.0.0"));
    EXPECT_TRUE(TMailStack::IsDottedQuad("255.255.255.255"));
    EXPECT_FALSE(TMailStack::IsDottedQuad("1.2.3"));
    EXPECT_FALSE(TMailStack::IsDottedQuad("1.2.3.256"));
    EXPECT_FALSE(TMailStack::IsDottedQuad("1.2.3.4.5"));
    EXPECT_FALSE(TMailStack::IsDottedQuad("1..3.4"));
    EXPECT_FALSE(TMailStack::IsDottedQuad("1.2.3."));
    EXPECT_FALSE(TMailStack::IsDottedQuad("mail.example.com"));
    EXPECT_FALSE(TMailStack::IsDottedQuad(""));
    EXPECT_FALSE(TMailStack::IsDottedQuad("-1.2.3.4"));
}

TEST(Addresses, ResolveAnswersLocalhostAndQuadsWithoutALookup) {
    TMailStackLinux stack;
    EXPECT_EQ(stack.Resolve("localhost"), "127.0.0.1");
    EXPECT_EQ(stack.Resolve("LOCALHOST"), "127.0.0.1");
    EXPECT_EQ(stack.Resolve("LocalHost"), "127.0.0.1");
    EXPECT_EQ(stack.Resolve("127.0.0.9"), "127.0.0.9");
    auto e = Raised<EMailSocketError>([&] { stack.Resolve("no such host"); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->ErrorCode, 11001);
    EXPECT_EQ(e->Message(), "Socket Error # 11001\r\nHost not found.");
}

TEST(Addresses, ServiceNames) {
    TMailStackLinux stack;
    EXPECT_EQ(stack.SockGetServByName("8110"), 8110);
    auto e = Raised<EMailInvalidServiceName>([&] { stack.SockGetServByName("no-such-service-x"); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "no-such-service-x is not a valid service.");
}

TEST(SocketSet, SixtyFourHandlesAtMost) {
    TMailSocketList list;
    for (int i = 0; i < 64; ++i) list.Add(100 + i);
    auto e = Raised<EMailStackSetSizeExceeded>([&] { list.Add(999); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "Set Size Exceeded.");
    list.Remove(100);
    EXPECT_EQ(list.Count(), 63);
    EXPECT_EQ(list.Handle(0), 163);  // the last one moved into the gap
    EXPECT_THROW(list.Handle(63), EMailStackSetSizeExceeded);
}

TEST(SocketSet, SelectReportsOnlyReadySockets) {
    TMailTCPClient keepsStack;
    TMailStack& stack = keepsStack.Stack();
    int pipeA[2], pipeB[2];
    ASSERT_EQ(::pipe(pipeA), 0);
    ASSERT_EQ(::pipe(pipeB), 0);
    ASSERT_EQ(::write(pipeB[1], "x", 1), 1);
    TMailSocketList read;
    read.Add(pipeA[0]);
    read.Add(pipeB[0]);
    EXPECT_EQ(stack.SockSelect(&read, nullptr, nullptr, 50), 1);
    EXPECT_EQ(read.Count(), 1);
    EXPECT_EQ(read.Handle(0), pipeB[0]);
    for (int fd : {pipeA[0], pipeA[1], pipeB[0], pipeB[1]}) ::close(fd);
}

TEST(SocketHandle, ReleaseTwiceAndWithoutSocketDoesNothing) {
    TMailSocketHandle handle;
    handle.Release();
    handle.Allocate(1, 0);
    EXPECT_TRUE(handle.HandleAllocated());
    handle.Release();
    EXPECT_FALSE(handle.HandleAllocated());
    handle.Release();
    EXPECT_THROW(handle.WaitReadable(0), EMailConnClosedGracefully);
}

TEST(SocketHandle, PortRanges) {
    TMailSocketHandle handle;
    handle.Allocate(1, 0);
    handle.IP = "127.0.0.1";
    handle.ClientPortMin = 40010;
    handle.ClientPortMax = 40000;
    auto e = Raised<EMailInvalidPortRange>([&] { handle.Bind(); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "Invalid Port Range (40010 - 40000)");
}

TEST(SocketHandle, PortInUse) {
    TMailSocketHandle first;
    first.Allocate(1, 0);
    first.IP = "127.0.0.1";
    first.Bind();
    ASSERT_NE(first.Port, 0);
    TMailSocketHandle second;
    second.Allocate(1, 0);
    second.IP = "127.0.0.1";
    second.Port = first.Port;
    auto e = Raised<EMailCouldNotBindSocket>([&] { second.Bind(); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "Could not bind socket. Address and port are already in use.");
    second.Port = 0;
    second.ClientPortMin = first.Port;
    second.ClientPortMax = first.Port;
    auto range = Raised<EMailCanNotBindPortInRange>([&] { second.Bind(); });
    ASSERT_TRUE(range);
    std::string port = std::to_string(first.Port);
    EXPECT_EQ(range->Message(), "Can not bind in port range (" + port + " - " + port + ")");
}
