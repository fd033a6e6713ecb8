#pragma once
// Root of the mail library's exception family: every network and message failure derives from it.
#include "platform/Exception.h"

namespace tarnwick {

class EMailException : public Exception {
public:
    using Exception::Exception;
};

// Failures that callers treat as quiet ends rather than errors (the graceful close).
class EMailSilentException : public EMailException {
public:
    using EMailException::EMailException;
};

}  // namespace tarnwick
