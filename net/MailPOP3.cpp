#include "net/MailPOP3.h"

#include <openssl/evp.h>

#include <algorithm>
#include <charconv>
#include <exception>

#include "message/Coders.h"
#include "message/MailGlobal.h"
#include "message/MailMessage.h"
#include "net/MailCommandText.h"
#include "platform/Exception.h"
#include "platform/StringList.h"

namespace tarnwick {

namespace {

// The size in "+OK n size" (the text after the status word is "n size"), -1 without one.
int64_t SizeOfListing(const TMailRFCReply& reply) {
    std::string rest = Trim(reply.Text.Count() > 0 ? reply.Text[0] : std::string());
    CutToken(rest, " ");
    const std::string size = CutToken(rest, " ");
    int64_t value = 0;
    auto [end, error] = std::from_chars(size.data(), size.data() + size.size(), value);
    if (error != std::errc() || end != size.data() + size.size() || size.empty() || value < 0) return -1;
    return value;
}

}  // namespace

TMailPOP3::TMailPOP3() { SetPort(110); }

TMailPOP3::~TMailPOP3() = default;

std::string TMailPOP3::GreetingTimestamp(const std::string& greeting) {
    size_t open = greeting.find('<');
    if (open == std::string::npos) return {};
    size_t close = greeting.find('>', open);
    if (close == std::string::npos) return {};
    return greeting.substr(open, close - open + 1);
}

std::string TMailPOP3::ApopDigest(const std::string& timestamp, const std::string& password) {
    const std::string text = timestamp + password;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr) != 1)
        throw EMailException("MD5 digest failed.");
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 0x0F];
    }
    return out;
}

void TMailPOP3::Connect(int timeout) {
    CheckCommandText(Username, "user name");
    if (OAuth.Active()) CheckOAuthCredentials(Username, OAuth.AccessToken);
    else if (!APOP) CheckCommandText(Password, "password");
    OAuth.ErrorStatus.clear();
    capaAsked_ = false;
    utf8_ = false;
    Capabilities.Clear();
    TMailMessageClient::Connect(timeout);
    try {
        ReadReply({1});
        const std::string greeting = LastReply.Text.Count() > 0 ? LastReply.Text[0] : std::string();
        if (Security == TMailSecurity::msStartTLS) {
            // No name or password before TLS stands, and no way back to plain text.
            if (SendCommand("STLS") != 1)
                throw EMailTLSError("The POP3 server refused STLS: " + Trim(LastReply.Text.Text()));
            StartTLS();
        }
        if (AskUtf8) {
            AskCapabilities();
            utf8_ = Offers("UTF8") && SendCommand("UTF8") == 1;
        }
        if (OAuth.Active()) {
            LoginWithToken();
        } else if (!APOP) {
            if (PreferChallenge && Security == TMailSecurity::msNone && LoginByChallenge(greeting)) return;
            SendCommand("USER " + Username, 1);
            SendCommand("PASS " + Password, 1);
        } else {
            const std::string timestamp = GreetingTimestamp(greeting);
            if (timestamp.empty()) throw EMailException("Server do not support APOP (no timestamp)");
            SendCommand("APOP " + Username + " " + ApopDigest(timestamp, Password), 1);
        }
    } catch (...) {
        // The login's own failure is the one to report, not a failure to say QUIT.
        DisconnectQuietly();
        throw;
    }
}

bool TMailPOP3::LoginByChallenge(const std::string& greeting) {
    AskCapabilities();
    for (const std::string& line : Capabilities) {
        std::string rest = UpperCase(Trim(line));
        if (CutToken(rest, " ") != "SASL") continue;
        while (!rest.empty())
            if (CutToken(rest, " ") == "CRAM-MD5") return LoginByCramMD5();
    }
    const std::string timestamp = GreetingTimestamp(greeting);
    return !timestamp.empty() && SendCommand("APOP " + Username + " " + ApopDigest(timestamp, Password)) == 1;
}

