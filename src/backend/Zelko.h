#pragma once

#include "backend/BackendApi.h"

#include <QString>

#include <functional>

// Where the backend client keeps each user's secret (issued by the first addnewuser). The
// applications put it in the credential store; without a store it lives for the process only.
struct UserSecretStore {
    std::function<QString(const QString& userId)> load;
    std::function<void(const QString& userId, const QString& secret)> save;
};

// The application's backend: a base URL fixed at first use, one operation per endpoint.
class Zelko {
public:
    // Read once, at the first use of baseURL(); later changes have no effect.
    static void setUseLocalBackend(bool on);
    static bool useLocalBackend();
    static QString localBackendURL() { return QStringLiteral("http://127.0.0.1:8027/"); }

    // The local development service or the configured production URL ("backend/baseUrl"),
    // chosen by useLocalBackend at the first call, thread-safe.
    static QString baseURL();
    // The public page of an app: baseURL + appid without "__android".
    static QString publicLink(const QString& appid);
    static BackendApi api() { return BackendApi(baseURL()); }

    // What to do when checkVersion finds another version: the GUI shows its alert, the CLI
    // prints a line. Without a hook nothing is shown.
    static void setUserSecretStore(UserSecretStore store);
    // The user's secret as known to this process ("" when none).
    static QString userSecret(const QString& userId);
    static void keepUserSecret(const QString& userId, const QString& secret);

    static void setNewVersionHook(std::function<void(const QString& serverVersion)> hook);
    static void checkVersion();
};
