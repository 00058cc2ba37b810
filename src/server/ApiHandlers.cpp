#include "server/ApiHandlers.h"

#include "backend/records/ZappWire.h"

#include "server/Database.h"
#include "server/Router.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <optional>

namespace {

const QString kAuthorization = QStringLiteral("authorization");

bool onlyAllowed(const QString& id, int maxLength, bool allowColon) {
    if (id.isEmpty() || id.size() > maxLength)
        return false;
    for (QChar c : id) {
        const char16_t u = c.unicode();
        const bool ok = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') ||
                        u == u'_' || u == u'-' || (allowColon && u == u':');
        if (!ok)
            return false;
    }
    return true;
}

// The request body as a JSON object, or the 400 answer that explains why it is not one.
std::optional<QJsonObject> bodyObject(const ApiRequest& request, ApiResponse* error) {
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(request.body, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error = ApiResponse::failure(400, QStringLiteral("Malformed JSON body"));
        return std::nullopt;
    }
    if (!doc.isObject()) {
        *error = ApiResponse::failure(400, QStringLiteral("The body must be a JSON object"));
        return std::nullopt;
    }
    return doc.object();
}

// Every key must be present with a text value.
std::optional<QHash<QString, QString>> texts(const QJsonObject& object, const QStringList& keys,
                                             ApiResponse* error) {
    QHash<QString, QString> out;
    for (const QString& key : keys) {
        const QJsonValue v = object.value(key);
        if (v.isUndefined()) {
            *error = ApiResponse::failure(400, QStringLiteral("Missing key \"%1\"").arg(key));
            return std::nullopt;
        }
        if (!v.isString()) {
            *error = ApiResponse::failure(400, QStringLiteral("Key \"%1\" must be a text").arg(key));
            return std::nullopt;
        }
        out.insert(key, v.toString());
    }
    return out;
}

// The caller's user id from the Authorization header, or the 401 answer.
std::optional<QString> caller(const ApiRequest& request, ApiResponse* error) {
    const QString id = request.header(kAuthorization);
    if (id.isEmpty()) {
        *error = ApiResponse::failure(401, QStringLiteral("Authorization required"));
        return std::nullopt;
    }
    if (!ApiHandlers::isValidUserId(id)) {
        *error = ApiResponse::failure(401, QStringLiteral("Invalid Authorization"));
        return std::nullopt;
    }
    return id;
}

ApiResponse storageFailure() {
    return ApiResponse::failure(500, QStringLiteral("Storage failure"));
}

} // namespace

ApiHandlers::ApiHandlers(Database& database, Settings settings)
    : m_database(database), m_settings(std::move(settings)) {}

bool ApiHandlers::isValidAppId(const QString& id) {
    return onlyAllowed(id, 64, false);
}

bool ApiHandlers::isValidUserId(const QString& id) {
    return onlyAllowed(id, 128, true);
}

QString ApiHandlers::publicLink(const QString& publicUrl, const QString& appid) {
    return ZappWire::publicLink(publicUrl, appid);
}

void ApiHandlers::registerRoutes(Router& router) {
    const QString get = QStringLiteral("GET");
    const QString post = QStringLiteral("POST");
    router.add(post, QStringLiteral("/addnewuser"), [this](const ApiRequest& r) { return addNewUser(r); });
    // "app/" is what a client without a signed-in user asks for; it gets the 401 of any anonymous call.
    router.add(get, QStringLiteral("/app/"), [this](const ApiRequest& r) { return fetchApps(r); });
    router.add(
        get, QStringLiteral("/app/:userid"), [this](const ApiRequest& r) { return fetchApps(r); }, true);
    router.add(post, QStringLiteral("/createapp"), [this](const ApiRequest& r) { return createApp(r); });
    router.add(post, QStringLiteral("/reportcrash"), [this](const ApiRequest& r) { return reportCrash(r); });
    router.add(get, QStringLiteral("/checkversion"), [this](const ApiRequest& r) { return checkVersion(r); });
    router.add(get, QStringLiteral("/userdata/:appid"),
               [this](const ApiRequest& r) { return fetchInstalls(r); });
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
    const std::optional<bool> added = m_database.upsertUser(
        StoredUser{userid, fields->value(QStringLiteral("email")), fields->value(QStringLiteral("username")),
                   fields->value(QStringLiteral("photoURL"))});
    if (!added)
        return storageFailure();
    return *added ? ApiResponse::success(201, QStringLiteral("User added"))
                  : ApiResponse::success(200, QStringLiteral("User updated"));
}

ApiResponse ApiHandlers::fetchApps(const ApiRequest& request) {
    ApiResponse error;
    const auto user = caller(request, &error);
    if (!user)
        return error;
    if (request.params.value(QStringLiteral("userid")) != *user)
        return ApiResponse::failure(403, QStringLiteral("Not your apps"));
    const auto apps = m_database.appsOf(*user);
    if (!apps)
        return storageFailure();
    // Written directly: this is the busiest answer, and QJsonObject costs more than the query.
    QByteArray list("[");
    list.reserve(512 * (apps->size() + 1));
    for (const StoredApp& app : *apps) {
        if (list.size() > 1)
            list.append(',');
        // Read keys: "minOS" and "QRLink", unlike the keys /createapp receives.
        const std::pair<const char*, const QString*> fields[] = {{"userid", &app.userid},
                                                                 {"appname", &app.appname},
                                                                 {"appicon", &app.appicon},
                                                                 {"appversion", &app.appversion},
                                                                 {"appurl", &app.appurl},
                                                                 {"appid", &app.appid},
                                                                 {"appdate", &app.appdate},
                                                                 {"appsize", &app.appsize},
                                                                 {"minOS", &app.minos},
                                                                 {"QRLink", &app.qrLink},
                                                                 {"appdescription", &app.appdescription}};
        char separator = '{';
        for (const auto& [key, value] : fields) {
            list.append(separator).append('"').append(key).append("\":");
            ApiResponse::appendJsonString(list, *value);
            separator = ',';
        }
        list.append('}');
    }
    list.append(']');
    return ApiResponse::successRaw(200, list);
}

ApiResponse ApiHandlers::createApp(const ApiRequest& request) {
    ApiResponse error;
    const auto user = caller(request, &error);
    if (!user)
        return error;
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
                        f->value(ZappWire::appdescription)};
    switch (m_database.insertApp(app)) {
    case Database::Insert::Added:
        return ApiResponse::success(
            201, QJsonObject{{QStringLiteral("url"), publicLink(m_settings.publicUrl, appid)}});
    case Database::Insert::Duplicate:
        return ApiResponse::failure(409, QStringLiteral("App id already registered"));
    case Database::Insert::Failed:
        break;
    }
    return storageFailure();
}

ApiResponse ApiHandlers::reportCrash(const ApiRequest& request) {
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

ApiResponse ApiHandlers::fetchInstalls(const ApiRequest& request) {
    ApiResponse error;
    const auto user = caller(request, &error);
    if (!user)
        return error;
    const QString appid = request.params.value(QStringLiteral("appid"));
    if (!isValidAppId(appid))
        return ApiResponse::failure(400, QStringLiteral("Invalid app id"));
    const auto app = m_database.app(appid);
    if (!app)
        return ApiResponse::failure(404, QStringLiteral("Unknown app"));
    if (app->userid != *user)
        return ApiResponse::failure(403, QStringLiteral("Not your app"));
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
                                {QStringLiteral("udid"), QJsonValue::Null},
                                {QStringLiteral("devicename"), QJsonValue::Null},
                                {QStringLiteral("deviceversion"), QJsonValue::Null}});
    }
    return ApiResponse::success(200, list);
}
