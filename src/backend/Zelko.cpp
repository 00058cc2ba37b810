#include "backend/Zelko.h"

#include "core/Config.h"
#include "records/ZappWire.h"

#include <QMutex>

#include <atomic>

namespace {

QMutex& secretMutex() {
    static QMutex mutex;
    return mutex;
}
UserSecretStore& secretStore() {
    static UserSecretStore store;
    return store;
}
QHash<QString, QString>& knownSecrets() {
    static QHash<QString, QString> secrets;
    return secrets;
}

std::atomic<bool> g_useLocalBackend{false};

QMutex& hookMutex() {
    static QMutex mutex;
    return mutex;
}
std::function<void(const QString&)>& newVersionHook() {
    static std::function<void(const QString&)> hook;
    return hook;
}

} // namespace

void Zelko::setUserSecretStore(UserSecretStore store) {
    QMutexLocker lock(&secretMutex());
    secretStore() = std::move(store);
}

QString Zelko::userSecret(const QString& userId) {
    QMutexLocker lock(&secretMutex());
    const auto known = knownSecrets().constFind(userId);
    if (known != knownSecrets().constEnd())
        return *known;
    const QString stored = secretStore().load ? secretStore().load(userId) : QString();
    if (!stored.isEmpty())
        knownSecrets().insert(userId, stored);
    return stored;
}

void Zelko::keepUserSecret(const QString& userId, const QString& secret) {
    QMutexLocker lock(&secretMutex());
    knownSecrets().insert(userId, secret);
    if (secretStore().save)
        secretStore().save(userId, secret);
}

void Zelko::setUseLocalBackend(bool on) {
    g_useLocalBackend.store(on);
}

bool Zelko::useLocalBackend() {
    return g_useLocalBackend.load();
}

QString Zelko::baseURL() {
    // A function-local static is initialised exactly once, even with concurrent first calls.
    static const QString url = [] {
        if (g_useLocalBackend.load())
            return localBackendURL();
        QString configured = Config::instance().value(ConfigKey::BackendBaseUrl);
        if (!configured.endsWith(QLatin1Char('/')))
            configured += QLatin1Char('/');
        return configured;
    }();
    return url;
}

QString Zelko::publicLink(const QString& appid) {
    return ZappWire::publicLink(baseURL(), appid);
}

void Zelko::setNewVersionHook(std::function<void(const QString&)> hook) {
    QMutexLocker lock(&hookMutex());
    newVersionHook() = std::move(hook);
}

void Zelko::checkVersion() {
    api().checkVersion([](const QString& serverVersion) {
        std::function<void(const QString&)> hook;
        {
            QMutexLocker lock(&hookMutex());
            hook = newVersionHook();
        }
        if (hook)
            hook(serverVersion);
    });
}
