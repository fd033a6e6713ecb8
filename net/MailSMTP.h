#pragma once
// SMTP client (RFC 5321, STARTTLS of RFC 3207, AUTH of RFC 4954 with PLAIN of RFC 4616, LOGIN,
// XOAUTH2 and OAUTHBEARER of RFC 7628, PIPELINING of RFC 2920, CHUNKING of RFC 3030, 8BITMIME of
// RFC 6152, SIZE of RFC 1870): greet, hand over one message per transaction with its envelope, log off.
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "net/MailExceptions.h"
#include "net/MailMessageClient.h"
#include "net/MailSASL.h"
#include "net/ReversePath.h"
#include "platform/StringList.h"

namespace tarnwick {

class TMailMessage;

// atAuto: PLAIN when the server offers it, else LOGIN. atOAuth2: the access token of OAuth, by the
// mechanism it names (omNone counts as omAuto).
// atAuto: CRAM-MD5 where offered on a connection without TLS (the password stays off the wire),
// else PLAIN, else LOGIN.
enum class TAuthenticationType : uint8_t { atNone, atLogin, atPlain, atAuto, atOAuth2, atCramMD5 };

class TMailSMTP : public TMailMessageClient {
public:
    TMailSMTP();
    ~TMailSMTP() override;

    // Copies AuthenticationType (through its setter), Host, MailAgent, Password, Port, Username,
    // EnvelopeFrom, Security and CAFile.
    void Assign(const TMailSMTP& source);

    bool Authenticated = false;
    // The token login of atOAuth2. A refused token raises EMailOAuthRefused.
    TOAuthLogin OAuth;
    // Schemes offered after "AUTH" in the EHLO reply, upper case, each once. Non-empty while
    // AuthSchemeOffered(atAuto) is false: the server offers AUTH, but none that this client has.
    TStringList AuthSchemes;
    // The keywords of the EHLO reply's extension lines, upper case ("STARTTLS", "AUTH", ...).
    TStringList Capabilities;
    // The reverse-path of every message when not empty; else the path of the message's
    // Return-Path header ("<>" included), else its From address.
    std::string EnvelopeFrom;
    // Value of the message's "X-Mailer" header; empty removes one.
    std::string MailAgent;
    // Name sent with EHLO / HELO; empty means this machine's host name.
    std::string HeloName;
    // With the server's PIPELINING (RFC 2920) a message's RSET, MAIL, RCPT and DATA go out in one
    // write; with its CHUNKING too (RFC 3030), "BDAT n LAST" and a message of at most MaxChunkSize
    // bytes follow in the same write instead of DATA.
    bool UsePipelining = true;
    bool UseChunking = true;
    size_t MaxChunkSize = 4 * 1024 * 1024;
    // Told when a message's sender cannot be a reverse-path and "<>" goes out instead.
    std::function<void(const std::string& address, const std::string& problem)> OnNullSender;

    TAuthenticationType AuthenticationType() const { return authenticationType_; }
    // Any scheme also turns UseEhlo on.
    void SetAuthenticationType(TAuthenticationType value);
    bool UseEhlo() const { return useEhlo_; }
    // False also sets AuthenticationType to atNone.
    void SetUseEhlo(bool value);

    // Opens the connection, reads the 220 greeting and greets with EHLO (HELO when EHLO is
    // refused or UseEhlo is off). With Security msStartTLS, STARTTLS must be offered and accepted
    // (else EMailTLSError), and EHLO is sent again over TLS. Any failure after the TCP connect
    // runs Disconnect first.
    void Connect(int timeout = -1) override;
    // "QUIT" when connected (its answer is not read), then the close; Authenticated := false.
    void Disconnect() override;

