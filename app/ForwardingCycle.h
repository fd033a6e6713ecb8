#pragma once
// One forwarding cycle: log into POP3, work out the new unique ids, forward each new message through
// SMTP and keep the ledger of forwarded ids. Owned by the main window, which calls ForwardNewMail.
#include <functional>
#include <memory>
#include <string>

#include "app/ServerSettings.h"

namespace tarnwick {

class TForwardingCycle {
public:
    using TAddLog = std::function<void(const std::string& text)>;

    explicit TForwardingCycle(TAddLog addLog);
    ~TForwardingCycle();
    TForwardingCycle(const TForwardingCycle&) = delete;
    TForwardingCycle& operator=(const TForwardingCycle&) = delete;

    // Runs one whole cycle. Errors that leave the cycle are raised as exceptions derived from
    // tarnwick::Exception, carrying the text to show the user.
    void ForwardNewMail(const TServerSettings& settings, const std::string& forwardAddress);

private:
    struct Impl;
    TAddLog addLog_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tarnwick
