#pragma once
// The settings record and its file, where it lives, the servers as typed, the forwarding filter,
// the checks of typed fields, the mail providers' servers.
// What the other rooms may use of this one.
#include "app/settings/SettingsFile.h"
#include "app/settings/SettingsLocation.h"
#include "app/settings/AppPaths.h"
#include "app/settings/ServerSettings.h"
#include "app/settings/ServerEndpoint.h"
#include "app/settings/ForwardFilter.h"
#include "app/settings/FieldChecks.h"
#include "app/settings/MailProviders.h"
