#pragma once
// Where an account signs in with OAuth 2.0: the presets for Microsoft and Google and the endpoints
// the user gives for any other provider, and which endpoints may be reached at all.
#include <string>

#include "app/settings/Settings.h"

namespace tarnwick {

struct TOAuthProvider {
    std::string AuthorizationUrl, TokenUrl;
    std::string DeviceUrl;  // empty where the provider allows no device flow for these scopes
    std::string Scopes;     // blank-separated
    std::string ClientId;
    // Microsoft: XOAUTH2 even where OAUTHBEARER is offered, and only the two-step AUTH on POP3;
    // its refresh requests must name the scopes again.
    bool PreferXOAuth2 = false;
    bool TwoStepPop3 = false;
    bool ScopeOnRefresh = false;
    // A PEM file trusted besides the system's store, as for the mail server the sign-in is for.
    std::string CAFile;
};

// The client ID a distributor built in for the provider (empty unless set at build time).
std::string BuiltInClientId(TAuthMethod method);
// The provider's endpoints and scopes; amPassword gives an empty one.
TOAuthProvider ProviderFor(const TOAuthSettings& settings);
// The same for one server, trusting its CAFile as its mail connection does.
TOAuthProvider ProviderFor(const TServerAccess& access);
// The same for a server as the cycle reaches it: Microsoft grants IMAP and POP3 by separate scopes.
TOAuthProvider ProviderFor(const TServerAccount& account);
// https with a host, or plain http to this machine's loopback address only (a local test
// provider: nothing leaves the machine). Anything else is never asked.
bool EndpointAllowed(const std::string& url);

}  // namespace tarnwick
