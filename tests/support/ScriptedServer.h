#pragma once
// Loopback test peers for the protocol tests.
//
// ScriptedServer: a TCP server on 127.0.0.1 (ephemeral port) that runs a script of steps on its
// own thread for each test, and records every byte the client sent.
//
//     ScriptedServer server;
//     server.SendLine("+OK ready").Expect("USER bob").SendLine("+OK").Expect("QUIT");
//     server.Start();
//     client.SetPort(server.Port()); ... client.Disconnect();
//     EXPECT_TRUE(server.Finish());            // script done and connection over
//     EXPECT_THAT(server.Mismatches(), IsEmpty());
//
// Steps run in order on the first accepted connection (Accept() moves to the next one). When the
// script ends with the connection still open, the server keeps reading (and recording) until
// the client closes. Expect steps never block the test: a step that gets nothing for
// StepTimeoutMs records a mismatch and the script stops.
//
// Tests never race the client against a server still sending: where the client may give up
// part-way, the script says so with Offer (the client may hang up during it) or Hold (the server
// waits for the test or for the hang-up). After such an allowed hang-up the rest of that
// connection's steps are skipped without a mismatch, and HungUp() tells the test it happened.
//
// TLS: with UseCertificate, ImplicitTLS() handshakes at every accept and StartTLS() at that point of
// the script (after the "+OK" to STLS, say). From then on every step goes through the session
// (ByteAtATime and Trickle: one record per byte) and Received() records the decrypted bytes.
// OfferTLS() is the handshake a client may give up (a certificate it refuses): that counts as a
// hang-up, and TLSFailure() tells why the handshake ended.
//
// ScriptedServer(true) listens on ::1 instead (HasIPv6Loopback() says whether the machine has it).
// A server that stops reading: ReceiveBuffer(small) before Start, then StopReading() in the script.
//
// FullBacklogListener: a listener that never accepts and whose queue is full, so that a connect
// to it gets no answer (for connect time-outs). RefusingPort: a bound port with no listener, so
// that a connect to it is refused.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ssl_ctx_st;
struct ssl_st;

namespace tarnwick::test {

class ScriptedServer {
public:
    // ipv6: on ::1 rather than 127.0.0.1.
    explicit ScriptedServer(bool ipv6 = false);
    ~ScriptedServer();  // stops the script and closes every socket
    static bool HasIPv6Loopback();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    // --- script steps (add them before Start)
    ScriptedServer& Send(std::string bytes);     // these bytes, unchanged
    ScriptedServer& SendLine(std::string line);  // line + CR LF
    // Reads one client line; it must be exactly line + CR LF (else a mismatch is recorded).
    ScriptedServer& Expect(std::string line);
    // Reads client lines until one is exactly line + CR LF (for a message body, say).
    ScriptedServer& ExpectUntil(std::string line);
    ScriptedServer& Pause(int milliseconds);
    // Like Send, but the client may hang up before it has all the bytes (it gave them up).
    ScriptedServer& Offer(std::string bytes);
    // Stays silent (still recording what the client sends) until the test calls Release() or
    // the client hangs up. A test that sees the client raise while the server is held knows the
    // client did so before the rest was sent, without timing anything.
    ScriptedServer& Hold();
    void Release();
    // Reads nothing more (the client's writes stall once the buffers are full) until the test
    // calls Release() or the client hangs up.
    ScriptedServer& StopReading();
    // Each byte in its own send(), intervalMs apart (a slow or hostile server); stops quietly
    // once the client has gone.
    ScriptedServer& Trickle(std::string bytes, int intervalMs);
    // Graceful close: FIN, then the server reads (records) until the client closes.
    ScriptedServer& Close();
    // Abortive close: RST (SO_LINGER 0).
    ScriptedServer& Reset();
    // Ends the current connection (if any) and waits for the next client.
    ScriptedServer& Accept();
    // Server side of the TLS handshake, here in the script; a failure is a mismatch.
    ScriptedServer& StartTLS();
    // The same, but the client may refuse it (a hang-up, as with Offer).
    ScriptedServer& OfferTLS();