bool TMailPOP3::LoginByCramMD5() {
    WriteLine("AUTH CRAM-MD5");
    ReadReplyLines();
    // A continuation is "+" and a blank, then the base64 challenge.
    const std::string& code = LastReply.TextCode();
    if (code != "+" && code.rfind("+ ", 0) != 0) return StatusCode({}) == 1;
    const std::string challenge = Trim(code.substr(1) + (LastReply.Text.Count() > 0 ? LastReply.Text[0] : std::string()));
    std::string response;
    try {
        response = EncodeTextWith<TMailEncoderMIME>(CramMD5Response(Username, Password, challenge));
    } catch (const EMailException&) {
        response = "*";  // a challenge that is not base64: the exchange is cancelled
    }
    return SendCommand(response) == 1;
}

void TMailPOP3::Disconnect() {
    QuitAndDisconnect();
}

void TMailPOP3::LoginWithToken() {
    TOAuthMechanism mechanism = OAuth.Mechanism;
    if (mechanism == TOAuthMechanism::omAuto) {
        AskCapabilities();
        bool xoauth2 = false, bearer = false;
        for (const std::string& line : Capabilities) {
            std::string rest = UpperCase(Trim(line));
            if (CutToken(rest, " ") != "SASL") continue;
            while (!rest.empty()) {
                const std::string name = CutToken(rest, " ");
                xoauth2 = xoauth2 || name == "XOAUTH2";
                bearer = bearer || name == "OAUTHBEARER";
            }
        }
        mechanism = ChooseOAuthMechanism(OAuth, xoauth2, bearer);
        // What the server offers may change once logged in: Pipelining asks again.
        capaAsked_ = false;
    }
    const std::string response = mechanism == TOAuthMechanism::omOAuthBearer
                                     ? OAuthBearerResponse(Username, Host(), Port(), OAuth.AccessToken)
                                     : XOAuth2Response(Username, OAuth.AccessToken);
    TSaslChannel channel;
    channel.MaxCommandLine = 255;
    channel.Send = [this](const std::string& line) { WriteLine(line); };
    channel.Read = [this](std::string& challenge) {
        ReadReplyLines();
        // A continuation is "+" and a blank, then the base64 challenge (which may be empty).
        const std::string& code = LastReply.TextCode();
        if (code != "+" && code.rfind("+ ", 0) != 0) return false;
        challenge = Trim(code.substr(1) + (LastReply.Text.Count() > 0 ? LastReply.Text[0] : std::string()));
        return true;
    };
    const std::string status = RunOAuthExchange(channel, mechanism, response, OAuth.TwoStep);
    try {
        StatusCode({1});
    } catch (const EMailProtocolReplyError& e) {
        OAuth.ErrorStatus = status;
        throw EMailOAuthRefused(e.ReplyCode, e.Message(), status);
    }
}

int16_t TMailPOP3::ReadReply(const std::vector<int16_t>& allowed) {
    ReadReplyLines();
    return StatusCode(allowed);
}

int16_t TMailPOP3::StatusCode(const std::vector<int16_t>& allowed) {
    if (SameText(LastReply.TextCode(), "+OK")) {
        LastReply.SetNumericCode(1);
    } else if (SameText(LastReply.TextCode(), "-ERR")) {
        LastReply.SetNumericCode(2);
    } else {
        throw EMailException("Unrecognized POP3 Response Header:\n\"" + LastReply.Text.Text() + "\"");
    }
    return CheckReplyCode(static_cast<int16_t>(LastReply.NumericCode()), allowed);
}

int16_t TMailPOP3::SendListCommand(const std::string& command) {
    try {
        return SendCommand(command);
    } catch (...) {
        // A status line that could not be read may still be followed by its lines.
        AbandonMessage();
        throw;
    }
}

bool TMailPOP3::ListUniqueIds(TStringList& list, int messageNumber) {
    if (messageNumber < 0) {
        if (SendListCommand("UIDL") != 1) return false;
        try {
            CaptureLines(list, ".", true, MaxListingLines,
                         "Unique id listing longer than " + IntToStr(MaxListingLines) + " lines.");
        } catch (...) {
            AbandonMessage();
            throw;
        }
        return true;
    }
    if (SendCommand("UIDL " + IntToStr(messageNumber)) != 1) return false;
    list.Assign(LastReply.Text);
    return true;
}

int64_t TMailPOP3::ListSize(int messageNumber) {
    if (SendCommand("LIST " + IntToStr(messageNumber)) != 1) return -1;
    return SizeOfListing(LastReply);
}

