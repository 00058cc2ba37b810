#include "session/BackendSecrets.h"

#include "backend/Zelko.h"
#include "storage/KeychainHelper.h"

void keepBackendSecretsInCredentialStore() {
    Zelko::setUserSecretStore(UserSecretStore{
        [](const QString& userId) {
            return KeychainHelper().read(QStringLiteral("VantryBackend"), userId).value_or(QString());
        },
        [](const QString& userId, const QString& secret) {
            KeychainHelper().save(QStringLiteral("VantryBackend"), userId, secret);
        }});
}
