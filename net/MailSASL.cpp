#include "net/MailSASL.h"

#include <cctype>

#include <openssl/evp.h>

#include "message/Coders.h"
#include "platform/Streams.h"

namespace tarnwick {

namespace {

std::string Base64(const std::string& bytes) { return EncodeTextWith<TMailEncoderMIME>(bytes); }

// A server's base64 challenge decoded; false when it is not base64.
bool Unbase64(std::string_view text, std::string& bytes) {
    try {
        TMailDecoderMIME decoder;
        TMemoryStream stream;
        decoder.DecodeIntoStream(text, stream);
        bytes = stream.Data();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// The GS2 header's authzid: "," and "=" escaped (RFC 5801).
std::string GS2Name(const std::string& user) {
    std::string out;
    for (char c : user) {
        if (c == ',') out += "=2C";
        else if (c == '=') out += "=3D";
        else out += c;
    }
    return out;
}

// A small reader for the one JSON object of an error challenge: only a top-level "status"
// string or number is wanted, everything else is skipped.
class JsonScan {
public:
    explicit JsonScan(std::string_view text) : s_(text) {}

    std::string Status() {
        Space();
        if (!Take('{')) return {};
        Space();
        if (Take('}')) return {};
        for (;;) {
            std::string key;
            if (!String(&key)) return {};
            Space();
            if (!Take(':')) return {};
            Space();
            if (key == "status") {
                std::string value;
                if (Peek() == '"') return String(&value) ? value : std::string();
                return Number();
            }
            if (!Skip(0)) return {};
            Space();
            if (Take('}')) return {};
            if (!Take(',')) return {};
            Space();
        }
    }

private:
    char Peek() const { return at_ < s_.size() ? s_[at_] : '\0'; }
    bool Take(char c) {
        if (Peek() != c || at_ >= s_.size()) return false;
        ++at_;
        return true;
    }
    void Space() {
        while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\t' || s_[at_] == '\r' || s_[at_] == '\n')) ++at_;
    }
    // A string; escapes other than \" and \\ are kept as written (a status never has them).
    bool String(std::string* out) {
        if (!Take('"')) return false;
        while (at_ < s_.size()) {
            char c = s_[at_++];
            if (c == '"') return true;
            if (c == '\\') {
                if (at_ >= s_.size()) return false;
                char e = s_[at_++];
                if (out) {
                    if (e != '"' && e != '\\') *out += '\\';
                    *out += e;
                }
                continue;
            }
            if (out) *out += c;
        }
        return false;
    }
    std::string Number() {
        size_t start = at_;
        while (at_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[at_])) || s_[at_] == '-' ||
                                   s_[at_] == '+' || s_[at_] == '.'))
            ++at_;
        return std::string(s_.substr(start, at_ - start));
    }
    // Any value; depth bounds nesting so that hostile input cannot exhaust the stack.
    bool Skip(int depth) {
        if (depth > 32) return false;
        Space();
        const char c = Peek();
        if (c == '"') return String(nullptr);
        if (c == '{' || c == '[') {
            const char close = c == '{' ? '}' : ']';
            ++at_;
            Space();
            if (Take(close)) return true;
            for (;;) {
                if (c == '{') {
                    if (!String(nullptr)) return false;
                    Space();
                    if (!Take(':')) return false;
                }
                if (!Skip(depth + 1)) return false;
                Space();
                if (Take(close)) return true;
                if (!Take(',')) return false;
                Space();
            }
        }
        return !Number().empty();
    }

    std::string_view s_;
    size_t at_ = 0;
};

}  // namespace

std::string OAuthMechanismName(TOAuthMechanism mechanism) {
    switch (mechanism) {
        case TOAuthMechanism::omXOAuth2: return "XOAUTH2";
        case TOAuthMechanism::omOAuthBearer: return "OAUTHBEARER";
        case TOAuthMechanism::omNone:
        case TOAuthMechanism::omAuto: break;
    }
    return {};
}

