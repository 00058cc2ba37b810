#include "storage/dropbox/DropboxAuth.h"

OAuthSession& DropboxAuth::instance() {
    static OAuthSession* session =
        new OAuthSession({QStringLiteral("dropbox_auth"), QStringLiteral("Dropbox"),
                          QStringLiteral("dropbox/tokenUrl"), QStringLiteral("dropbox/appKey"), QString()});
    return *session;
}
