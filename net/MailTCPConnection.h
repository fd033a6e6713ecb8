#pragma once
// The blocking, buffered line connection the protocol clients stand on: one receive path into an
// input buffer, line reading with a terminator and a line limit, reply reading and checking, and
// writes (sent at once, or gathered in the write buffer while it is open).
#include <chrono>
#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "net/MailBuffer.h"
#include "net/MailComponent.h"
#include "net/MailExceptions.h"
#include "net/MailIOHandler.h"
#include "net/MailReply.h"
#include "platform/StringList.h"

namespace tarnwick {

class TMailIOHandlerSocket;
class TStream;

enum class TMailMaxLineAction { maException, maSplit };

// Optional hook on a connection's data; the clients of this program never set one.
class TMailConnectionIntercept : public TMailComponent {
public:
    virtual void Connect(TMailComponent& connection) {
        if (OnConnect) OnConnect(connection);
    }
    virtual void Disconnect() {
        if (OnDisconnect) OnDisconnect(*this);
    }
    // May change the bytes in place.
    virtual void Receive(std::string& bytes) {
        if (OnReceive) OnReceive(*this, bytes);
    }
    virtual void Send(std::string& bytes) {
        if (OnSend) OnSend(*this, bytes);
    }

    TNotifyEvent OnConnect;
    TNotifyEvent OnDisconnect;
    std::function<void(TMailConnectionIntercept& sender, std::string& bytes)> OnReceive;
    std::function<void(TMailConnectionIntercept& sender, std::string& bytes)> OnSend;
};

class TMailTCPConnection : public TMailComponent {
public:
    static constexpr int32_t DefaultMaxLineLength = 16384;
    static constexpr int32_t DefaultBufferSize = 32768;
    static constexpr int32_t DefaultMaxReplyLines = 1000;
    // A multi-line answer must average at least this many bytes per second once its first
    // ReadTimeout has passed; well below any working link, far above a server that trickles.
    static constexpr int32_t DefaultMinReadRate = 1024;

    TMailTCPConnection();
    ~TMailTCPConnection() override;

    bool ASCIIFilter = false;  // mask received bytes to 7 bits
    TMailRFCReply Greeting;    // reserved; the clients read their greeting into LastReply
    TMailRFCReply LastReply;
    TMailMaxLineAction MaxLineAction = TMailMaxLineAction::maException;
    int32_t MaxLineLength = DefaultMaxLineLength;  // 0 = no limit
    TNotifyEvent OnDisconnected;
    // ms; 0 = wait without limit. It bounds a whole line or reply, not each wait: a peer that
    // sends a byte now and then cannot hold a read open (see also MinReadRate).
    int32_t ReadTimeout = 0;
    // Most lines one reply may take, blank lines before it included (0 = no limit); more raise
    // EMailTooManyLines.
    int32_t MaxReplyLines = DefaultMaxReplyLines;
    // Bytes per second (0 = no pace bound): a multi-line answer (CaptureLines, a message) may
    // take ReadTimeout plus one second for every MinReadRate bytes received.
    int32_t MinReadRate = DefaultMinReadRate;
    int32_t RecvBufferSize = DefaultBufferSize;
    int32_t SendBufferSize = DefaultBufferSize;

    bool PeerClosed() const { return peerClosed_; }
    bool LineWasSplit() const { return lineWasSplit_; }
    bool LineTimedOut() const { return lineTimedOut_; }
    TMailManagedBuffer& InputBuffer() { return inputBuffer_; }

    TMailIOHandler* IOHandler() const { return ioHandler_; }
    // Frees a transport this connection created itself, then uses the given one (not owned).
    void SetIOHandler(TMailIOHandler* handler);
    TMailIOHandlerSocket* SocketHandler() const { return socketHandler_; }
    TMailConnectionIntercept* Intercept() const { return intercept_; }
    void SetIntercept(TMailConnectionIntercept* intercept);

    // --- state
    virtual void FireDisconnected();
    // Empties the input buffer and clears PeerClosed.
    virtual void ResetInput();
    virtual std::string ReadAll();
    // Finds a close (dropping the socket once); with raise, EMailConnClosedGracefully when
    // disconnected and the buffer is empty (or ignoreBuffer). Returns whether disconnected.
    virtual bool CheckDisconnected(bool raise = true, bool ignoreBuffer = false);
    virtual void ProbeDisconnected(bool raise = true);
    virtual int16_t CheckReplyCode(int16_t code, const std::vector<int16_t>& allowed);
    virtual bool IsConnected();
    virtual void Disconnect();
    virtual void DropSocket();

    // --- reading
    virtual int16_t ReadReply(const std::vector<int16_t>& allowed = {});
    [[noreturn]] virtual void RaiseReplyError();
    template <class E>
    [[noreturn]] void RaiseReplyErrorAs() {
        throw E(LastReply.Text.Text());
    }
    // The only receive: bytes received, 0 when the connection closed, -1 on a time-out that
    // does not raise. timeout -1 = ReadTimeout (none when 0).
    virtual int32_t FillInputBuffer(bool raiseIfDisconnected = true, int timeout = -1, bool raiseOnTimeout = true);
    // A line without its terminator (and without a CR before an LF terminator). maxLength -1 =
    // MaxLineLength, 0 = none. An over-long line raises or is split as MaxLineAction says.
    virtual std::string ReadLine(std::string_view terminator = "\n", int timeout = -1, int maxLength = -1);
    // Trimmed lines, skipping empty ones.
    std::string ReadNonEmptyLine(int attempts = INT32_MAX);
    // One reply into LastReply: one line, or the "ccc-" lines up to "ccc ".
    void ReadReplyLines();
    void ReadBytes(void* buffer, int64_t count);
    std::string TakeAvailable();
    // Lines up to the delimiter line (not stored); ".." at a line start loses one dot when
    // unstuffing. Returns the number of lines stored. More than maxLines lines (0 = no limit)
    // raise EMailTooManyLines with tooManyText; the rest of the answer is then still unread.
    int CaptureLines(TStringList& list, std::string_view delimiter = ".", bool unstuff = true, int maxLines = 0,
                     const std::string& tooManyText = {});
    int CaptureLines(TStream& stream, std::string_view delimiter = ".", bool unstuff = true);
    int CaptureLines(std::nullptr_t, std::string_view delimiter = ".", bool unstuff = true);

