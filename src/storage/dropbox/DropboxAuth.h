#pragma once

#include "storage/OAuthSession.h"

using DropboxTokens = OAuthTokens;

// The Dropbox authorization (PKCE app: the refresh grant sends the app key, no secret).
class DropboxAuth {
public:
    static OAuthSession& instance();
};
