#include "storage/dropbox/DropboxAuth.h"

OAuthSession& DropboxAuth::instance() {
    static OAuthSession* session =
        new OAuthSession({QStringLiteral("dropbox_auth"), QStringLiteral("Dropbox"),
                          ConfigKey::DropboxTokenUrl, ConfigKey::DropboxAppKey, std::nullopt});
    return *session;
}