    // --- commands
    virtual int16_t SendCommand(const std::string& line, const std::vector<int16_t>& allowed);
    // code -1 accepts any reply.
    int16_t SendCommand(const std::string& line, int16_t code = -1);

    // --- writing
    virtual void WriteText(std::string_view text);
    virtual void WriteLine(std::string_view text);
    void WriteBytes(const void* buffer, int64_t count, bool writeNow = false);
    void WriteLines(const TStringList& list, bool writeCount = false);
    void WriteInt32(int32_t value, bool networkOrder = true);
    virtual void WriteFromStream(TStream& stream, bool fromStart = true, bool writeByteCount = false, int64_t size = 0);
    virtual int64_t WriteFileContents(const std::string& fileName, bool allowSystemSend = true);

    // The write buffer gathers writes so that many small lines leave in few large sends.
    // threshold: send when this many bytes are gathered (-1 = SendBufferSize, 0 = only on demand).
    // Before any wait for input the gathered bytes go out, so a command never waits unsent.
    // While it is open, sends do not wait for the peer's acknowledgement of earlier data, so keep
    // it open through the command whose reply is awaited (the end-of-data line, say).
    void OpenWriteBuffer(int32_t threshold = -1);
    // Sends what is gathered now.
    void FlushWriteBuffer();
    // Sends what is gathered and closes the buffer.
    void CloseWriteBuffer();
    // Drops what is gathered; the buffer stays open.
    void ClearWriteBuffer();
    // Drops what is gathered and closes the buffer.
    void CancelWriteBuffer();
    bool WriteBufferOpen() const { return writeBufferOpen_; }
    size_t WriteBufferSize() const { return writeBuffer_.size(); }

    // While one lives, the reads on this connection form one exchange with one deadline:
    // ReadTimeout from its start, paced ones extended by a second per MinReadRate bytes
    // received. Inside a running exchange a new one changes nothing.
    class TReadExchange {
    public:
        TReadExchange(TMailTCPConnection& connection, bool paced);
        ~TReadExchange();
        TReadExchange(const TReadExchange&) = delete;
        TReadExchange& operator=(const TReadExchange&) = delete;

    private:
        TMailTCPConnection& connection_;
        bool owner_ = false;
    };

    // Bounds the bytes of the lines read from now on (a retrieved message; -1 = no limit): a
    // line that would pass the limit raises EMailMessageTooLarge before more of it is buffered.
    // A line "." (the end of the answer) is not counted, nor the stuffed dot of a line "..".
    void LimitContent(int64_t maxBytes) {
        contentLimit_ = maxBytes;
        contentRead_ = 0;
    }
    int64_t ContentLimit() const { return contentLimit_; }

    // The next read looks for bytes before it waits even right after a send: the answer awaited
    // is to a command sent well before (pipelined), and is likely here already.
    void ExpectAnswerWaiting() { sentSinceRead_ = false; }

protected:
    void Notification(TMailComponent* destroyed) override;
    // Makes a transport created by this connection the IOHandler; it is freed on Disconnect.
    void AdoptIOHandler(std::unique_ptr<TMailIOHandler> handler);
    bool FreeTransport() const { return freeTransport_; }

private:
    int CaptureInto(TStringList* list, TStream* stream, std::string_view delimiter, bool unstuff, int maxLines = 0,
                    const std::string& tooManyText = {});
    // Milliseconds left in the running exchange (may be 0 or less).
    int64_t ExchangeMsLeft() const;
    void CountContent(int64_t termPos, int64_t termLength, bool lineComplete);
    void SendNow(const char* bytes, int64_t count);
    void SendGathered();
    void FreeOwnedTransport();

    bool peerClosed_ = false;
    bool freeTransport_ = false;
    TMailManagedBuffer inputBuffer_;
    TMailConnectionIntercept* intercept_ = nullptr;
    TMailIOHandler* ioHandler_ = nullptr;
    std::unique_ptr<TMailIOHandler> ownedTransport_;
    bool lineWasSplit_ = false;
    bool lineTimedOut_ = false;
    std::string scratch_;  // one receive lands here first
    TMailIOHandlerSocket* socketHandler_ = nullptr;
    bool writeBufferOpen_ = false;
    std::string writeBuffer_;
    int32_t writeThreshold_ = 0;
    bool sentSinceRead_ = false;
    bool exchange_ = false;
    bool exchangePaced_ = false;
    std::chrono::steady_clock::time_point exchangeStart_;
    int64_t exchangeReceived_ = 0;
    int64_t contentLimit_ = -1;
    int64_t contentRead_ = 0;
};

}  // namespace tarnwick
