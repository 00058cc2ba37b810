#pragma once

#include "storage/OAuthSession.h"

using DropBoxTokens = OAuthTokens;

// The Dropbox authorization (PKCE app: the refresh grant sends the app key, no secret).
class DropBoxAuth {
public:
    static OAuthSession& instance();
};
