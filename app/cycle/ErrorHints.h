#pragma once
// Short Japanese explanations put before a server's or a socket's own words, so that a user who
// cannot read "Connection refused." still learns what to change. One table for every place that
// shows an error: the log, the balloon, the connection test and the headless output.
#include <exception>
#include <string>

namespace tarnwick {

// Where the failure happened: the same refusal means a wrong password at the login and a refused
// message afterwards.
enum class TFailedStep {
    Login,     // connect, TLS, greeting, authentication
    Transfer,  // after the login: listing, retrieving, sending
};

// The hint for a failure; empty when none fits (a stop, a local limit, anything unknown).
std::string ErrorHint(const std::exception& e, TFailedStep step);

// "【hint】 text", or text alone when no hint fits. text is the error as shown so far (code page 932).
std::string WithHint(const std::string& hint, const std::string& text);
std::string WithHint(const std::exception& e, TFailedStep step, const std::string& text);

}  // namespace tarnwick