    // The certificate (chain) and key every handshake presents; PEM files.
    ScriptedServer& UseCertificate(const std::string& certPemFile, const std::string& keyPemFile);
    // Every connection starts with the handshake, as with StartTLS (or OfferTLS when the client
    // may refuse it).
    ScriptedServer& ImplicitTLS(bool clientMayRefuse = false);

    // Each byte of every Send goes out in its own send() (TCP_NODELAY), so the client sees
    // replies arrive in pieces.
    ScriptedServer& ByteAtATime(bool on = true);
    // The receive buffer of every accepted connection (SO_RCVBUF), set before Start: small, a
    // client's writes fill the window soon.
    ScriptedServer& ReceiveBuffer(int bytes);
    // Only a failing test ever waits this long: it bounds a client that never comes, never
    // sends or never hangs up, with room for a busy machine running sanitized builds.
    int StepTimeoutMs = 60000;

    void Start();
    int Port() const { return port_; }
    // Waits until the script has run and the last connection has ended. False on time-out.
    bool Finish(int timeoutMs = 60000);

    std::string Received() const;                 // all client bytes, every connection
    std::vector<std::string> Mismatches() const;  // one text per failed Expect / time-out
    int Connections() const { return connections_.load(); }
    // How many times the client hung up during an Offer or a Hold.
    int HungUp() const { return hungUp_.load(); }
    // Why the last handshake that failed did (OpenSSL's reason, e.g. a refused certificate's alert).
    std::string TLSFailure() const;
    // The host name the client asked for (SNI) in the last handshake that stood; empty for none.
    std::string ServerName() const;

private:
    struct Step {
        enum Kind {
            kSend, kOffer, kHold, kExpect, kExpectUntil, kPause, kClose, kReset, kAccept, kTrickle, kStartTLS, kOfferTLS,
            kStopReading
        } kind;
        std::string bytes;
        int ms = 0;
    };

    void Run();
    bool AcceptOne();
    void EndConnection();
    bool SendBytes(const std::string& bytes);
    // One write of the connection: plain or through the TLS session; false when it failed.
    bool Write(const char* data, size_t size);
    // 1 handshake done, 0 the client refused or hung up, -1 stopped or timed out.
    int Handshake();
    // Reads more client bytes: 1 some, 0 closed or failed, -1 time-out or stop.
    int ReadSome(int timeoutMs);
    // Reads one line (through LF) into line; false on close / time-out / stop.
    bool ReadLine(std::string& line, int timeoutMs);
    // Reads more client bytes into pending_; false on close / error / time-out / stop.
    bool ReadMore(int timeoutMs);
    void Drain();
    // Waits for Release(): 1 released, 0 the client hung up first, -1 stopped or timed out.
    // reading: takes what the client sends meanwhile (else leaves it in the socket).
    int Held(bool reading = true);
    void Mismatch(std::string text);

    int listenFd_ = -1;
    int wakeFd_ = -1;
    int releaseFd_ = -1;
    int conn_ = -1;
    int port_ = 0;
    bool byteAtATime_ = false;
    bool implicitTLS_ = false;
    bool implicitMayFail_ = false;
    ssl_ctx_st* tlsContext_ = nullptr;
    ssl_st* tls_ = nullptr;  // the session of the current connection, once it stands
    std::vector<Step> steps_;
    std::string pending_;  // client bytes read, consumed by steps from pendingStart_ on
    size_t pendingStart_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::atomic<int> hungUp_{0};
    mutable std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::string received_;
    std::vector<std::string> mismatches_;
    std::string tlsFailure_;
    std::string serverName_;
};

// A loopback listener that never accepts, with its queue kept full: connects to it hang.
class FullBacklogListener {
public:
    FullBacklogListener();
    ~FullBacklogListener();
    FullBacklogListener(const FullBacklogListener&) = delete;
    FullBacklogListener& operator=(const FullBacklogListener&) = delete;
    int Port() const { return port_; }

private:
    int listenFd_ = -1;
    std::vector<int> fillers_;
    int port_ = 0;
};

// A loopback port that is bound but not listening: connects to it are refused.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    int Port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

}  // namespace tarnwick::test
