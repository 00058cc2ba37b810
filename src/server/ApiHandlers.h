#pragma once

#include "server/ApiMessage.h"

#include <QString>

class Database;
class Router;

// The JSON API the desktop application and vantry-cli talk to. Every answer is
// {"isSuccess": bool, "response": …}; the Authorization header carries the caller's user id.
class ApiHandlers {
public:
    struct Settings {
        QString publicUrl;          // ends in "/"; public pages are publicUrl + app id
        double latestVersion = 0.0; // what /checkversion answers
    };

    ApiHandlers(Database& database, Settings settings);

    // Adds the six endpoints to the router.
    void registerRoutes(Router& router);

    ApiResponse addNewUser(const ApiRequest& request);
    ApiResponse fetchApps(const ApiRequest& request);
    ApiResponse createApp(const ApiRequest& request);
    ApiResponse reportCrash(const ApiRequest& request);
    ApiResponse checkVersion(const ApiRequest& request);
    ApiResponse fetchInstalls(const ApiRequest& request);

    // App ids: [A-Za-z0-9_-], 1 to 64 characters.
    static bool isValidAppId(const QString& id);
    // User ids: the provider's account id; Dropbox's ("dbid:…") needs the colon as well.
    static bool isValidUserId(const QString& id);
    // The public page of an app: Android ids lose their "__android" suffix.
    static QString publicLink(const QString& publicUrl, const QString& appid);

private:
    Database& m_database;
    Settings m_settings;
};
