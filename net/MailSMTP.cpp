#include "net/MailSMTP.h"

#include <exception>

#include "message/Coders.h"
#include "message/MailMessage.h"
#include "net/MailCommandText.h"
#include "platform/Exception.h"

namespace tarnwick {

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
}

void TMailSMTP::SetAuthenticationType(TAuthenticationType value) {
    authenticationType_ = value;
    if (value == TAuthenticationType::atLogin) useEhlo_ = true;
}

void TMailSMTP::SetUseEhlo(bool value) {
    useEhlo_ = value;
    if (!value) authenticationType_ = TAuthenticationType::atNone;
}

void TMailSMTP::Connect(int timeout) {
    CheckCommandText(HeloName, "greeting name");
    TMailMessageClient::Connect(timeout);
    try {
        ReadReply({220});
        AuthSchemes.Clear();
        std::string name = HeloName.empty() ? LocalHostName() : HeloName;
        CheckCommandText(name, "greeting name");
        if (useEhlo_ && SendCommand("EHLO " + name) == 250) {
            CollectAuthSchemes();
            return;
        }
        SendCommand("HELO " + name, 250);
    } catch (...) {
        // The greeting's own failure is the one to report, not a failure to say QUIT.
        DisconnectQuietly();
        throw;
    }
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
    QuitAndDisconnect();
}

bool TMailSMTP::AuthSchemeOffered(TAuthenticationType type) {
    return type == TAuthenticationType::atLogin && AuthSchemes.IndexOf("LOGIN") >= 0;
}

bool TMailSMTP::Authenticate() {
    bool result = false;
    if (authenticationType_ == TAuthenticationType::atLogin) {
        SendCommand("AUTH LOGIN", 334);
        SendCommand(EncodeTextWith<TMailEncoderMIME>(Username), 334);
        SendCommand(EncodeTextWith<TMailEncoderMIME>(Password), 235);
        result = true;
    }
    Authenticated = true;
    return result;
}

TReversePath TMailSMTP::ReversePathOf(const TMailMessage& message) const {
    return ReversePathFor(message.From.Address);
}

void TMailSMTP::SendMail(TMailMessage& message) {
    const TReversePath sender = ReversePathOf(message);
    for (const TMailAddressList* list : {&message.Recipients, &message.CCList, &message.BccList})
        for (int i = 0; i < list->Count(); ++i) CheckCommandText(list->Items(i).Address, "recipient address");
    CheckCommandText(MailAgent, "mail agent");

    SendCommand("RSET");
    if (authenticationType_ != TAuthenticationType::atNone && AuthSchemeOffered(authenticationType_) && !Authenticated)
        Authenticate();
    if (!sender.Problem.empty() && OnNullSender) OnNullSender(message.From.Address, sender.Problem);
    SendCommand("MAIL FROM:" + sender.Path, 250);
    for (const TMailAddressList* list : {&message.Recipients, &message.CCList, &message.BccList})
        for (int i = 0; i < list->Count(); ++i) SendCommand("RCPT TO:<" + list->Items(i).Address + ">", {250, 251});
    SendCommand("DATA", 354);
    message.ExtraHeaders.SetHeaderValue("X-Mailer", MailAgent);

    // The content and "." leave in a few large sends; "." is only flushed when its reply is
    // awaited.
    OpenWriteBuffer();
    try {
        WriteMessage(message, false);
        if (!DataAtLineStart()) WriteLine("");
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