void TMailPOP3::AskCapabilities() {
    if (capaAsked_) return;
    capaAsked_ = true;
    Capabilities.Clear();
    if (SendListCommand("CAPA") == 1) {
        try {
            CaptureLines(Capabilities, ".", true, MaxReplyLines, "CAPA answer too long.");
        } catch (...) {
            AbandonMessage();
            throw;
        }
    }
}

bool TMailPOP3::Offers(const std::string& capability) {
    for (const std::string& line : Capabilities) {
        std::string rest = Trim(line);
        if (SameText(CutToken(rest, " "), capability)) return true;
    }
    return false;
}

bool TMailPOP3::Pipelining() {
    if (!UsePipelining) return false;
    AskCapabilities();
    return Offers("PIPELINING");
}

std::vector<int64_t> TMailPOP3::ListSizes(const std::vector<int>& messageNumbers) {
    std::vector<int64_t> sizes;
    sizes.reserve(messageNumbers.size());
    if (!Pipelining()) {
        for (int number : messageNumbers) sizes.push_back(ListSize(number));
        return sizes;
    }
    for (size_t start = 0; start < messageNumbers.size(); start += kPipelineWindow) {
        const size_t end = std::min(messageNumbers.size(), start + kPipelineWindow);
        OpenWriteBuffer(0);
        try {
            for (size_t i = start; i < end; ++i) WriteLine("LIST " + IntToStr(messageNumbers[i]));
            CloseWriteBuffer();
        } catch (...) {
            CancelWriteBuffer();
            throw;
        }
        for (size_t i = start; i < end; ++i) sizes.push_back(ReadReply() == 1 ? SizeOfListing(LastReply) : -1);
    }
    return sizes;
}

void TMailPOP3::SendRetrieve(int messageNumber) { WriteLine("RETR " + IntToStr(messageNumber)); }

bool TMailPOP3::RetrieveMessage(int messageNumber, TMailMessage& message) {
    SendRetrieve(messageNumber);
    return ReadRetrievedAnswer(message);
}

bool TMailPOP3::ReadRetrieved(TMailMessage& message) {
    ExpectAnswerWaiting();
    return ReadRetrievedAnswer(message);
}

bool TMailPOP3::RetrieveHeader(int messageNumber, TMailMessage& message) {
    WriteLine("TOP " + IntToStr(messageNumber) + " 0");
    return ReadRetrievedAnswer(message);
}

void TMailPOP3::RetrieveHeaders(const std::vector<int>& messageNumbers, const THeaderEvent& each) {
    TMailMessage header;
    const size_t batch = Pipelining() ? kPipelineWindow : 1;
    for (size_t start = 0; start < messageNumbers.size(); start += batch) {
        const size_t end = std::min(messageNumbers.size(), start + batch);
        OpenWriteBuffer(0);
        try {
            for (size_t i = start; i < end; ++i) WriteLine("TOP " + IntToStr(messageNumbers[i]) + " 0");
            CloseWriteBuffer();
        } catch (...) {
            CancelWriteBuffer();
            throw;
        }
        for (size_t i = start; i < end; ++i) {
            header.Clear();
            if (i > start) ExpectAnswerWaiting();
            try {
                const bool found = ReadRetrievedAnswer(header);
                each(i, found, header);
            } catch (...) {
                // The answers still due would be taken for the replies to later commands.
                if (i + 1 < end && IsConnected()) AbandonMessage();
                throw;
            }
        }
    }
}

bool TMailPOP3::ReadRetrievedAnswer(TMailMessage& message) {
    int16_t status = 0;
    try {
        status = ReadReply();
    } catch (...) {
        // A status line that could not be read may still be followed by its lines.
        AbandonMessage();
        throw;
    }
    if (status != 1) return false;
    // The message is one paced transfer, and its bytes count against the size limit.
    TReadExchange exchange(*this, true);
    LimitContent(MaxMessageSize > 0 ? MaxMessageSize : -1);
    try {
        // A message without body ends with "." right after its header lines.
        if (ReadMessageHeader(message, "").empty()) ReadMessageBody(message, ".");
    } catch (...) {
        LimitContent(-1);
        throw;
    }
    LimitContent(-1);
    return LastReply.NumericCode() == 1;
}

}  // namespace tarnwick
