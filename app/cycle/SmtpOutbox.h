#pragma once
// The SMTP client as the cycle's outbox: a message queued where the server pipelines, else sent
// and waited for; a 421 or a close is the server ending the session.
#include <functional>
#include <string>

#include "app/cycle/Outbox.h"

namespace tarnwick {

class TMailSMTP;

class TSmtpOutbox : public TOutbox {
public:
    // shown: the server as typed; login: logs in again after a close (false when it failed).
    TSmtpOutbox(TMailSMTP& smtp, std::string shown, std::function<bool()> login);

    std::string Where() const override;
    bool Queue(TMailMessage& message) override;
    void Finish() override;
    void Send(TMailMessage& message) override;
    bool Reopen() override;
    bool Ended(const EMailException& e) const override;
    bool Answered(const EMailException& e) const override;
    std::string Reason(const EMailException& e) const override;

private:
    TMailSMTP& smtp_;
    std::string shown_;
    std::function<bool()> login_;
};

}  // namespace tarnwick
