#include "storage/drive/GoogleAuth.h"

OAuthSession& GoogleAuth::instance() {
    static OAuthSession* session =
        new OAuthSession({QStringLiteral("GTMAuthorization_Vantry_app"), QStringLiteral("Google Drive"),
                          QStringLiteral("google/tokenUrl"), QStringLiteral("google/clientId"),
                          QStringLiteral("google/clientSecret")});
    return *session;
}
