// Opening connections: refusal, time-out, unknown host, reuse of the transport, status events.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "net/MailAbort.h"
#include "net/MailExceptions.h"
#include "net/MailIOHandlerSocket.h"
#include "net/MailTCPClient.h"
#include "support/Raised.h"
#include "support/Clock.h"
#include "support/ScriptedServer.h"

using namespace tarnwick;
using tarnwick::test::Raised;
using tarnwick::test::FullBacklogListener;
using tarnwick::test::NowMs;
using tarnwick::test::RefusingPort;
using tarnwick::test::ScriptedServer;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

struct StatusLog {
    std::vector<std::string> texts;
    TMailStatusEvent Handler() {
        return [this](TMailComponent&, TMailStatus, const std::string& text) { texts.push_back(text); };
    }
};

// Names answered with these addresses, in this order, for the life of the object.
struct FakeNames {
    explicit FakeNames(std::map<std::string, std::vector<std::string>> names) {
        TMailStack::SetResolverForTesting([names](const std::string& host) {
            auto found = names.find(host);
            return found != names.end() ? found->second : std::vector<std::string>{};
        });
    }
    ~FakeNames() { TMailStack::SetResolverForTesting({}); }
};

}  // namespace

TEST(Connect, RefusedUnderATimeOutIsReportedAtTheEndOfItsSlice) {
    RefusingPort refusing;
    TMailTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(refusing.Port());
    // A time-out far longer than any stall of a busy machine: a refusal that sat it out would
    // show, and the first slice is waited in any case.
    const int timeout = 60000;
    int64_t start = NowMs();
    auto e = Raised<EMailConnectException>([&] { client.Connect(timeout); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "Socket Error # 10061\r\nConnection refused.");
    int64_t took = NowMs() - start;
    EXPECT_GE(took, 120);
    EXPECT_LT(took, timeout);
    EXPECT_FALSE(client.IsConnected());
}

TEST(Connect, RefusedWithoutTimeOutIsASocketError) {
    RefusingPort refusing;
    TMailTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(refusing.Port());
    auto e = Raised<EMailSocketError>([&] { client.Connect(-1); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->ErrorCode, 10061);
    EXPECT_EQ(e->Message(), "Socket Error # 10061\r\nConnection refused.");
}

TEST(Connect, HostThatDoesNotAnswerTimesOutAfterTheTimeOut) {
    FullBacklogListener silent;
    TMailTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(silent.Port());
    int64_t start = NowMs();
    auto e = Raised<EMailConnectTimeout>([&] { client.Connect(2000); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "Connect timed out.");
    int64_t took = NowMs() - start;
    EXPECT_GE(took, 1950);
    // The connect thread is cut off, not waited for: the system's own connect time-out is over
    // a minute.
    EXPECT_LT(took, 60000);
    EXPECT_FALSE(client.IsConnected());
    ASSERT_NE(client.SocketHandler(), nullptr);
    EXPECT_FALSE(client.SocketHandler()->Binding()->HandleAllocated());
}

TEST(Connect, UnknownHostFailsAtOnceWithoutConnecting) {
    TMailTCPClient client;
    StatusLog log;
    client.OnStatus = log.Handler();
    client.SetHost("no such host");  // rejected by the resolver without asking any server
    client.SetPort(110);
    auto e = Raised<EMailSocketError>([&] { client.Connect(2000); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->ErrorCode, 11001);
    EXPECT_EQ(e->Message(), "Socket Error # 11001\r\nHost not found.");
    EXPECT_THAT(log.texts, ElementsAre("Resolving hostname no such host."));
}

TEST(Connect, StatusEventsOfAConnectAndDisconnect) {
    ScriptedServer server;
    server.Start();
    TMailTCPClient client;
    StatusLog log;
    client.OnStatus = log.Handler();
    int connected = 0;
    client.OnConnected = [&](TMailComponent&) { ++connected; };
    client.SetHost("127.0.0.1");
    client.SetPort(server.Port());
    client.Connect(2000);
    EXPECT_EQ(connected, 1);
    EXPECT_EQ(client.SocketHandler()->Binding()->PeerPort(), server.Port());
    client.Disconnect();
    EXPECT_TRUE(server.Finish());
    // A dotted host is not resolved; the transport reports its own steps.
    EXPECT_THAT(log.texts, ElementsAre("Connecting to 127.0.0.1.", "Connected.", "Disconnecting.", "Disconnected."));
    EXPECT_EQ(client.IOHandler(), nullptr);  // the self-created transport is freed
}

TEST(Connect, LocalhostInAnyCaseIsLoopback) {
    ScriptedServer server;
    server.SendLine("+OK hi").Expect("QUIT");
    server.Start();
    TMailTCPClient client;
    client.SetHost("LocalHost");
    client.SetPort(server.Port());
    client.Connect(2000);
    EXPECT_EQ(client.ReadLine(), "+OK hi");
    client.WriteLine("QUIT");
    client.Disconnect();
    EXPECT_TRUE(server.Finish());
    EXPECT_THAT(server.Mismatches(), IsEmpty());
}

TEST(Connect, AlreadyConnectedLeavesTheOpenConnectionUntouched) {
    ScriptedServer server;
    server.Expect("STILL HERE").SendLine("+OK");
    server.Start();
    TMailTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(server.Port());
    client.Connect(2000);
    auto e = Raised<EMailAlreadyConnected>([&] { client.Connect(2000); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "Already connected.");
    EXPECT_TRUE(client.IsConnected());
    EXPECT_EQ(client.SendCommand("STILL HERE"), 0);
    EXPECT_EQ(client.LastReply.TextCode(), "+OK");
    client.Disconnect();
    EXPECT_TRUE(server.Finish());
    EXPECT_THAT(server.Mismatches(), IsEmpty());
    EXPECT_EQ(server.Connections(), 1);
}

TEST(Connect, FailedConnectKeepsTheTransportForTheNextAttempt) {
    RefusingPort refusing;
    ScriptedServer server;
    server.SendLine("220 ready").Expect("QUIT");
    server.Start();
    TMailTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(refusing.Port());
    EXPECT_THROW(client.Connect(2000), EMailConnectException);
    TMailIOHandler* transport = client.IOHandler();
    ASSERT_NE(transport, nullptr);
    client.SetPort(server.Port());
    client.Connect(2000);
    EXPECT_EQ(client.IOHandler(), transport);
    EXPECT_EQ(client.ReadReply({220}), 220);
    client.WriteLine("QUIT");
    client.Disconnect();
    EXPECT_TRUE(server.Finish());
    EXPECT_THAT(server.Mismatches(), IsEmpty());
}

TEST(Connect, StaleInputDoesNotSurviveIntoTheNextConnection) {
    ScriptedServer server;
    server.Send("220 one\r\nleft over\r\n").Accept().SendLine("220 two");
    server.Start();
    TMailTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(server.Port());
    client.Connect(2000);
    EXPECT_EQ(client.ReadReply({220}), 220);
    // Make sure the left-over line has arrived before the close.
    while (client.InputBuffer().Size() < 11) client.FillInputBuffer();
    client.Disconnect();
    client.Connect(2000);
    EXPECT_EQ(client.ReadLine(), "220 two");
    client.Disconnect();
    EXPECT_TRUE(server.Finish());
}

TEST(Connect, AnAssignedTransportIsNotFreedByDisconnect) {
    ScriptedServer server;
    server.SendLine("hello").Accept().SendLine("again");
    server.Start();
    TMailIOHandlerSocket transport;
    TMailTCPClient client;
    client.SetIOHandler(&transport);
    client.SetHost("127.0.0.1");
    client.SetPort(server.Port());
    client.Connect(-1);
    EXPECT_EQ(client.ReadLine(), "hello");
    client.Disconnect();
    EXPECT_EQ(client.IOHandler(), &transport);
    client.Connect(-1);
    EXPECT_EQ(client.ReadLine(), "again");
    client.Disconnect();
    EXPECT_TRUE(server.Finish());
}

TEST(Connect, ATransportDestroyedElsewhereIsForgotten) {
    TMailTCPClient client;
    {
        TMailIOHandlerSocket transport;
        client.SetIOHandler(&transport);
        EXPECT_EQ(client.IOHandler(), &transport);
    }
    EXPECT_EQ(client.IOHandler(), nullptr);
    EXPECT_EQ(client.SocketHandler(), nullptr);
}

TEST(Connect, ReadTimeoutOnASilentServer) {
    ScriptedServer server;
    server.Hold();  // silent until the client hangs up
    server.Start();
    TMailTCPClient client;
    client.ReadTimeout = 100;
    client.SetHost("127.0.0.1");
    client.SetPort(server.Port());
    client.Connect(2000);
    auto e = Raised<EMailReadTimeout>([&] { client.ReadLine(); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "Read Timeout");
    // An explicit time-out does not raise; the line counts as timed out.
    EXPECT_EQ(client.ReadLine("\n", 50), "");
    EXPECT_TRUE(client.LineTimedOut());
    client.Disconnect();
    EXPECT_TRUE(server.Finish());
    EXPECT_THAT(server.Mismatches(), IsEmpty());
}

TEST(Connect, StackLivesWhileAnyComponentLives) {
    int before = TMailComponent::LiveComponents();
    {
        TMailTCPClient a;
        EXPECT_NE(TMailStack::Instance(), nullptr);
        EXPECT_EQ(TMailComponent::LiveComponents(), before + 1);
    }
    EXPECT_EQ(TMailComponent::LiveComponents(), before);
    if (before == 0) {
        EXPECT_EQ(TMailStack::Instance(), nullptr);
    }
}

// --- every address of a name, both families

TEST(Connect, IPv6LiteralsConnectWithoutALookup) {
    if (!ScriptedServer::HasIPv6Loopback()) GTEST_SKIP() << "no ::1 on this machine";
    ScriptedServer server(true);
    server.SendLine("+OK over IPv6").Expect("QUIT");
    server.Start();
    TMailTCPClient client;
    StatusLog log;
    client.OnStatus = log.Handler();
    client.SetHost("::1");
    client.SetPort(server.Port());
    client.Connect(2000);
    EXPECT_EQ(client.SocketHandler()->Binding()->PeerIP(), "::1");
    EXPECT_EQ(client.ReadLine(), "+OK over IPv6");
    client.WriteLine("QUIT");
    client.Disconnect();
    EXPECT_TRUE(server.Finish());
    EXPECT_THAT(server.Mismatches(), IsEmpty());
    EXPECT_THAT(log.texts, ElementsAre("Connecting to ::1.", "Connected.", "Disconnecting.", "Disconnected."));
}

TEST(Connect, EachAddressOfANameIsTriedInTheResolversOrderUntilOneConnects) {
    // The server listens on 127.0.0.1 only: the same port on the other addresses refuses.
    std::vector<std::string> refusing = {"127.0.0.2"};
    if (ScriptedServer::HasIPv6Loopback()) refusing.insert(refusing.begin(), "::1");
    std::vector<std::string> addresses = refusing;
    addresses.push_back("127.0.0.1");
    FakeNames names({{"mail.example.test", addresses}, {"down.example.test", refusing}});
    ScriptedServer server;
    server.SendLine("220 second").Expect("QUIT");
    server.Start();
    TMailTCPClient client;
    StatusLog log;
    client.OnStatus = log.Handler();
    client.SetHost("mail.example.test");
    client.SetPort(server.Port());
    client.Connect(2000);
    EXPECT_EQ(client.ReadLine(), "220 second");
    client.WriteLine("QUIT");
    client.Disconnect();
    EXPECT_TRUE(server.Finish());
    std::vector<std::string> expected = {"Resolving hostname mail.example.test."};
    for (const std::string& address : addresses) expected.push_back("Connecting to " + address + ".");
    expected.insert(expected.end(), {"Connected.", "Disconnecting.", "Disconnected."});
    EXPECT_EQ(log.texts, expected);

    // None answers: the last address's failure, in the socket layer's words.
    client.SetHost("down.example.test");
    auto e = Raised<EMailConnectException>([&] { client.Connect(2000); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "Socket Error # 10061\r\nConnection refused.");
    EXPECT_FALSE(client.IsConnected());
}

TEST(Connect, AnAbortEndsAStalledConnectAndTriesNoFurtherAddress) {
    FullBacklogListener silent;
    FakeNames names({{"silent.example.test", {"127.0.0.1", "127.0.0.1"}}});
    TMailAbort abort;
    TMailIOHandlerAbortable transport(abort);
    StatusLog log;
    std::atomic<bool> connecting{false};
    transport.OnStatus = [&](TMailComponent& sender, TMailStatus status, const std::string& text) {
        log.Handler()(sender, status, text);
        if (status == TMailStatus::hsConnecting) connecting = true;
    };
    TMailTCPClient client;
    client.SetIOHandler(&transport);
    client.SetHost("silent.example.test");
    client.SetPort(silent.Port());
    std::thread aborter([&] {
        while (!connecting) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        abort.Abort();
    });
    // Far longer than the test may take: only the abort can end it so, and as EMailAborted.
    auto e = Raised<EMailAborted>([&] { client.Connect(600000); });
    aborter.join();
    ASSERT_TRUE(e);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_THAT(log.texts, ElementsAre("Resolving hostname silent.example.test.", "Connecting to 127.0.0.1."));
}
