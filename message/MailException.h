#pragma once
// Root of the mail library's exception family: every network and message failure derives from it.
#include "platform/Exception.h"

namespace tarnwick {

// What a failure means for the one who asked, set where it is raised, so callers ask the kind
// instead of testing types.
enum class TMailErrorKind {
    Other,
    TemporaryRefusal,  // the server said not now (4xx)
    PermanentRefusal,  // the server said no for good (5xx)
    ConnectionLost,    // the connection ended or could not be used
    LocalLimit,        // over a bound of ours (line, header, size, lines): the rest is still coming
    TimedOut,          // the peer went quiet
    Stopped,           // ended on request from this side
};

class EMailException : public Exception {
public:
    explicit EMailException(std::string message, TMailErrorKind kind = TMailErrorKind::Other)
        : Exception(std::move(message)), kind_(kind) {}
    TMailErrorKind Kind() const { return kind_; }

private:
    TMailErrorKind kind_;
};

// Failures that callers treat as quiet ends rather than errors (the graceful close).
class EMailSilentException : public EMailException {
public:
    using EMailException::EMailException;
};

}  // namespace tarnwick
