// Writes to a peer that stopped reading: they end under the read time-out, as a read that gets no
// data does, over plain text and TLS; and an abort from another thread ends a write, a connect
// and a TLS handshake that would otherwise wait.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "net/MailAbort.h"
#include "net/MailExceptions.h"
#include "net/MailTCPClient.h"
#include "support/LoopbackClient.h"
#include "support/Raised.h"
#include "support/TestCertificates.h"

using namespace tarnwick;
using namespace tarnwick::test;
using ::testing::IsEmpty;

namespace {

// Far more than the socket buffers of both sides hold once the server's window is small.
const std::string kBulk(16 * 1024 * 1024, 'x');

class StalledPeer : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        tls = GetParam();
        server.ReceiveBuffer(4096);
        if (tls) {
            server.UseCertificate(Certificates().server.cert, Certificates().server.key).ImplicitTLS();
            client.Security = TMailSecurity::msTLS;
            client.CAFile = Certificates().caCert;
        }
    }
    void Connect() { ConnectTo(server, client, 2000); }
    // The server reads again only once the client gave up, so that it can see the end.
    void Done() {
        server.Release();
        client.Disconnect();
        EXPECT_TRUE(server.Finish());
        EXPECT_THAT(server.Mismatches(), IsEmpty());
    }

    bool tls = false;
    ScriptedServer server;
    TMailTCPClient client;
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(PlainAndTls, StalledPeer, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Tls" : "Plain"; });

TEST_P(StalledPeer, AWriteThatCannotProgressEndsUnderTheReadTimeOut) {
    server.StopReading();
    Connect();
    client.ReadTimeout = 200;
    auto e = Raised<EMailWriteTimeout>([&] { client.WriteText(kBulk); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "Write Timeout");
    // Part of the text may have gone: the connection is given up, and nothing more is sent.
    EXPECT_FALSE(client.IsConnected());
    Done();
}

TEST_P(StalledPeer, AnAbortEndsABlockedWrite) {
    TMailAbort abort;
    TMailIOHandlerAbortable transport(abort);
    client.SetIOHandler(&transport);
    server.StopReading();
    Connect();
    client.ReadTimeout = 600000;  // only the abort can end the write in time
    std::thread aborter([&] {
        // Whether the write is already blocked or not yet begun, it must end.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        abort.Abort();
    });
    try {
        client.WriteText(kBulk);
        ADD_FAILURE() << "the write ended without an error";
    } catch (const EMailWriteTimeout&) {
        ADD_FAILURE() << "the write ran into its time-out";
    } catch (const EMailException&) {
    }
    aborter.join();
    Done();
}

TEST(AbortedHandshake, AnAbortEndsAStalledTlsHandshake) {
    TMailAbort abort;
    TMailIOHandlerAbortable transport(abort);
    ScriptedServer server;
    server.Hold();  // never answers the client's hello
    server.Start();
    TMailTCPClient client;
    client.SetIOHandler(&transport);
    client.Security = TMailSecurity::msTLS;
    client.ReadTimeout = 600000;
    client.SetHost("127.0.0.1");
    client.SetPort(server.Port());
    std::thread aborter([&] {
        // The hello has reached the server: the client waits for the answer (or is about to).
        while (server.Received().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        abort.Abort();
    });
    try {
        client.Connect(2000);
        ADD_FAILURE() << "the handshake ended without an error";
    } catch (const EMailReadTimeout&) {
        ADD_FAILURE() << "the handshake ran into its time-out";
    } catch (const EMailException&) {
    }
    aborter.join();
    EXPECT_FALSE(client.IsConnected());
    EXPECT_TRUE(server.Finish());
    EXPECT_EQ(server.HungUp(), 1);
}
