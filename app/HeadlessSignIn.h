#pragma once
// Sign-in without a display (`--authorize`): the device flow where the provider offers one for
// these scopes, else the authorization URL printed and the loopback listener waited on.
#include <functional>
#include <string>

#include "app/signin/SignIn.h"

namespace tarnwick {

// Blocks until the sign-in ends. print gets each line to show (never a token or code; the URL
// carries only the PKCE challenge and the state). cancelled is asked now and then. True with the
// tokens, false with the reason printed.
bool SignInWithoutDisplay(const TOAuthProvider& provider, const std::function<void(const std::string&)>& print,
                          const std::function<bool()>& cancelled, TOAuthTokens& tokens);

}  // namespace tarnwick
