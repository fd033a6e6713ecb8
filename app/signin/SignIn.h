#pragma once
// OAuth 2.0 sign-in: the credentials for a login, the browser and device flows, token storage; and
// the HTTP lookup of an address's servers.
// What the other rooms may use of this one.
#include "app/signin/SignInState.h"
#include "app/signin/OAuthSignIn.h"
#include "app/signin/OAuthTokens.h"
#include "app/signin/HttpRequest.h"
#include "app/signin/ProviderLookup.h"