    virtual bool AuthSchemeOffered(TAuthenticationType type);
    // AUTH PLAIN or AUTH LOGIN as AuthenticationType says (true); nothing for atNone (false).
    // A refusal raises EMailProtocolReplyError with the server's text. Authenticated := true.
    virtual bool Authenticate();
    // The reverse-path that SendMail sends for the message: made of SenderOf, or "<>" when that
    // cannot be one.
    TReversePath ReversePathOf(const TMailMessage& message) const;
    // RSET, login once per connection when asked for and offered, MAIL FROM, RCPT TO for
    // Recipients, CCList and BccList, DATA, the message, ".". MAIL FROM carries BODY=8BITMIME when
    // the content has 8-bit bytes and the server offers 8BITMIME, and SIZE= when it offers SIZE.
    // A refused command raises EMailProtocolReplyError with the server's code in ReplyCode; a
    // message larger than the server's SIZE limit raises it with 552 before anything is sent.
    // Recipients holding CR, LF or NUL are refused before anything is sent. A failure while the
    // message content is being written closes the connection, so that no partial message can
    // ever be completed.
    virtual void SendMail(TMailMessage& message);
    // A message handed over without waiting for its replies, so that a slow link costs about one
    // round trip per message: only where the server pipelines, the message fits MaxChunkSize and
    // the server's SIZE limit, and no login is still due; false, with nothing sent, otherwise
    // (and false when the connection was lost reading the previous message's replies: its
    // FinishMail raises that). With CHUNKING the envelope and the content go in one write. With
    // DATA the envelope goes first, and the content and "." follow in the same write as the next
    // message's envelope (or in the FinishMail of the last message).
    // FinishMail settles the oldest queued message: it sends what is still held back of it,
    // reads its replies and raises its first refusal (or the failure met while reading them) as
    // SendMail would; it always takes the message off the queue. SendMail refuses to run while
    // any are queued.
    bool QueueMail(TMailMessage& message);
    void FinishMail();
    size_t QueuedMails() const { return queued_.size(); }
    virtual void ExpandList(const std::string& name);
    // The reply's first text line.
    virtual std::string VerifyAddress(const std::string& name);

    // The address the reverse-path is made of: EnvelopeFrom, else the message's EnvelopeSender,
    // else its Return-Path
    // address (empty for "<>"), else its From address.
    std::string SenderOf(const TMailMessage& message) const;

private:
    // Recipients and mail agent holding CR, LF or NUL are refused before anything is sent.
    void CheckEnvelope(const TMailMessage& message) const;
    // One message queued, with the replies still owed for it.
    struct TQueued {
        enum TState { kEnvelopeSent, kContentHeld, kDotSent, kDone } state = kEnvelopeSent;
        std::vector<std::vector<int16_t>> accepted;  // per command of the envelope group
        bool chunked = false;        // the content went with the envelope (BDAT)
        std::string content;         // with DATA: held until the 354 came, unstuffed
        std::exception_ptr failure;  // the first refusal, or what broke the connection
    };

    std::string MailParameters(const std::string& content) const;
    void CheckSize(size_t size) const;
    // content: the rendered message when there is one; chunk: it goes with BDAT.
    void SendMailPipelined(TMailMessage& message, const std::string& mailFrom, const std::string* content, bool chunk);
    // The message after DATA: content (rendered) when given, else written as it goes; ends a line.
    void WriteData(TMailMessage& message, const std::string* content);
    // RSET, MAIL, RCPT... and DATA, or BDAT with content; the codes accepted per command.
    std::vector<std::vector<int16_t>> WriteGroup(const TMailMessage& message, const std::string& mailFrom,
                                                 const std::string* content);
    // One reply per command; the first refusal into refused. Returns the last code.
    int16_t ReadGroupReplies(const std::vector<std::vector<int16_t>>& accepted,
                             std::optional<EMailProtocolReplyError>& refused);
    // Reads the replies owed for queued_[0..last] in the order the server sends them; a failure
    // to read is stored in every entry it leaves unsettled.
    void Collect(size_t last);
    void CollectOne(TQueued& entry);
    // Settles every queued message not settled yet with this failure, and closes the connection.
    void Fail(const std::exception_ptr& failure);
    // The held content and "." of a message whose DATA was accepted (into the write buffer).
    void WriteHeldContent(TQueued& entry);
    // EHLO (or HELO) and what it offers; true when EHLO was answered.
    bool Greet(const std::string& name);
    void CollectAuthSchemes();
    void AuthenticateWithToken();
    bool LoginDue();

    TAuthenticationType authenticationType_ = TAuthenticationType::atNone;
    bool useEhlo_ = true;
    int64_t sizeLimit_ = 0;
    std::deque<TQueued> queued_;  // in the order the server answers them
};

}  // namespace tarnwick
