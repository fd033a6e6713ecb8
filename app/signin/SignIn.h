#pragma once
// OAuth 2.0 sign-in: the credentials for a login, the browser and device flows, token storage.
// What the other rooms may use of this one.
#include "app/signin/SignInState.h"
#include "app/signin/OAuthSignIn.h"
#include "app/signin/OAuthTokens.h"
