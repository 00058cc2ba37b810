#pragma once

#include "server/ApiMessage.h"
#include "server/Database.h"

#include <QHash>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class AppEvents;
class Database;
class RateLimiter;
class Router;
class UserSecrets;

// The JSON API the desktop application and vantry-cli talk to. Every answer is
// {"isSuccess": bool, "response": …}; the Authorization header carries the caller's user id,
// and the user's secret (issued by the first /addnewuser) travels in kSecretHeader.
class ApiHandlers {
public:
    static constexpr const char* kSecretHeader = "X-Vantry-Secret";
    static constexpr const char* kAccessKeyHeader = "X-Vantry-Access-Key";
    // The key of /addnewuser answers that carries a newly issued secret.
    static constexpr const char* kSecretKey = "userSecret";

    struct Settings {
        QString publicUrl;          // ends in "/"; public pages are publicUrl + app id
        double latestVersion = 0.0; // what /checkversion answers
        QString accessKey;          // set: every API call must carry it in kAccessKeyHeader
        int maxCrashReportBytes = 64 * 1024;
        int crashReportsPerMinute = 5;   // per client address; 0: unlimited
        int registrationsPerMinute = 20; // /addnewuser per client address; 0: unlimited
        int appsPerMinute = 120;         // /createapp per user, and per client address; 0: unlimited
        // How long a secret hash read from the database is trusted without reading it again: a
        // secret the operator resets stops working within this time on every instance.
        std::chrono::milliseconds secretLife = std::chrono::seconds(5);
        // The clock remembered secrets age by (empty: the steady clock).
        std::function<std::chrono::steady_clock::time_point()> clock;
        // Told of every app published (set: webhooks).
        AppEvents* events = nullptr;
    };

    ApiHandlers(Database& database, Settings settings);
    ~ApiHandlers();

    // Adds the seven endpoints to the router.
    void registerRoutes(Router& router);

    ApiResponse addNewUser(const ApiRequest& request);
    ApiResponse fetchApps(const ApiRequest& request);
    ApiResponse createApp(const ApiRequest& request);
    ApiResponse reportCrash(const ApiRequest& request);
    ApiResponse checkVersion(const ApiRequest& request);
    ApiResponse fetchInstalls(const ApiRequest& request);
    // POST /updateapp: the owner replaces an app's release notes.
    ApiResponse updateApp(const ApiRequest& request);

    // The app a call about one app is for, when the caller owns it: otherwise nothing, with the
    // answer in *error (401 without the access key or the caller's secret, 400 for a bad id, 404
    // for an unknown app, 403 for another user's).
    std::optional<StoredApp> ownedApp(const ApiRequest& request, const QString& appid, ApiResponse* error);

    // App ids: [A-Za-z0-9_-], 1 to 64 characters.
    static bool isValidAppId(const QString& id);
    // User ids: the provider's account id; Dropbox's ("dbid:…") needs the colon as well.
    static bool isValidUserId(const QString& id);
    // The public page of an app: Android ids lose their "__android" suffix.
    static QString publicLink(const QString& publicUrl, const QString& appid);
    // Install links a record may carry: https:, http: and itms-services: URLs.
    static bool isAllowedAppUrl(const QString& url);
    // Bundle ids and package names: [A-Za-z0-9._-], 1 to 255 characters.
    static bool isValidBundleId(const QString& id);

private:
    // The caller's user id once the Authorization header names a valid user and the request
    // carries that user's secret (when it has one); otherwise the 401 answer. Ids that never
    // registered are taken on trust for reading (they own nothing) unless registration is required.
    std::optional<QString> caller(const ApiRequest& request, ApiResponse* error,
                                  bool mustBeRegistered = false);
    // The "response" array of GET /app.
    static QByteArray appListJson(const QList<StoredApp>& apps, const QString& publicUrl);
    // The stable key for a build of (owner, bundle id, platform): the one its earlier builds got,
    // or a new one. Nothing when the database failed.
    std::optional<QString> stableKey(const QString& userid, const QString& bundleid, const QString& appid);
    // The route's handler behind the deployment's access key.
    ApiResponse guarded(const ApiRequest& request, ApiResponse (ApiHandlers::*handler)(const ApiRequest&));
    // The header checks of a call: the access key, and with needsCaller a known caller.
    std::optional<ApiResponse> admit(const ApiRequest& request, bool needsCaller);
    // A registration is a few short texts.
    static constexpr uint64_t kRegistrationBodyBytes = 64 * 1024;

    Database& m_database;
    Settings m_settings;
    std::unique_ptr<RateLimiter> m_crashLimit;
    std::unique_ptr<RateLimiter> m_registrationLimit;
    std::unique_ptr<RateLimiter> m_appsByUser;
    std::unique_ptr<RateLimiter> m_appsByAddress;
    std::unique_ptr<UserSecrets> m_secrets;
    // Answers of GET /app by user, with the list stamp they were written at; bounded in total size.
    struct AppList {
        qint64 stamp = 0;
        QByteArray body;
    };
    static constexpr qsizetype kAppListCacheBytes = 64 << 20;
    std::mutex m_listsMutex;
    QHash<QString, AppList> m_appLists;
    qsizetype m_appListBytes = 0;
};
