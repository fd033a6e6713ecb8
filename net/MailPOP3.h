#pragma once
// POP3 client (RFC 1939, STLS of RFC 2595, CAPA and PIPELINING of RFC 2449, UTF8 of RFC 6856,
// AUTH of RFC 5034, CRAM-MD5 of RFC 2195): USER/PASS, APOP, CRAM-MD5 or OAuth 2.0 login, UIDL,
// LIST, RETR, TOP and QUIT. Nothing is ever deleted.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/MailMessageClient.h"
#include "net/MailSASL.h"
#include "platform/StringList.h"

namespace tarnwick {

class TMailMessage;
class TStringList;

class TMailPOP3 : public TMailMessageClient {
public:
    TMailPOP3();
    ~TMailPOP3() override;

    static constexpr int64_t DefaultMaxMessageSize = 64 * 1024 * 1024;
    static constexpr int32_t DefaultMaxListingLines = 1000000;

    // Log in with APOP instead of USER and PASS, whatever the server offers.
    bool APOP = false;
    // On a connection without TLS, keep the password off the wire where the server allows it:
    // "AUTH CRAM-MD5" when CAPA lists it in its SASL line, else APOP when the greeting carries a
    // timestamp. A refusal falls back once to USER and PASS, so a server that took those before
    // still does.
    bool PreferChallenge = false;
    // When active, "AUTH" with the access token replaces USER/PASS and APOP; omAuto asks CAPA
    // which mechanisms the server has. A refused token raises EMailOAuthRefused.
    TOAuthLogin OAuth;
    // Largest message RetrieveMessage reads, in bytes as sent (0 = no limit); a larger one raises
    // EMailMessageTooLarge once the limit is passed, so memory stays bounded whatever the
    // server announced.
    int64_t MaxMessageSize = DefaultMaxMessageSize;
    // Most lines of a UIDL listing (0 = no limit); more raise EMailTooManyLines.
    int32_t MaxListingLines = DefaultMaxListingLines;
    // Off: Pipelining() is false without asking the server.
    bool UsePipelining = true;
    // The server's CAPA answer of this connection, once Pipelining() or EnableUtf8() asked for it.
    TStringList Capabilities;

    // Opens the connection, reads the "+OK" greeting, asks for TLS with "STLS" when Security is
    // msStartTLS (a refusal raises EMailTLSError before the user name is sent) and logs in. Any failure after the TCP
    // connect runs Disconnect before the exception passes on. A user name or password holding
    // CR, LF or NUL is refused before anything is opened.
    void Connect(int timeout = -1) override;
    // "QUIT" when connected (its answer is not read), then the close; an exception from writing
    // QUIT reaches the caller after the close.
    void Disconnect() override;
    // The status line: "+OK" gives code 1, "-ERR" code 2 (ignoring case); anything else raises
    // "Unrecognized POP3 Response Header:".
    int16_t ReadReply(const std::vector<int16_t>& allowed = {}) override;

    // "UIDL" (messageNumber < 0: every message's "number id" line is appended to list) or
    // "UIDL n" (list := the reply's text). False on "-ERR".
    bool ListUniqueIds(TStringList& list, int messageNumber = -1);
    // "LIST n": the message's size in octets as the server announces it; -1 on "-ERR" or when
    // the answer holds no size.
    int64_t ListSize(int messageNumber);
    // "RETR n" read into message (which is not cleared first). False on "-ERR", with nothing read.
    // Both: a failure before the whole answer was read (an over-long or unrecognised status
    // line, an over-long content line, a malformed part, a close) closes the connection, since
    // the rest of the answer would be taken for replies; the exception passes on, IsConnected
    // is false and Disconnect sends nothing.
    bool RetrieveMessage(int messageNumber, TMailMessage& message);

    // Whether the server takes commands before earlier ones are answered (its CAPA lists
    // PIPELINING). Asks "CAPA" once per connection; a server without CAPA does not pipeline.
    bool Pipelining();
    // With AskUtf8, Connect asks CAPA after STLS and, before the login (RFC 6856 allows it only
    // then), sends "UTF8" when the server lists it, so that a message with raw 8-bit header text
    // is handed out as it is and not replaced by a notice.
    bool AskUtf8 = false;
    // Whether UTF8 is in force on this connection: the server accepted it before the login.
    bool EnableUtf8() const { return utf8_; }
    // "LIST n" for every number, sent in pipelined batches when the server allows it, else one
    // at a time: the sizes in the same order, -1 where a message has none.
    std::vector<int64_t> ListSizes(const std::vector<int>& messageNumbers);
    // RetrieveMessage in two halves, so that the next message can be asked for while this one
    // is being sent on: SendRetrieve writes "RETR n" at once; ReadRetrieved reads the answer to
    // the oldest RETR not yet read, as RetrieveMessage does.
    void SendRetrieve(int messageNumber);
    bool ReadRetrieved(TMailMessage& message);

    // "TOP n 0": only the message's header lines, read into message as RetrieveMessage reads a
    // whole one (nothing is cleared first). False on "-ERR", with nothing read.
    bool RetrieveHeader(int messageNumber, TMailMessage& message);
    // The header block of every number, asked for in pipelined batches when the server allows
    // it, else one at a time. Each answer is read into a cleared message and handed to each with
    // its index and whether the server gave it; a failure (or an exception from each) while
    // answers are still on their way closes the connection before it passes on.
    using THeaderEvent = std::function<void(size_t index, bool found, TMailMessage& header)>;
    void RetrieveHeaders(const std::vector<int>& messageNumbers, const THeaderEvent& each);

    // The APOP digest: 32 lower-case hexadecimal digits of MD5(timestamp + password).
    static std::string ApopDigest(const std::string& timestamp, const std::string& password);
    // The "<...>" timestamp of a greeting's text, empty when it has none.
    static std::string GreetingTimestamp(const std::string& greeting);

private:
    // Pipelined commands kept in flight before their answers are read: far below what the
    // socket buffers hold, so that neither side can block the other.
    static constexpr size_t kPipelineWindow = 64;
    bool capaAsked_ = false;
    bool utf8_ = false;

    // "CAPA" into Capabilities, once per connection (-ERR leaves it empty).
    void AskCapabilities();
    bool Offers(const std::string& capability);

    void LoginWithToken();
    // PreferChallenge's login: false when the server offers neither method or refused it.
    bool LoginByChallenge(const std::string& greeting);
    bool LoginByCramMD5();
    // The status word's code, as ReadReply gives it, for a line already in LastReply.
    int16_t StatusCode(const std::vector<int16_t>& allowed);

    bool ReadRetrievedAnswer(TMailMessage& message);

    // A command whose answer may run over several lines.
    int16_t SendListCommand(const std::string& command);
};

}  // namespace tarnwick
