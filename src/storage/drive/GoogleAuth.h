#pragma once

#include "storage/OAuthSession.h"

// The Google authorization shared by every Drive request (installed-app client: the refresh grant
// carries the client identifier and secret).
class GoogleAuth {
public:
    static OAuthSession& instance();
};