TOAuthMechanism ChooseOAuthMechanism(const TOAuthLogin& login, bool xoauth2Offered, bool oauthBearerOffered) {
    if (login.Mechanism != TOAuthMechanism::omAuto) return login.Mechanism;
    if (oauthBearerOffered && !(login.PreferXOAuth2 && xoauth2Offered)) return TOAuthMechanism::omOAuthBearer;
    return TOAuthMechanism::omXOAuth2;
}

std::string XOAuth2Response(const std::string& user, const std::string& token) {
    return "user=" + user + "\x01" "auth=Bearer " + token + "\x01\x01";
}

std::string OAuthBearerResponse(const std::string& user, const std::string& host, int port, const std::string& token) {
    return "n,a=" + GS2Name(user) + ",\x01" "host=" + host + "\x01" "port=" + std::to_string(port) +
           "\x01" "auth=Bearer " + token + "\x01\x01";
}

void CheckOAuthCredentials(const std::string& user, const std::string& token) {
    if (token.empty()) throw EMailException("No access token: sign in first.");
    // A bearer token is b64token (RFC 6750); anything else would break the response's fields.
    for (char c : token)
        if (!std::isalnum(static_cast<unsigned char>(c)) && std::string_view("-._~+/=").find(c) == std::string_view::npos)
            throw EMailException("The access token holds characters a bearer token cannot have.");
    for (char c : user)
        if (c == '\x01' || c == '\0' || c == '\r' || c == '\n')
            throw EMailException("The user name holds control characters.");
}

std::string CramMD5Response(const std::string& user, const std::string& password, std::string_view base64Challenge) {
    std::string challenge;
    if (!Unbase64(base64Challenge, challenge)) throw EMailException("The server's CRAM-MD5 challenge is not base64.");
    unsigned char digest[EVP_MAX_MD_SIZE];
    size_t length = 0;
    if (!EVP_Q_mac(nullptr, "HMAC", nullptr, "MD5", nullptr, password.data(), password.size(),
                   reinterpret_cast<const unsigned char*>(challenge.data()), challenge.size(), digest, sizeof digest,
                   &length))
        throw EMailException("CRAM-MD5 is not available.");
    static const char hex[] = "0123456789abcdef";
    std::string out = user + " ";
    for (size_t i = 0; i < length; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 0x0F];
    }
    return out;
}

std::string OAuthErrorStatus(std::string_view base64Challenge) {
    std::string json;
    if (!Unbase64(base64Challenge, json)) return {};
    std::string status = JsonScan(json).Status();
    // Only for the log: keep it short and printable.
    if (status.size() > 64) status.resize(64);
    for (char& c : status)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) c = '?';
    return status;
}

std::string RunOAuthExchange(const TSaslChannel& channel, TOAuthMechanism mechanism, const std::string& response,
                             bool twoStep) {
    const std::string name = OAuthMechanismName(mechanism);
    const std::string encoded = Base64(response);
    const std::string oneLine = "AUTH " + name + " " + encoded;
    bool responseSent = false;
    if (!twoStep && oneLine.size() + 2 <= channel.MaxCommandLine) {
        channel.Send(oneLine);
        responseSent = true;
    } else {
        channel.Send("AUTH " + name);
    }
    std::string status;
    bool errorAnswered = false;
    std::string challenge;
    // A server asks at most for the response and then answers one error challenge; a third
    // continuation is cancelled.
    for (int round = 0; channel.Read(challenge); ++round) {
        if (!responseSent) {
            channel.Send(encoded);
            responseSent = true;
        } else if (!errorAnswered) {
            status = OAuthErrorStatus(challenge);
            channel.Send(mechanism == TOAuthMechanism::omOAuthBearer ? "AQ==" : "");
            errorAnswered = true;
        } else {
            channel.Send("*");
        }
        challenge.clear();
        if (round >= 4) throw EMailException("The server kept asking for more during AUTH " + name + ".");
    }
    return status;
}

}  // namespace tarnwick
