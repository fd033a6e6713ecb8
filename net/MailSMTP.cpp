#include "net/MailSMTP.h"

#include <algorithm>
#include <charconv>
#include <deque>
#include <exception>
#include <optional>
#include <vector>

#include "message/Coders.h"
#include "message/MailMessage.h"
#include "net/MailCommandText.h"
#include "platform/Exception.h"

namespace tarnwick {

namespace {

bool HasEightBit(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// The number after "SIZE" in an EHLO line, 0 when there is none (no limit announced).
int64_t SizeLimitOf(const std::string& line) {
    std::string rest = Trim(line.substr(4));
    int64_t value = 0;
    auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
    if (error != std::errc() || end != rest.data() + rest.size() || value < 0) return 0;
    return value;
}

}  // namespace

TMailSMTP::TMailSMTP() {
    SetPort(25);
    AuthSchemes.Duplicates = TDuplicates::dupIgnore;
}

TMailSMTP::~TMailSMTP() = default;

void TMailSMTP::Assign(const TMailSMTP& source) {
    if (&source == this) return;
    SetAuthenticationType(source.AuthenticationType());
    SetHost(source.Host());
    MailAgent = source.MailAgent;
    Password = source.Password;
    SetPort(source.Port());
    Username = source.Username;
    EnvelopeFrom = source.EnvelopeFrom;
    Security = source.Security;
    CAFile = source.CAFile;
    OAuth = source.OAuth;
}

void TMailSMTP::SetAuthenticationType(TAuthenticationType value) {
    authenticationType_ = value;
    if (value != TAuthenticationType::atNone) useEhlo_ = true;
}

void TMailSMTP::SetUseEhlo(bool value) {
    useEhlo_ = value;
    if (!value) authenticationType_ = TAuthenticationType::atNone;
}

void TMailSMTP::Connect(int timeout) {
    CheckCommandText(HeloName, "greeting name");
    Authenticated = false;
    queued_.clear();
    TMailMessageClient::Connect(timeout);
    try {
        ReadReply({220});
        std::string name = HeloName.empty() ? LocalHostName() : HeloName;
        CheckCommandText(name, "greeting name");
        const bool extended = Greet(name);
        if (Security == TMailSecurity::msStartTLS) {
            if (!extended || Capabilities.IndexOf("STARTTLS") < 0)
                throw EMailTLSError("The SMTP server does not offer STARTTLS.");
            if (SendCommand("STARTTLS") != 220)
                throw EMailTLSError("The SMTP server refused STARTTLS: " + Trim(LastReply.Text.Text()));
            StartTLS();
            // What the server offered in plain text may have been forged: ask again.
            if (!Greet(name)) throw EMailTLSError("The SMTP server refused EHLO after STARTTLS.");
        }
        // Sending without the login asked for would only end in a refusal of the sender.
        if (authenticationType_ == TAuthenticationType::atOAuth2 && !AuthSchemeOffered(authenticationType_))
            throw EMailException("The SMTP server offers neither XOAUTH2 nor OAUTHBEARER.");
    } catch (...) {
        // The greeting's own failure is the one to report, not a failure to say QUIT.
        DisconnectQuietly();
        throw;
    }
}

bool TMailSMTP::Greet(const std::string& name) {
    AuthSchemes.Clear();
    Capabilities.Clear();
    sizeLimit_ = 0;
    if (useEhlo_ && SendCommand("EHLO " + name) == 250) {
        // The first line is the greeting; each further one starts with a keyword.
        for (int i = 1; i < LastReply.Text.Count(); ++i) {
            std::string keyword = UpperCase(LastReply.Text[i]);
            keyword = keyword.substr(0, keyword.find_first_of(" ="));
            if (keyword == "SIZE") sizeLimit_ = SizeLimitOf(LastReply.Text[i]);
            if (!keyword.empty() && Capabilities.IndexOf(keyword) < 0) Capabilities.Add(std::move(keyword));
        }
        CollectAuthSchemes();
        return true;
    }
    SendCommand("HELO " + name, 250);
    return false;
}

void TMailSMTP::CollectAuthSchemes() {
    for (const std::string& line : LastReply.Text) {
        const std::string upper = UpperCase(line);
        if (upper.size() < 5 || (upper.compare(0, 5, "AUTH ") != 0 && upper.compare(0, 5, "AUTH=") != 0)) continue;
        std::string rest = upper.substr(4);
        for (char& c : rest)
            if (c == '=') c = ' ';
        size_t pos = 0;
        while (pos < rest.size()) {
            size_t start = rest.find_first_not_of(' ', pos);
            if (start == std::string::npos) break;
            size_t end = rest.find(' ', start);
            if (end == std::string::npos) end = rest.size();
            std::string scheme = rest.substr(start, end - start);
            if (AuthSchemes.IndexOf(scheme) < 0) AuthSchemes.Add(std::move(scheme));
            pos = end;
        }
    }
}

void TMailSMTP::Disconnect() {
    Authenticated = false;
    queued_.clear();
    QuitAndDisconnect();
}

bool TMailSMTP::AuthSchemeOffered(TAuthenticationType type) {
    const bool plain = AuthSchemes.IndexOf("PLAIN") >= 0, login = AuthSchemes.IndexOf("LOGIN") >= 0;
    const bool cram = AuthSchemes.IndexOf("CRAM-MD5") >= 0;
    switch (type) {
        case TAuthenticationType::atLogin: return login;
        case TAuthenticationType::atPlain: return plain;
        case TAuthenticationType::atCramMD5: return cram;
        case TAuthenticationType::atAuto: return plain || login || cram;
        case TAuthenticationType::atOAuth2: {
            const bool xoauth2 = AuthSchemes.IndexOf("XOAUTH2") >= 0, bearer = AuthSchemes.IndexOf("OAUTHBEARER") >= 0;
            if (OAuth.Mechanism == TOAuthMechanism::omXOAuth2) return xoauth2;
            if (OAuth.Mechanism == TOAuthMechanism::omOAuthBearer) return bearer;
            return xoauth2 || bearer;
        }
        case TAuthenticationType::atNone: break;
    }
    return false;
}

void TMailSMTP::AuthenticateWithToken() {
    CheckOAuthCredentials(Username, OAuth.AccessToken);
    OAuth.ErrorStatus.clear();
    TOAuthLogin login = OAuth;
    if (login.Mechanism == TOAuthMechanism::omNone) login.Mechanism = TOAuthMechanism::omAuto;
    const TOAuthMechanism mechanism =
        ChooseOAuthMechanism(login, AuthSchemes.IndexOf("XOAUTH2") >= 0, AuthSchemes.IndexOf("OAUTHBEARER") >= 0);
    const std::string response = mechanism == TOAuthMechanism::omOAuthBearer
                                     ? OAuthBearerResponse(Username, Host(), Port(), OAuth.AccessToken)
                                     : XOAuth2Response(Username, OAuth.AccessToken);
    TSaslChannel channel;
    channel.MaxCommandLine = 512;
    channel.Send = [this](const std::string& line) { WriteLine(line); };
    channel.Read = [this](std::string& challenge) {
        if (ReadReply() != 334) return false;
        challenge = LastReply.Text.Count() > 0 ? Trim(LastReply.Text[0]) : std::string();
        return true;
    };
    const std::string status = RunOAuthExchange(channel, mechanism, response, OAuth.TwoStep);
    if (LastReply.NumericCode() != 235) {
        OAuth.ErrorStatus = status;
        throw EMailOAuthRefused(LastReply.NumericCode(), LastReply.Text.Text(), status);
    }
}

bool TMailSMTP::Authenticate() {
    if (authenticationType_ == TAuthenticationType::atOAuth2) {
        AuthenticateWithToken();
        Authenticated = true;
        return true;
    }
    TAuthenticationType type = authenticationType_;
    if (type == TAuthenticationType::atAuto) {
        const bool plain = AuthSchemeOffered(TAuthenticationType::atPlain);
        const bool clear = plain || AuthSchemeOffered(TAuthenticationType::atLogin);
        if (AuthSchemeOffered(TAuthenticationType::atCramMD5) && (Security == TMailSecurity::msNone || !clear))
            type = TAuthenticationType::atCramMD5;
        else
            type = plain ? TAuthenticationType::atPlain : TAuthenticationType::atLogin;
    }
    if (type != TAuthenticationType::atNone) {
        CheckCommandText(Username, "user name");
        CheckCommandText(Password, "password");
    }
    bool result = false;
    if (type == TAuthenticationType::atPlain) {
        // The initial response: no authorization identity, NUL, user, NUL, password.
        const std::string credentials = std::string(1, '\0') + Username + std::string(1, '\0') + Password;
        SendCommand("AUTH PLAIN " + EncodeTextWith<TMailEncoderMIME>(credentials), 235);
        result = true;
    } else if (type == TAuthenticationType::atLogin) {
        SendCommand("AUTH LOGIN", 334);
        SendCommand(EncodeTextWith<TMailEncoderMIME>(Username), 334);
        SendCommand(EncodeTextWith<TMailEncoderMIME>(Password), 235);
        result = true;
    } else if (type == TAuthenticationType::atCramMD5) {
        SendCommand("AUTH CRAM-MD5", 334);
        const std::string challenge = LastReply.Text.Count() > 0 ? Trim(LastReply.Text[0]) : std::string();
        SendCommand(EncodeTextWith<TMailEncoderMIME>(CramMD5Response(Username, Password, challenge)), 235);
        result = true;
    }
    Authenticated = true;
    return result;
}

std::string TMailSMTP::SenderOf(const TMailMessage& message) const {
    if (!EnvelopeFrom.empty()) return EnvelopeFrom;
    if (message.EnvelopeSender) return *message.EnvelopeSender;
    // The first Return-Path is the one final delivery added: "<>" for a bounce or an auto-reply,
    // which must never cause another notification (RFC 5321 4.5.5); a list's bounce address for
    // list mail, so that failures reach the list and not the author.
    if (std::optional<std::string> path = ReturnPathAddress(message.Headers.GetHeaderValue("Return-Path")))
        return *path;
    return message.From.Address;
}

void TMailSMTP::CheckEnvelope(const TMailMessage& message) const {
    for (const TMailAddressList* list : {&message.Recipients, &message.CCList, &message.BccList})
        for (int i = 0; i < list->Count(); ++i) CheckCommandText(list->Items(i).Address, "recipient address");
    CheckCommandText(MailAgent, "mail agent");
}

TReversePath TMailSMTP::ReversePathOf(const TMailMessage& message) const { return ReversePathFor(SenderOf(message)); }

bool TMailSMTP::LoginDue() {
    return authenticationType_ != TAuthenticationType::atNone && AuthSchemeOffered(authenticationType_) &&
           !Authenticated;
}

std::string TMailSMTP::MailParameters(const std::string& content) const {
    std::string parameters;
    if (Capabilities.IndexOf("8BITMIME") >= 0 && HasEightBit(content)) parameters += " BODY=8BITMIME";
    if (Capabilities.IndexOf("SIZE") >= 0) parameters += " SIZE=" + std::to_string(content.size());
    return parameters;
}

void TMailSMTP::CheckSize(size_t size) const {
    // Refused here as the server would refuse it after the whole message went (RFC 1870).
    if (sizeLimit_ > 0 && static_cast<uint64_t>(size) > static_cast<uint64_t>(sizeLimit_))
        throw EMailProtocolReplyError(552, "Message size " + std::to_string(size) + " bytes exceeds the server's limit of " +
                                               std::to_string(sizeLimit_) + " bytes.");
}

void TMailSMTP::SendMail(TMailMessage& message) {
    if (!queued_.empty()) throw EMailException("Queued messages still wait for their replies.");
    const TReversePath sender = ReversePathOf(message);
    CheckEnvelope(message);
    message.ExtraHeaders.SetHeaderValue("X-Mailer", MailAgent);

    // With CHUNKING a message that is not large goes with its byte count, in the same write as
    // its envelope: one round trip for all of it. The content is also made beforehand where the
    // envelope tells of it (its size, 8-bit bytes).
    const bool pipelining = UsePipelining && Capabilities.IndexOf("PIPELINING") >= 0;
    std::string content;
    const bool chunk = pipelining && UseChunking && Capabilities.IndexOf("CHUNKING") >= 0 &&
                       RenderMessage(message, content, MaxChunkSize);
    const bool rendered = chunk || ((Capabilities.IndexOf("SIZE") >= 0 || Capabilities.IndexOf("8BITMIME") >= 0) &&
                                    RenderMessage(message, content, SIZE_MAX));
    if (rendered) CheckSize(content.size());
    const std::string mailFrom = sender.Path + (rendered ? MailParameters(content) : std::string());

    const bool login = LoginDue();
    if (pipelining) {
        // AUTH may only end a group: it goes first, on its own.
        if (login) Authenticate();
        if (!sender.Problem.empty() && OnNullSender) OnNullSender(SenderOf(message), sender.Problem);
        SendMailPipelined(message, mailFrom, rendered ? &content : nullptr, chunk);
        return;
    }
    SendCommand("RSET");
    if (login) Authenticate();
    if (!sender.Problem.empty() && OnNullSender) OnNullSender(SenderOf(message), sender.Problem);
    SendCommand("MAIL FROM:" + mailFrom, 250);
    for (const TMailAddressList* list : {&message.Recipients, &message.CCList, &message.BccList})
        for (int i = 0; i < list->Count(); ++i) SendCommand("RCPT TO:<" + list->Items(i).Address + ">", {250, 251});
    SendCommand("DATA", 354);

    // The content and "." leave in a few large sends; "." is only flushed when its reply is
    // awaited.
    OpenWriteBuffer();
    try {
        WriteData(message, rendered ? &content : nullptr);
    } catch (...) {
        // The server is still taking DATA: whatever follows would become part of the message.
        CancelWriteBuffer();
        AbandonMessage();
        throw;
    }
    try {
        SendCommand(".", 250);
    } catch (...) {
        CancelWriteBuffer();
        throw;
    }
    CloseWriteBuffer();
}

void TMailSMTP::WriteData(TMailMessage& message, const std::string* content) {
    if (content != nullptr) {
        WriteContent(*content);
        return;
    }
    WriteMessage(message, false);
    if (!DataAtLineStart()) WriteLine("");
}

std::vector<std::vector<int16_t>> TMailSMTP::WriteGroup(const TMailMessage& message, const std::string& mailFrom,
                                                        const std::string* content) {
    std::vector<std::vector<int16_t>> accepted;  // per command of the group, in order
    WriteLine("RSET");
    accepted.push_back({});
    WriteLine("MAIL FROM:" + mailFrom);
    accepted.push_back({250});
    for (const TMailAddressList* list : {&message.Recipients, &message.CCList, &message.BccList})
        for (int i = 0; i < list->Count(); ++i) {
            WriteLine("RCPT TO:<" + list->Items(i).Address + ">");
            accepted.push_back({250, 251});
        }
    if (content != nullptr) {
        WriteLine("BDAT " + IntToStr(static_cast<int64_t>(content->size())) + " LAST");
        WriteBytes(content->data(), static_cast<int64_t>(content->size()));
        accepted.push_back({250});
    } else {
        WriteLine("DATA");
        accepted.push_back({354});
    }
    return accepted;
}

int16_t TMailSMTP::ReadGroupReplies(const std::vector<std::vector<int16_t>>& accepted,
                                    std::optional<EMailProtocolReplyError>& refused) {
    // Every reply of the group is read, so the next command meets its own reply; the first
    // refusal is the one reported.
    int16_t last = 0;
    for (const std::vector<int16_t>& codes : accepted) {
        last = ReadReply();
        if (last == 421) {
            // The server is closing the connection (a cap on messages, say): no more replies come.
            if (!refused) refused.emplace(last, LastReply.Text.Text());
            AbandonMessage();
            break;
        }
        if (!codes.empty() && std::find(codes.begin(), codes.end(), last) == codes.end() && !refused)
            refused.emplace(last, LastReply.Text.Text());
    }
    return last;
}

void TMailSMTP::SendMailPipelined(TMailMessage& message, const std::string& mailFrom, const std::string* content,
                                  bool chunk) {
    bool inData = false;  // the server takes what follows as the message until the end line
    OpenWriteBuffer();
    try {
        const auto accepted = WriteGroup(message, mailFrom, chunk ? content : nullptr);
        std::optional<EMailProtocolReplyError> refused;
        const int16_t last = ReadGroupReplies(accepted, refused);
        if (refused) {
            // A server that opened DATA for an envelope it refused would take whatever follows
            // as the message.
            if (!chunk && last == 354) {
                CancelWriteBuffer();
                AbandonMessage();
            }
            throw *refused;
        }
        if (!chunk) {
            inData = true;
            WriteData(message, content);
            inData = false;
            SendCommand(".", 250);
        }
    } catch (...) {
        CancelWriteBuffer();
        if (inData) AbandonMessage();
        throw;
    }
    CloseWriteBuffer();
}

bool TMailSMTP::QueueMail(TMailMessage& message) {
    if (!UsePipelining || Capabilities.IndexOf("PIPELINING") < 0) return false;
    // A login cannot follow a group still unanswered.
    if (LoginDue()) return false;
    CheckEnvelope(message);
    message.ExtraHeaders.SetHeaderValue("X-Mailer", MailAgent);
    TQueued entry;
    if (!RenderMessage(message, entry.content, MaxChunkSize)) return false;
    // SendMail refuses it without sending anything.
    if (sizeLimit_ > 0 && entry.content.size() > static_cast<uint64_t>(sizeLimit_)) return false;
    entry.chunked = UseChunking && Capabilities.IndexOf("CHUNKING") >= 0;
    // With DATA, the content of the message before goes with this envelope, once its 354 came.
    if (!entry.chunked && !queued_.empty()) {
        Collect(queued_.size() - 1);
        if (!IsConnected()) return false;
    }
    const TReversePath sender = ReversePathOf(message);
    if (!sender.Problem.empty() && OnNullSender) OnNullSender(SenderOf(message), sender.Problem);
    const std::string mailFrom = sender.Path + MailParameters(entry.content);
    OpenWriteBuffer();
    try {
        if (!queued_.empty() && queued_.back().state == TQueued::kContentHeld) WriteHeldContent(queued_.back());
        entry.accepted = WriteGroup(message, mailFrom, entry.chunked ? &entry.content : nullptr);
        CloseWriteBuffer();
    } catch (...) {
        CancelWriteBuffer();
        Fail(std::current_exception());
        throw;
    }
    if (entry.chunked) std::string().swap(entry.content);
    queued_.push_back(std::move(entry));
    return true;
}

void TMailSMTP::WriteHeldContent(TQueued& entry) {
    entry.state = TQueued::kDotSent;
    WriteContent(entry.content);
    WriteLine(".");
    std::string().swap(entry.content);
}

void TMailSMTP::Fail(const std::exception_ptr& failure) {
    // Replies still owed could otherwise be taken for those of later commands.
    AbandonMessage();
    for (TQueued& entry : queued_) {
        if (entry.state == TQueued::kDone) continue;
        entry.failure = failure;
        entry.state = TQueued::kDone;
        std::string().swap(entry.content);
    }
}

void TMailSMTP::Collect(size_t last) {
    for (size_t i = 0; i <= last && i < queued_.size(); ++i) {
        try {
            CollectOne(queued_[i]);
        } catch (...) {
            // The connection is of no more use: no message still owed a reply can be settled.
            Fail(std::current_exception());
            return;
        }
    }
}

void TMailSMTP::CollectOne(TQueued& entry) {
    if (entry.state == TQueued::kEnvelopeSent) {
        std::optional<EMailProtocolReplyError> refused;
        const int16_t last = ReadGroupReplies(entry.accepted, refused);
        if (!refused) {
            entry.state = entry.chunked ? TQueued::kDone : TQueued::kContentHeld;
            return;
        }
        entry.failure = std::make_exception_ptr(*refused);
        entry.state = TQueued::kDone;
        std::string().swap(entry.content);
        // A server that opened DATA for an envelope it refused would take whatever follows as
        // the message.
        if (!entry.chunked && last == 354) AbandonMessage();
        return;
    }
    if (entry.state == TQueued::kDotSent) {
        // Settled only once its reply is read: a connection lost before it leaves the message
        // owed, and Fail marks it failed so it goes again.
        const int16_t code = ReadReply();
        entry.state = TQueued::kDone;
        if (code != 250) entry.failure = std::make_exception_ptr(EMailProtocolReplyError(code, LastReply.Text.Text()));
    }
}

void TMailSMTP::FinishMail() {
    if (queued_.empty()) throw EMailException("No message is waiting for its replies.");
    Collect(0);
    if (queued_.front().state == TQueued::kContentHeld) {
        // No message came after it: its content goes on its own.
        OpenWriteBuffer();
        try {
            WriteHeldContent(queued_.front());
            CloseWriteBuffer();
        } catch (...) {
            CancelWriteBuffer();
            Fail(std::current_exception());
        }
        Collect(0);
    }
    const TQueued settled = std::move(queued_.front());
    queued_.pop_front();
    if (settled.failure) std::rethrow_exception(settled.failure);
}

void TMailSMTP::ExpandList(const std::string& name) {
    CheckCommandText(name, "name");
    SendCommand("EXPN " + name, {250, 251});
}

std::string TMailSMTP::VerifyAddress(const std::string& name) {
    CheckCommandText(name, "name");
    SendCommand("VRFY " + name, {250, 251});
    return LastReply.Text.Count() > 0 ? LastReply.Text[0] : std::string();
}

}  // namespace tarnwick
