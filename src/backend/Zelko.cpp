#include "backend/Zelko.h"

#include "core/Config.h"
#include "core/CrashHandler.h"
#include "core/Log.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QMutex>

#include <atomic>

namespace {

const QString kGet = QStringLiteral("GET");
const QString kPost = QStringLiteral("POST");

// A team server's key, sent with every call when configured.
HttpHeaders plainHeaders() {
    HttpHeaders headers{{QStringLiteral("Content-Type"), QStringLiteral("application/json")}};
    const QString accessKey = Config::instance().value(QStringLiteral("backend/accessKey"));
    if (!accessKey.isEmpty())
        headers.append({QStringLiteral("X-Vantry-Access-Key"), accessKey});
    return headers;
}

// The user's secret proves the Authorization value, once the server issued one.
HttpHeaders withSecret(HttpHeaders headers, const QString& userId) {
    const QString secret = Zelko::userSecret(userId);
    if (!userId.isEmpty() && !secret.isEmpty())
        headers.append({QStringLiteral("X-Vantry-Secret"), secret});
    return headers;
}

// Sent unchanged, without a scheme word; read at the moment of the request.
HttpHeaders userHeaders() {
    HttpHeaders headers = plainHeaders();
    headers.append({QStringLiteral("Authorization"), currentUser().id});
    return withSecret(std::move(headers), currentUser().id);
}

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

bool succeeded(const QJsonValue& result) {
    const QJsonValue flag = result.toObject().value(QStringLiteral("isSuccess"));
    return flag.isBool() && flag.toBool();
}

// The "response" value of a failed answer as one log line (an empty text when absent).
void logResponse(const QJsonValue& result) {
    const QJsonValue response = result.toObject().value(QStringLiteral("response"));
    if (response.isString())
        logLine(response.toString());
    else if (response.isObject())
        logLine(QString::fromUtf8(QJsonDocument(response.toObject()).toJson(QJsonDocument::Compact)));
    else if (response.isArray())
        logLine(QString::fromUtf8(QJsonDocument(response.toArray()).toJson(QJsonDocument::Compact)));
    else if (response.isDouble())
        logLine(QString::number(response.toDouble()));
    else if (response.isBool())
        logLine(response.toBool() ? QStringLiteral("true") : QStringLiteral("false"));
    else
        logLine(QString());
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

BackendApi::BackendApi(QString baseUrl) : m_baseUrl(std::move(baseUrl)) {}

QUrl BackendApi::endpoint(const QString& path) const {
    return QUrl(m_baseUrl + path);
}

QJsonObject BackendApi::addNewUserBody(const ZUser& user) {
    return {{QStringLiteral("email"), user.email},
            {QStringLiteral("username"), user.name},
            {QStringLiteral("photoURL"), user.avatar},
            {QStringLiteral("userid"), user.id}};
}

QJsonObject BackendApi::createAppBody(const Zapp& app, const QString& ownerId) {
    return {{QStringLiteral("userid"), ownerId},
            {QStringLiteral("appname"), app.appname},
            {QStringLiteral("appicon"), app.appicon},
            {QStringLiteral("appversion"), app.appversion},
            {QStringLiteral("appurl"), app.appurl},
            {QStringLiteral("appid"), app.appid},
            {QStringLiteral("appdate"), app.appdate},
            {QStringLiteral("appsize"), app.appsize},
            {QStringLiteral("minos"), app.appMinOS},
            {QStringLiteral("qrLink"), app.qrLink},
            {QStringLiteral("appdescription"), app.appdescription}};
}

QJsonObject BackendApi::reportCrashBody(const Crash& crash) {
    return {{QStringLiteral("name"), crash.name},
            {QStringLiteral("reason"), crash.reason},
            {QStringLiteral("exception"), crash.exception},
            {QStringLiteral("callStackSymbols"), crash.callStackText()}};
}

std::optional<QList<Zapp>> BackendApi::appsFromResponse(const QJsonValue& response) {
    if (!response.isArray())
        return std::nullopt;
    QList<Zapp> apps;
    for (const QJsonValue& element : response.toArray()) {
        if (!element.isObject())
            return std::nullopt;
        const QJsonObject object = element.toObject();
        QVariantMap map;
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (!it.value().isString())
                return std::nullopt;
            map.insert(it.key(), it.value().toString());
        }
        apps.append(Zapp(map));
    }
    return apps;
}

QString BackendApi::versionText(double v) {
    QString text = QString::number(v, 'f', QLocale::FloatingPointShortest);
    if (!text.contains(QLatin1Char('.')))
        text += QStringLiteral(".0");
    return text;
}

void BackendApi::addNewUser(const ZUser& user, std::function<void()> onSuccess, QObject* context) const {
    HttpConnection::request(
        endpoint(QStringLiteral("addnewuser")), kPost, ResponseKind::dictionary,
        withSecret(plainHeaders(), user.id), addNewUserBody(user),
        [onSuccess = std::move(onSuccess), userId = user.id](const QJsonValue& result, bool, const QString&) {
            if (!succeeded(result)) {
                logResponse(result);
                return;
            }
            const QJsonValue secret = result.toObject().value(QStringLiteral("userSecret"));
            if (secret.isString() && !secret.toString().isEmpty())
                Zelko::keepUserSecret(userId, secret.toString());
            if (onSuccess)
                onSuccess();
        },
        context);
}

void BackendApi::fetchApps(const QString& userId, std::function<void(const QList<Zapp>&)> onApps,
                           QObject* context) const {
    HttpConnection::request(
        endpoint(QStringLiteral("app/") + userId), kGet, ResponseKind::dictionary, userHeaders(),
        std::nullopt,
        [onApps = std::move(onApps)](const QJsonValue& result, bool, const QString&) {
            if (!succeeded(result))
                return;
            const std::optional<QList<Zapp>> apps =
                appsFromResponse(result.toObject().value(QStringLiteral("response")));
            if (apps && onApps)
                onApps(*apps);
        },
        context);
}

void BackendApi::createApp(const Zapp& app, std::function<void(const QString&)> onLink,
                           QObject* context) const {
    HttpConnection::request(
        endpoint(QStringLiteral("createapp")), kPost, ResponseKind::dictionary, userHeaders(),
        createAppBody(app, currentUser().id),
        [onLink = std::move(onLink)](const QJsonValue& result, bool, const QString&) {
            if (!succeeded(result))
                return;
            const QJsonValue response = result.toObject().value(QStringLiteral("response"));
            const QJsonValue url = response.toObject().value(QStringLiteral("url"));
            if (response.isObject() && url.isString() && onLink)
                onLink(url.toString());
        },
        context);
}

void BackendApi::reportCrash(const Crash& crash, std::function<void()> onConfirmed, QObject* context) const {
    HttpConnection::request(
        endpoint(QStringLiteral("reportcrash")), kPost, ResponseKind::dictionary, plainHeaders(),
        reportCrashBody(crash),
        [onConfirmed = std::move(onConfirmed)](const QJsonValue& result, bool, const QString&) {
            if (!succeeded(result)) {
                logResponse(result);
                return;
            }
            CrashHandler::clearStoredReport();
            if (onConfirmed)
                onConfirmed();
        },
        context);
}

void BackendApi::checkVersion(std::function<void(const QString&)> onNewVersion, QObject* context) const {
    HttpConnection::request(
        endpoint(QStringLiteral("checkversion")), kGet, ResponseKind::dictionary, plainHeaders(),
        std::nullopt,
        [onNewVersion = std::move(onNewVersion)](const QJsonValue& result, bool, const QString&) {
            if (!succeeded(result))
                return;
            const QJsonValue response = result.toObject().value(QStringLiteral("response"));
            const QJsonValue version = response.toObject().value(QStringLiteral("version"));
            if (!response.isObject() || !version.isDouble())
                return;
            const QString server = versionText(version.toDouble());
            const QString running = QCoreApplication::applicationVersion();
            if (!running.isEmpty() && running == server)
                return;
            if (onNewVersion)
                onNewVersion(server);
        },
        context);
}

void BackendApi::fetchInstalls(const QString& appId, std::function<void(const ZUserData&)> onData,
                               QObject* context) const {
    HttpConnection::send(
        endpoint(QStringLiteral("userdata/") + appId), kGet, userHeaders(), QByteArrayLiteral("{}"),
        [onData = std::move(onData)](const HttpReply& reply) {
            if (!reply.transportOk)
                return;
            const std::optional<ZUserData> data = ZUserData::fromJson(reply.body);
            if (data && onData)
                onData(*data);
        },
        context);
}

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
        QString configured = Config::instance().value(QStringLiteral("backend/baseUrl"));
        if (!configured.endsWith(QLatin1Char('/')))
            configured += QLatin1Char('/');
        return configured;
    }();
    return url;
}

QString Zelko::publicLink(const QString& appid) {
    return baseURL() + QString(appid).remove(QStringLiteral("__android"));
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
