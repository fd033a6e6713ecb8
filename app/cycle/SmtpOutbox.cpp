#include "app/cycle/SmtpOutbox.h"

#include "app/cycle/CycleSteps.h"
#include "net/MailExceptions.h"
#include "net/MailSMTP.h"

namespace tarnwick {

namespace {

// The server's reply code of a refusal; 0 for any other failure.
int ReplyCodeOf(const EMailException& e) {
    const auto* reply = dynamic_cast<const EMailProtocolReplyError*>(&e);
    return reply == nullptr ? 0 : reply->ReplyCode;
}

}  // namespace

TSmtpOutbox::TSmtpOutbox(TMailSMTP& smtp, std::string shown, std::function<bool()> login)
    : smtp_(smtp), shown_(std::move(shown)), login_(std::move(login)) {}

std::string TSmtpOutbox::Where() const { return "SMTPサーバ(" + shown_ + ")"; }

bool TSmtpOutbox::Queue(TMailMessage& message) { return smtp_.QueueMail(message); }

void TSmtpOutbox::Finish() { smtp_.FinishMail(); }

void TSmtpOutbox::Send(TMailMessage& message) { smtp_.SendMail(message); }

bool TSmtpOutbox::Reopen() {
    detail::ForceClose(smtp_);
    return login_();
}

// Many servers end a session after so many messages, with 421 or a plain close.
bool TSmtpOutbox::Ended(const EMailException& e) const {
    return e.Kind() == TMailErrorKind::ConnectionLost || ReplyCodeOf(e) == 421;
}

bool TSmtpOutbox::Answered(const EMailException& e) const { return ReplyCodeOf(e) != 0; }

// 530 refuses the sender, not the message: say that the server wants a log-in.
std::string TSmtpOutbox::Reason(const EMailException& e) const {
    return ReplyCodeOf(e) == 530 ? "SMTP認証が必要です: " + e.Message() : e.Message();
}

}  // namespace tarnwick
