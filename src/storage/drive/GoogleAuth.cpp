#include "storage/drive/GoogleAuth.h"

OAuthSession& GoogleAuth::instance() {
    static OAuthSession* session = new OAuthSession(
        {QStringLiteral("GTMAuthorization_Vantry_app"), QStringLiteral("Google Drive"),
         ConfigKey::GoogleTokenUrl, ConfigKey::GoogleClientId, ConfigKey::GoogleClientSecret});
    return *session;
}
