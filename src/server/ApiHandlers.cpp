#include "server/ApiHandlers.h"

#include "core/RandomString.h"
#include "records/DeviceCheck.h"
#include "records/ZappWire.h"
#include "server/ApiBody.h"
#include "server/Database.h"
#include "server/Limits.h"
#include "server/Router.h"
#include "server/UserSecrets.h"
#include "server/webhooks/AppEvents.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <optional>

namespace {

const QString kAuthorization = QStringLiteral("authorization");
// A profile kind, a date or a count; nothing longer belongs there.
constexpr qsizetype kMaxOptionalKeyLength = 32;

bool onlyAllowed(const QString& id, int maxLength, bool allowColon, bool allowDot = false) {
    if (id.isEmpty() || id.size() > maxLength)
        return false;
    for (QChar c : id) {
        const char16_t u = c.unicode();
        const bool ok = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') ||
                        u == u'_' || u == u'-' || (allowColon && u == u':') || (allowDot && u == u'.');
        if (!ok)
            return false;
    }
    return true;
}

QString lower(const char* header) {
    return QString::fromLatin1(header).toLower();
}

ApiResponse tooMany(int retryAfterSeconds, const QString& message) {
    ApiResponse r = ApiResponse::failure(429, message);
    r.headers.emplaceBack(QByteArray("Retry-After"), QByteArray::number(retryAfterSeconds));
    return r;
}

using apibody::storageFailure;
using apibody::texts;
const auto bodyObject = apibody::object;

} // namespace

ApiHandlers::ApiHandlers(Database& database, Settings settings)
    : m_database(database), m_settings(std::move(settings)),
      m_crashLimit(std::make_unique<RateLimiter>(m_settings.crashReportsPerMinute, std::chrono::seconds(60),
                                                 database.sharedState(), QStringLiteral("crash"))),
      m_registrationLimit(std::make_unique<RateLimiter>(m_settings.registrationsPerMinute,
                                                        std::chrono::seconds(60), database.sharedState(),
                                                        QStringLiteral("registration"))),
      m_appsByUser(std::make_unique<RateLimiter>(m_settings.appsPerMinute, std::chrono::seconds(60),
                                                 database.sharedState(), QStringLiteral("apps-user"))),
      m_appsByAddress(std::make_unique<RateLimiter>(m_settings.appsPerMinute, std::chrono::seconds(60),
                                                    database.sharedState(), QStringLiteral("apps-address"))),
      m_secrets(std::make_unique<UserSecrets>(database, m_settings.secretLife, m_settings.clock)) {}

ApiHandlers::~ApiHandlers() = default;

bool ApiHandlers::isAllowedAppUrl(const QString& url) {
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid())
        return false;
    const QString scheme = parsed.scheme().toLower();
    if (scheme == QLatin1String("itms-services"))
        return true;
    return (scheme == QLatin1String("https") || scheme == QLatin1String("http")) && !parsed.host().isEmpty();
}

std::optional<QString> ApiHandlers::caller(const ApiRequest& request, ApiResponse* error,
                                           bool mustBeRegistered) {
    const QString id = request.header(kAuthorization);
    if (id.isEmpty()) {
        *error = ApiResponse::failure(401, QStringLiteral("Authorization required"));
        return std::nullopt;
    }
    if (!isValidUserId(id)) {
        *error = ApiResponse::failure(401, QStringLiteral("Invalid Authorization"));
        return std::nullopt;
    }
    switch (m_secrets->verify(id, request.header(lower(kSecretHeader)))) {
    case UserSecrets::Verdict::Accepted:
        return id;
    case UserSecrets::Verdict::Unregistered:
        if (!mustBeRegistered)
            return id;
        *error = ApiResponse::failure(401, QStringLiteral("Unknown user: register with /addnewuser first"));
        return std::nullopt;
    case UserSecrets::Verdict::Refused:
        *error = ApiResponse::failure(401, QStringLiteral("The user's secret is missing or wrong"));
        return std::nullopt;
    case UserSecrets::Verdict::Failed:
        break;
    }
    *error = storageFailure();
    return std::nullopt;
}

ApiResponse ApiHandlers::guarded(const ApiRequest& request,
                                 ApiResponse (ApiHandlers::*handler)(const ApiRequest&)) {
    if (std::optional<ApiResponse> refusal = admit(request, false))
        return std::move(*refusal);
    return (this->*handler)(request);
}

bool ApiHandlers::isValidAppId(const QString& id) {
    return onlyAllowed(id, 64, false);
}

bool ApiHandlers::isValidUserId(const QString& id) {
    return onlyAllowed(id, 128, true);
}

bool ApiHandlers::isValidBundleId(const QString& id) {
    return onlyAllowed(id, 255, false, true);
}

