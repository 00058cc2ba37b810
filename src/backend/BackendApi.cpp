#include "backend/BackendApi.h"

#include "records/ZappWire.h"

#include "backend/Zelko.h"
#include "core/Config.h"
#include "core/CrashHandler.h"
#include "core/Log.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>

namespace {

const QString kGet = QStringLiteral("GET");
const QString kPost = QStringLiteral("POST");

// A team server's key, sent with every call when configured.
HttpHeaders plainHeaders() {
    HttpHeaders headers{{QStringLiteral("Content-Type"), QStringLiteral("application/json")}};
    const QString accessKey = Config::instance().value(ConfigKey::BackendAccessKey);
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

// One sentence for a failed call: the transport's message, the server's "response" text, or a
// plain statement that the answer was not understood.
QString failureReason(const QJsonValue& result, bool isError, const QString& message) {
    if (isError)
        return message.isEmpty() ? QStringLiteral("The Vantry server could not be reached.") : message;
    const QJsonValue response = result.toObject().value(QStringLiteral("response"));
    if (!succeeded(result) && response.isString() && !response.toString().isEmpty())
        return QStringLiteral("The Vantry server refused the request: %1").arg(response.toString());
    if (!succeeded(result))
        return QStringLiteral("The Vantry server refused the request.");
    return QStringLiteral("The Vantry server's answer was not understood.");
}

void report(const BackendApi::Failure& onFailure, const QJsonValue& result, bool isError,
            const QString& message) {
    if (onFailure)
        onFailure(failureReason(result, isError, message));
}

} // namespace

// The id is sent unchanged, without a scheme word, read at the moment of the request.
HttpHeaders BackendApi::userHeaders() {
    HttpHeaders headers = plainHeaders();
    headers.append({QStringLiteral("Authorization"), currentUser().id});
    return withSecret(std::move(headers), currentUser().id);
}

HttpHeaders BackendApi::registrationHeaders(const QString& userId) {
    return withSecret(plainHeaders(), userId);
}

void BackendApi::keepIssuedSecret(const QString& userId, const QJsonObject& answer) {
    const QJsonValue secret = answer.value(QStringLiteral("userSecret"));
    if (secret.isString() && !secret.toString().isEmpty())
        Zelko::keepUserSecret(userId, secret.toString());
}

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
    using namespace ZappWire;
    QJsonObject body{{userid, ownerId},
                     {appname, app.appname},
                     {appicon, app.appicon},
                     {appversion, app.appversion},
                     {appurl, app.appurl},
                     {appid, app.appid},
                     {appdate, app.appdate},
                     {appsize, app.appsize},
                     {minos, app.appMinOS},
                     {qrLink, app.qrLink},
                     {appdescription, app.appdescription}};
    const std::pair<const QString&, const QString&> optional[] = {
        {profilekind, app.profileKind},
        {profileexpiry, app.profileExpiry},
        {provisioneddevices, app.provisionedDevices},
        {provisioneddeviceids, app.provisionedDeviceIds}};
    for (const auto& [key, value] : optional) {
        if (!value.isEmpty())
            body.insert(key, value);
    }
    // Sent when known: the server gives the builds of one bundle id a stable link.
    if (!app.bundleID.isEmpty())
        body.insert(bundleid, app.bundleID);
    return body;
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

void BackendApi::addNewUser(const ZUser& user, std::function<void()> onSuccess, QObject* context,
                            Failure onFailure) const {
    HttpConnection::request(
        endpoint(QStringLiteral("addnewuser")), kPost, ResponseKind::dictionary, registrationHeaders(user.id),
        addNewUserBody(user),
        [onSuccess = std::move(onSuccess), onFailure = std::move(onFailure),
         userId = user.id](const QJsonValue& result, bool isError, const QString& message) {
            if (!succeeded(result)) {
                logResponse(result);
                report(onFailure, result, isError, message);
                return;
            }
            keepIssuedSecret(userId, result.toObject());
            if (onSuccess)
                onSuccess();
        },
        context);
}

void BackendApi::fetchApps(const QString& userId, std::function<void(const QList<Zapp>&)> onApps,
                           QObject* context, Failure onFailure) const {
    HttpConnection::request(
        endpoint(QStringLiteral("app/") + userId), kGet, ResponseKind::dictionary, userHeaders(),
        std::nullopt,
        [onApps = std::move(onApps), onFailure = std::move(onFailure)](const QJsonValue& result, bool isError,
                                                                       const QString& message) {
            const std::optional<QList<Zapp>> apps =
                succeeded(result) ? appsFromResponse(result.toObject().value(QStringLiteral("response")))
                                  : std::nullopt;
            if (!apps) {
                report(onFailure, result, isError, message);
                return;
            }
            if (onApps)
                onApps(*apps);
        },
        context);
}

void BackendApi::createApp(const Zapp& app, std::function<void(const QString&, const QString&)> onLink,
                           QObject* context, Failure onFailure) const {
    HttpConnection::request(
        endpoint(QStringLiteral("createapp")), kPost, ResponseKind::dictionary, userHeaders(),
        createAppBody(app, currentUser().id),
        [onLink = std::move(onLink), onFailure = std::move(onFailure)](const QJsonValue& result, bool isError,
                                                                       const QString& message) {
            const QJsonValue response = result.toObject().value(QStringLiteral("response"));
            const QJsonValue url = response.toObject().value(QStringLiteral("url"));
            if (!succeeded(result) || !response.isObject() || !url.isString() || url.toString().isEmpty()) {
                logLine(QStringLiteral("createapp failed: ") + failureReason(result, isError, message));
                report(onFailure, result, isError, message);
                return;
            }
            if (onLink)
                onLink(url.toString(), response.toObject().value(ZappWire::latestUrl).toString());
        },
        context);
}

void BackendApi::updateApp(const QString& appId, const QString& notes, std::function<void()> onSaved,
                           QObject* context, Failure onFailure) const {
    HttpConnection::request(
        endpoint(QStringLiteral("updateapp")), kPost, ResponseKind::dictionary, userHeaders(),
        QJsonObject{{ZappWire::appid, appId}, {ZappWire::appdescription, notes}},
        [onSaved = std::move(onSaved),
         onFailure = std::move(onFailure)](const QJsonValue& result, bool isError, const QString& message) {
            if (!succeeded(result)) {
                report(onFailure, result, isError, message);
                return;
            }
            if (onSaved)
                onSaved();
        },
        context);
}

void BackendApi::reportCrash(const Crash& crash, std::function<void()> onConfirmed, QObject* context,
                             Failure onFailure) const {
    HttpConnection::request(
        endpoint(QStringLiteral("reportcrash")), kPost, ResponseKind::dictionary, plainHeaders(),
        reportCrashBody(crash),
        [onConfirmed = std::move(onConfirmed),
         onFailure = std::move(onFailure)](const QJsonValue& result, bool isError, const QString& message) {
            if (!succeeded(result)) {
                logResponse(result);
                report(onFailure, result, isError, message);
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
                               QObject* context, Failure onFailure) const {
    HttpConnection::send(
        endpoint(QStringLiteral("userdata/") + appId), kGet, userHeaders(), QByteArrayLiteral("{}"),
        [onData = std::move(onData), onFailure = std::move(onFailure)](const HttpReply& reply) {
            const std::optional<ZUserData> data =
                reply.transportOk ? ZUserData::fromJson(reply.body) : std::nullopt;
            if (!data) {
                if (onFailure)
                    onFailure(reply.transportOk
                                  ? QStringLiteral("The Vantry server's answer was not understood.")
                                  : reply.errorText);
                return;
            }
            if (onData)
                onData(*data);
        },
        context);
}

void BackendApi::fetchDevices(const QString& appId, std::function<void(const QList<DeviceCheck>&)> onChecks,
                              QObject* context, Failure onFailure) const {
    HttpConnection::request(
        endpoint(QStringLiteral("devices/") + appId), kGet, ResponseKind::dictionary, userHeaders(),
        std::nullopt,
        [onChecks = std::move(onChecks),
         onFailure = std::move(onFailure)](const QJsonValue& result, bool isError, const QString& message) {
            const std::optional<QList<DeviceCheck>> checks =
                succeeded(result)
                    ? DeviceCheck::listFromJson(result.toObject().value(QStringLiteral("response")))
                    : std::nullopt;
            if (!checks) {
                report(onFailure, result, isError, message);
                return;
            }
            if (onChecks)
                onChecks(*checks);
        },
        context);
}
