#pragma once
// One HTTP request of the sign-in room (RFC 9110), bounded and stoppable: the token endpoints and
// a provider's settings document. It blocks its caller in a local event loop, so the cycle's
// thread, the command line and the window use it alike.
#include <optional>
#include <string>

namespace tarnwick {

struct THttpRequest {
    std::string Url;
    std::string Accept;
    // Sent as POST of this application/x-www-form-urlencoded body when set; else a GET.
    std::optional<std::string> Form;
    int TimeoutMs = 30000;
    // A PEM file trusted besides the system's store and SSL_CERT_FILE.
    std::string CAFile;
};

struct THttpAnswer {
    int Status = 0;
    std::string Body;     // at most kMaxHttpReply bytes
    std::string Failure;  // transport failure, empty when an answer came
    bool TimedOut = false;  // the failure was the time-out
};

// The most of a reply that is read: what is asked is a few KB, and a reply that goes on and on
// must not grow the process.
constexpr long kMaxHttpReply = 1 << 20;

// No redirects are followed and certificates are checked as Qt does by default. Only addresses
// EndpointAllowed takes are asked. The time-out bounds the whole request; the abort of this
// thread's scope (a stop of the run) ends it at once with Failure "Aborted.".
THttpAnswer Fetch(const THttpRequest& request);

}  // namespace tarnwick