QString ApiHandlers::publicLink(const QString& publicUrl, const QString& appid) {
    return ZappWire::publicLink(publicUrl, appid);
}

void ApiHandlers::registerRoutes(Router& router) {
    const QString get = QStringLiteral("GET");
    const QString post = QStringLiteral("POST");
    router.add(post, QStringLiteral("/addnewuser"),
               [this](const ApiRequest& r) { return guarded(r, &ApiHandlers::addNewUser); });
    // "app/" is what a client without a signed-in user asks for; it gets the 401 of any anonymous call.
    router.add(get, QStringLiteral("/app/"),
               [this](const ApiRequest& r) { return guarded(r, &ApiHandlers::fetchApps); });
    router.add(
        get, QStringLiteral("/app/:userid"),
        [this](const ApiRequest& r) { return guarded(r, &ApiHandlers::fetchApps); }, true);
    router.add(post, QStringLiteral("/createapp"),
               [this](const ApiRequest& r) { return guarded(r, &ApiHandlers::createApp); });
    router.add(post, QStringLiteral("/reportcrash"),
               [this](const ApiRequest& r) { return guarded(r, &ApiHandlers::reportCrash); });
    router.add(get, QStringLiteral("/checkversion"),
               [this](const ApiRequest& r) { return guarded(r, &ApiHandlers::checkVersion); });
    router.add(get, QStringLiteral("/userdata/:appid"),
               [this](const ApiRequest& r) { return guarded(r, &ApiHandlers::fetchInstalls); });
    router.add(post, QStringLiteral("/updateapp"),
               [this](const ApiRequest& r) { return guarded(r, &ApiHandlers::updateApp); });

    // The calls that carry a body are checked on their headers first, so a caller that would be
    // refused never makes the server hold a body.
    router.admitWith(
        post, QStringLiteral("/addnewuser"), [this](const ApiRequest& r) { return admit(r, false); },
        kRegistrationBodyBytes);
    router.admitWith(post, QStringLiteral("/createapp"),
                     [this](const ApiRequest& r) { return admit(r, true); });
    router.admitWith(post, QStringLiteral("/reportcrash"),
                     [this](const ApiRequest& r) { return admit(r, false); });
    router.admitWith(post, QStringLiteral("/updateapp"),
                     [this](const ApiRequest& r) { return admit(r, true); });
}

std::optional<ApiResponse> ApiHandlers::admit(const ApiRequest& request, bool needsCaller) {
    if (!m_settings.accessKey.isEmpty() &&
        !UserSecrets::constantTimeEquals(request.header(lower(kAccessKeyHeader)).toUtf8(),
                                         m_settings.accessKey.toUtf8()))
        return ApiResponse::failure(401, QStringLiteral("This server needs its access key"));
    ApiResponse error;
    if (needsCaller && !caller(request, &error))
        return error;
    return std::nullopt;
}

ApiResponse ApiHandlers::addNewUser(const ApiRequest& request) {
    ApiResponse error;
    const auto object = bodyObject(request, &error);
    if (!object)
        return error;
    const auto fields = texts(*object,
                              {QStringLiteral("userid"), QStringLiteral("email"), QStringLiteral("username"),
                               QStringLiteral("photoURL")},
                              &error);
    if (!fields)
        return error;
    const QString userid = fields->value(QStringLiteral("userid"));
    if (!isValidUserId(userid))
        return ApiResponse::failure(400, QStringLiteral("Invalid user id"));
    if (const std::optional<int> wait = m_registrationLimit->take(request.peer))
        return tooMany(*wait, QStringLiteral("Too many registrations from this address"));
    const QString secret = randomString(40);
    const Database::UserSave saved = m_database.saveUser(
        StoredUser{userid, fields->value(QStringLiteral("email")), fields->value(QStringLiteral("username")),
                   fields->value(QStringLiteral("photoURL"))},
        UserSecrets::hashOf(request.header(lower(kSecretHeader))), UserSecrets::hashOf(secret));
    // A new secret rides beside "response", where clients that do not know it never look.
    const auto withSecret = [&secret](ApiResponse r) {
        r.body.chop(1);
        r.body.append(",\"").append(kSecretKey).append("\":");
        ApiResponse::appendJsonString(r.body, secret);
        r.body.append('}');
        return r;
    };
    if (saved == Database::UserSave::Added || saved == Database::UserSave::UpdatedAndSecretSet)
        m_secrets->issued(userid, secret);
    switch (saved) {
    case Database::UserSave::Added:
        return withSecret(ApiResponse::success(201, QStringLiteral("User added")));
    case Database::UserSave::UpdatedAndSecretSet:
        return withSecret(ApiResponse::success(200, QStringLiteral("User updated")));
    case Database::UserSave::Updated:
        return ApiResponse::success(200, QStringLiteral("User updated"));
    case Database::UserSave::Refused:
        return ApiResponse::failure(401, QStringLiteral("The user's secret is missing or wrong"));
    case Database::UserSave::Failed:
        break;
    }
    return storageFailure();
}

