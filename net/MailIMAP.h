#pragma once
// IMAP client: IMAP4rev2 (RFC 9051) with IMAP4rev1 (RFC 3501) servers in mind, IDLE (RFC 2177),
// LITERAL+/LITERAL- (RFC 7888), SASL-IR (RFC 4959), STARTTLS. The folder is only ever examined
// (read-only) and messages fetched with BODY.PEEK: nothing sets \Seen or deletes.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "net/MailMessageClient.h"
#include "net/MailSASL.h"

namespace tarnwick {

class TMailMessage;
struct TImapResponse;

class TMailIMAP : public TMailMessageClient {
public:
    TMailIMAP();
    ~TMailIMAP() override;

    static constexpr int64_t DefaultMaxMessageSize = 64 * 1024 * 1024;
    // The codes of a refusal in EMailProtocolReplyError::ReplyCode.
    static constexpr int16_t kNo = 2;
    static constexpr int16_t kBad = 3;

    // XOAUTH2/OAUTHBEARER through net/MailSASL, as POP3 does.
    TOAuthLogin OAuth;
    // Largest literal a response may carry, and all of one response's literals together (0 = no
    // limit): a larger one raises EMailMessageTooLarge and closes the connection.
    int64_t MaxMessageSize = DefaultMaxMessageSize;
    // Longest text of one response outside its literals (a SEARCH answer of a large folder is
    // one line), and most values it may hold.
    int32_t MaxResponseText = 8 * 1024 * 1024;
    int32_t MaxResponseValues = 2000000;

    // Greeting (OK / PREAUTH / BYE), CAPABILITY (or the one sent with the OK), STARTTLS when
    // Security is msStartTLS, then LOGIN or AUTHENTICATE. A refused login raises with the
    // server's text and kind permanent refusal; every failure after the TCP connect closes first.
    // A user name or password holding CR, LF or NUL is refused before anything is opened.
    void Connect(int timeout = -1) override;
    // "LOGOUT" when connected (its answer is not awaited), then the close.
    void Disconnect() override;
    // Ignoring case; what the server last said it offers on this connection.
    bool HasCapability(const std::string& name) const;
    const std::vector<std::string>& Capabilities() const { return capabilities_; }

    struct TFolderStatus {
        uint32_t UidValidity = 0, UidNext = 0, Exists = 0;
    };
    // "EXAMINE": the folder (text of this system, sent in the protocol's modified UTF-7) opened
    // read-only. NO/BAD raise with the server's text.
    TFolderStatus Examine(const std::string& folder);
    // "UID SEARCH ALL": the uids in ascending order.
    std::vector<uint32_t> SearchAll();
    // "UID FETCH <set> (UID RFC822.SIZE)": size per uid (uids the server did not return are absent).
    std::map<uint32_t, int64_t> FetchSizes(const std::vector<uint32_t>& uids);
    // "UID FETCH <set> (UID RFC822.SIZE BODY.PEEK[HEADER])": each header block read into a cleared
    // message, in the order of uids; found=false (size -1) for a uid the server did not return.
    using THeaderEvent = std::function<void(size_t index, bool found, int64_t size, TMailMessage& header)>;
    void FetchHeaders(const std::vector<uint32_t>& uids, const THeaderEvent& each);
    // "UID FETCH <uid> (UID BODY.PEEK[])" into message (not cleared first), read as POP3's RETR is
    // read, so that the bytes can go to SMTP unchanged. False when the server returned nothing for
    // the uid (expunged).
    bool FetchMessage(uint32_t uid, TMailMessage& message);

    // IDLE until the server reports a change of the folder (EXISTS/EXPUNGE/RECENT/FETCH), or
    // maxSeconds pass (at most 29 minutes; then the caller idles again), or the stop (Abort)
    // ends it. Sends DONE and reads the tagged OK before returning. A change reported since the
    // last SearchAll (during a fetch, say) returns Changed at once, without IDLE. BYE or a close
    // raises with kind connection lost. The wait is one blocked read, no timer.
    enum class TIdleEnd { Changed, Renew };
    TIdleEnd Idle(int maxSeconds);
    // "NOOP": whether a change was reported since the last SearchAll (for servers without IDLE).
    bool Noop();

    // The message count the server last reported for the examined folder.
    uint32_t Exists() const { return exists_; }

private:
    // A command's text, with the strings that must go as literals between its pieces.
    struct TCommand {
        std::vector<std::string> Texts{std::string()};
        std::vector<std::string> Literals;
        TCommand& Add(const std::string& text);
        TCommand& AddString(const std::string& text);
    };
    using TUntaggedEvent = std::function<bool(TImapResponse& response)>;

    std::vector<std::string> capabilities_;
    uint32_t capabilityUpdates_ = 0;  // how often the server said what it offers
    uint32_t tagNumber_ = 0;
    uint32_t exists_ = 0;
    uint32_t uidValidity_ = 0;
    uint32_t uidNext_ = 0;
    bool changed_ = false;  // an untagged response said the folder changed
    bool loggedIn_ = false;

    std::string NextTag();
    // One whole response: its lines and the literals between them, each literal read by its count.
    TImapResponse ReadResponse();
    std::string ReadResponseLine();
    std::string ReadLiteral(int64_t count);
    // Remembers what an untagged response tells (capabilities, counts, status codes); BYE
    // closes and raises with kind connection lost.
    void TakeUntagged(TImapResponse& response);
    void TakeCode(const TImapResponse& response);
    // Sends a tagged command and reads up to its tagged answer, handing untagged responses to
    // each first (true: taken). Returns the tagged answer; any failure before it closes the
    // connection, since what follows would be taken for later answers.
    TImapResponse Command(const TCommand& command, const TUntaggedEvent& each = {});
    // As Command, raising for NO and BAD.
    TImapResponse CommandOk(const TCommand& command, const TUntaggedEvent& each = {});
    TImapResponse SendAndRead(const std::string& tag, const TCommand& command, const TUntaggedEvent& each);
    TImapResponse ReadTagged(const std::string& tag, const TUntaggedEvent& each);
    // Waits for the continuation request of a command (true) or its tagged answer (false).
    bool AwaitContinuation(const std::string& tag, TImapResponse& answer);
    [[noreturn]] void RaiseRefusal(const TImapResponse& response);

    void AskCapabilities();
    void Login();
    void LoginWithToken();
    // A literal sent without waiting for the server's go-ahead (LITERAL+, LITERAL-).
    bool NonSynchronizing(size_t size) const;
};

}  // namespace tarnwick
