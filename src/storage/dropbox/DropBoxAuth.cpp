#include "storage/dropbox/DropBoxAuth.h"

OAuthSession& DropBoxAuth::instance() {
    static OAuthSession* session =
        new OAuthSession({QStringLiteral("dropbox_auth"), QStringLiteral("Dropbox"),
                          ConfigKey::DropboxTokenUrl, ConfigKey::DropboxAppKey, std::nullopt});
    return *session;
}