ApiResponse ApiHandlers::fetchApps(const ApiRequest& request) {
    ApiResponse error;
    const auto user = caller(request, &error);
    if (!user)
        return error;
    if (request.params.value(QStringLiteral("userid")) != *user)
        return ApiResponse::failure(403, QStringLiteral("Not your apps"));
    // The busiest answer: a list already written is served again while the user's list stamp
    // (the app count and the notes edited, two index lookups) says it is current.
    const std::optional<qint64> stamp = m_database.appListStamp(*user);
    if (!stamp)
        return storageFailure();
    {
        std::lock_guard lock(m_listsMutex);
        const auto cached = m_appLists.constFind(*user);
        if (cached != m_appLists.constEnd() && cached->stamp == *stamp) {
            ApiResponse r;
            r.body = cached->body;
            return r;
        }
    }
    const auto apps = m_database.appsOf(*user);
    if (!apps)
        return storageFailure();
    ApiResponse answer = ApiResponse::successRaw(200, appListJson(*apps, m_settings.publicUrl));
    std::lock_guard lock(m_listsMutex);
    if (const auto old = m_appLists.constFind(*user); old != m_appLists.constEnd())
        m_appListBytes -= old->body.size();
    if (m_appListBytes + answer.body.size() > kAppListCacheBytes) {
        m_appLists.clear(); // a crude bound; busy users are written again at once
        m_appListBytes = 0;
    }
    m_appListBytes += answer.body.size();
    m_appLists.insert(*user, AppList{*stamp, answer.body});
    return answer;
}

ApiResponse ApiHandlers::createApp(const ApiRequest& request) {
    ApiResponse error;
    // Every record gets a public page that redirects to its link: only registered users make them.
    const auto user = caller(request, &error, true);
    if (!user)
        return error;
    if (const std::optional<int> wait = m_appsByAddress->take(request.peer))
        return tooMany(*wait, QStringLiteral("Too many apps from this address"));
    if (const std::optional<int> wait = m_appsByUser->take(*user))
        return tooMany(*wait, QStringLiteral("Too many apps for this user"));
    const auto object = bodyObject(request, &error);
    if (!object)
        return error;
    const auto f = texts(*object, ZappWire::createAppKeys, &error);
    if (!f)
        return error;
    // The owner is the caller; a body naming someone else is a confused or forged client.
    if (f->value(ZappWire::userid) != *user)
        return ApiResponse::failure(403, QStringLiteral("userid does not match Authorization"));
    const QString appid = f->value(ZappWire::appid);
    if (!isValidAppId(appid))
        return ApiResponse::failure(400, QStringLiteral("Invalid app id"));
    // The install page redirects to this link: nothing that runs script or leaves the web.
    if (!isAllowedAppUrl(f->value(ZappWire::appurl)))
        return ApiResponse::failure(400,
                                    QStringLiteral("appurl must be an https:, http: or itms-services: URL"));
    // The optional keys: absent is fine, anything but a short text is not.
    QHash<QString, QString> optional;
    for (const QString& key : ZappWire::optionalAppKeys) {
        const QJsonValue v = object->value(key);
        if (v.isUndefined())
            continue;
        if (!v.isString() || v.toString().size() > kMaxOptionalKeyLength)
            return ApiResponse::failure(400, QStringLiteral("Key \"%1\" must be a short text").arg(key));
        optional.insert(key, v.toString());
    }
    // The profile's devices: absent, or every one a device id (the install page checks testers'
    // devices against them).
    const QJsonValue deviceIds = object->value(ZappWire::provisioneddeviceids);
    if (!deviceIds.isUndefined() && (!deviceIds.isString() || !DeviceIds::parse(deviceIds.toString())))
        return ApiResponse::failure(
            400, QStringLiteral("Key \"%1\" must list device ids").arg(ZappWire::provisioneddeviceids));
    const QJsonValue bundle = object->value(ZappWire::bundleid);
    if (!bundle.isUndefined() &&
        (!bundle.isString() || (!bundle.toString().isEmpty() && !isValidBundleId(bundle.toString()))))
        return ApiResponse::failure(400,
                                    QStringLiteral("Key \"bundleid\" must be a bundle id or package name"));
    if (ZappWire::characterCount(f->value(ZappWire::appdescription)) > ZappWire::maxNotesCharacters)
        return ApiResponse::failure(
            400,
            QStringLiteral("appdescription is longer than %1 characters").arg(ZappWire::maxNotesCharacters));
    QString latestKey;
    if (!bundle.toString().isEmpty()) {
        const std::optional<QString> key = stableKey(*user, bundle.toString(), appid);
        if (!key)
            return storageFailure();
        latestKey = *key;
    }
    const StoredApp app{appid,
                        *user,
                        f->value(ZappWire::appname),
                        f->value(ZappWire::appicon),
                        f->value(ZappWire::appversion),
                        f->value(ZappWire::appurl),
                        f->value(ZappWire::appdate),
                        f->value(ZappWire::appsize),
                        f->value(ZappWire::minos),
                        f->value(ZappWire::qrLink),
                        f->value(ZappWire::appdescription),
                        optional.value(ZappWire::profilekind),
                        optional.value(ZappWire::profileexpiry),
                        optional.value(ZappWire::provisioneddevices),
                        bundle.toString(),
                        latestKey,
                        deviceIds.toString()};
    switch (m_database.insertApp(app)) {
    case Database::Insert::Added: {
        QJsonObject links{{QStringLiteral("url"), publicLink(m_settings.publicUrl, appid)}};
        if (!latestKey.isEmpty())
            links.insert(ZappWire::latestUrl, ZappWire::latestLink(m_settings.publicUrl, latestKey));
        if (m_settings.events)
            m_settings.events->published(app);
        return ApiResponse::success(201, links);
    }
    case Database::Insert::Duplicate:
        return ApiResponse::failure(409, QStringLiteral("App id already registered"));
    case Database::Insert::Failed:
        break;
    }
    return storageFailure();
}

