#pragma once
// SASL XOAUTH2 and OAUTHBEARER (RFC 7628, GS2 header of RFC 5801) for the AUTH commands of POP3
// (RFC 5034) and SMTP (RFC 4954): the initial responses, the choice of mechanism, the exchange
// with its one-line or two-step form, and the error challenge a server sends for a refused token.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/MailExceptions.h"

namespace tarnwick {

// omAuto: OAUTHBEARER when the server offers it (XOAUTH2 first with PreferXOAuth2), else XOAUTH2.
enum class TOAuthMechanism : uint8_t { omNone, omAuto, omXOAuth2, omOAuthBearer };

// How a client logs in with an OAuth 2.0 access token instead of a password.
struct TOAuthLogin {
    // omNone: the password login.
    TOAuthMechanism Mechanism = TOAuthMechanism::omNone;
    std::string AccessToken;
    // Choose XOAUTH2 even where OAUTHBEARER is offered too (Microsoft's servers).
    bool PreferXOAuth2 = false;
    // Never send the initial response on the AUTH line (Microsoft's POP3 takes only the second step).
    bool TwoStep = false;
    // After a refused token: the "status" of the server's error challenge, for the log.
    std::string ErrorStatus;

    bool Active() const { return Mechanism != TOAuthMechanism::omNone; }
};

// A token the server refused; Status is the error challenge's "status" ("401", "invalid_token";
// empty when the server sent none).
class EMailOAuthRefused : public EMailProtocolReplyError {
public:
    EMailOAuthRefused(int32_t replyCode, std::string message, std::string status)
        : EMailProtocolReplyError(replyCode, std::move(message)), Status(std::move(status)) {}
    EMailOAuthRefused(int32_t replyCode, std::string message, std::string status, TMailErrorKind kind)
        : EMailProtocolReplyError(replyCode, std::move(message), kind), Status(std::move(status)) {}
    std::string Status;
};

// "XOAUTH2" or "OAUTHBEARER" (empty for omNone and omAuto).
std::string OAuthMechanismName(TOAuthMechanism mechanism);

// The mechanism to use given the server's offer; a fixed mechanism stays as it is. With nothing
// offered (a server that does not say), XOAUTH2, the one every such server takes.
TOAuthMechanism ChooseOAuthMechanism(const TOAuthLogin& login, bool xoauth2Offered, bool oauthBearerOffered);

// The raw initial responses (not yet base64).
std::string XOAuth2Response(const std::string& user, const std::string& token);
std::string OAuthBearerResponse(const std::string& user, const std::string& host, int port, const std::string& token);

// The "status" member of an error challenge (base64 of a JSON object); empty when the challenge
// is no such thing.
std::string OAuthErrorStatus(std::string_view base64Challenge);

// CRAM-MD5 (RFC 2195): "user" + blank + the lower-case hex HMAC-MD5 of the decoded challenge keyed
// with the password; the password never crosses the wire. Raises EMailException for a challenge
// that is not base64.
std::string CramMD5Response(const std::string& user, const std::string& password, std::string_view base64Challenge);

// Refuses, before anything is sent, a token or user name that would break the response's format.
void CheckOAuthCredentials(const std::string& user, const std::string& token);

// One SASL exchange in a protocol's own framing.
struct TSaslChannel {
    // Longest command line, CR LF included, that may carry the initial response.
    size_t MaxCommandLine = 0;
    std::function<void(const std::string& line)> Send;
    // Reads one answer: true for a continuation (its base64 text into challenge), false for a
    // final answer, which the caller then judges.
    std::function<bool(std::string& challenge)> Read;
};

// Sends "AUTH <mechanism>" with the response (on the same line when it fits and twoStep is off)
// and answers the server's continuations until its final answer. An error challenge is answered
// as the mechanism requires (an empty line, or "AQ==") and its status returned; empty otherwise.
std::string RunOAuthExchange(const TSaslChannel& channel, TOAuthMechanism mechanism, const std::string& response,
                             bool twoStep);

}  // namespace tarnwick
