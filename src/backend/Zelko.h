#pragma once

#include "backend/BackendApi.h"

#include <QString>

#include <functional>

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
    static void setNewVersionHook(std::function<void(const QString& serverVersion)> hook);
    static void checkVersion();
};