ApiResponse ApiHandlers::reportCrash(const ApiRequest& request) {
    if (request.body.size() > m_settings.maxCrashReportBytes)
        return ApiResponse::failure(413, QStringLiteral("Crash report too large"));
    if (const std::optional<int> wait = m_crashLimit->take(request.peer))
        return tooMany(*wait, QStringLiteral("Too many crash reports from this address"));
    ApiResponse error;
    const auto object = bodyObject(request, &error);
    if (!object)
        return error;
    const auto f = texts(*object,
                         {QStringLiteral("name"), QStringLiteral("reason"), QStringLiteral("exception"),
                          QStringLiteral("callStackSymbols")},
                         &error);
    if (!f)
        return error;
    if (!m_database.insertCrash(
            StoredCrash{f->value(QStringLiteral("name")), f->value(QStringLiteral("reason")),
                        f->value(QStringLiteral("exception")), f->value(QStringLiteral("callStackSymbols"))}))
        return storageFailure();
    return ApiResponse::success(201, QStringLiteral("Crash report received"));
}

ApiResponse ApiHandlers::checkVersion(const ApiRequest&) {
    return ApiResponse::success(200, QJsonObject{{QStringLiteral("version"), m_settings.latestVersion}});
}

std::optional<StoredApp> ApiHandlers::ownedApp(const ApiRequest& request, const QString& appid,
                                               ApiResponse* error) {
    if (std::optional<ApiResponse> refusal = admit(request, false)) {
        *error = std::move(*refusal);
        return std::nullopt;
    }
    const auto user = caller(request, error);
    if (!user)
        return std::nullopt;
    if (!isValidAppId(appid)) {
        *error = ApiResponse::failure(400, QStringLiteral("Invalid app id"));
        return std::nullopt;
    }
    auto app = m_database.app(appid);
    if (!app)
        *error = ApiResponse::failure(404, QStringLiteral("Unknown app"));
    else if (app->userid != *user)
        *error = ApiResponse::failure(403, QStringLiteral("Not your app"));
    else
        return app;
    return std::nullopt;
}

ApiResponse ApiHandlers::fetchInstalls(const ApiRequest& request) {
    ApiResponse error;
    const QString appid = request.params.value(QStringLiteral("appid"));
    if (!ownedApp(request, appid, &error))
        return error;
    const auto installs = m_database.installsOf(appid);
    if (!installs)
        return storageFailure();
    QJsonArray list;
    for (const StoredInstall& i : *installs) {
        list.append(QJsonObject{{QStringLiteral("id"), i.id},
                                {QStringLiteral("appid"), i.appid},
                                {QStringLiteral("platform"), i.platform},
                                {QStringLiteral("name"), i.name},
                                {QStringLiteral("useragent"), i.useragent},
                                {QStringLiteral("installedAt"), double(i.createdAt)},
                                {QStringLiteral("udid"), QJsonValue::Null},
                                {QStringLiteral("devicename"), QJsonValue::Null},
                                {QStringLiteral("deviceversion"), QJsonValue::Null}});
    }
    return ApiResponse::success(200, list);
}
