#pragma once

#include "backend/HttpConnection.h"
#include "core/Crash.h"
#include "records/DeviceCheck.h"
#include "records/ZUser.h"
#include "records/ZUserData.h"
#include "records/Zapp.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

class QObject;

// The backend's endpoints against one base URL. Answers without "isSuccess" true, or whose
// other keys lack the expected types, reach the optional failure callback with one sentence
// (callers that leave it unset keep the call silent). Each call ends once: its success callback
// or its failure. Callbacks run on the main thread; a context destroyed before the answer
// cancels them.
class BackendApi {
public:
    using Failure = std::function<void(const QString& reason)>;

    explicit BackendApi(QString baseUrl);
    QString baseUrl() const { return m_baseUrl; }
    QUrl endpoint(const QString& path) const;

    // POST addnewuser. Success: onSuccess; otherwise "response" goes to the diagnostic log.
    void addNewUser(const ZUser& user, std::function<void()> onSuccess, QObject* context = nullptr,
                    Failure onFailure = {}) const;
    // GET app/<userId>, in answer order; the whole list is dropped for one non-text value.
    void fetchApps(const QString& userId, std::function<void(const QList<Zapp>&)> onApps,
                   QObject* context = nullptr, Failure onFailure = {}) const;
    // POST createapp; the owner is currentUser(), not app.userid. Delivers "response" → "url"
    // (an empty link is no answer) and "latestUrl", the stable link of the app's builds (empty
    // when the server gave none).
    void createApp(const Zapp& app, std::function<void(const QString& url, const QString& latestUrl)> onLink,
                   QObject* context = nullptr, Failure onFailure = {}) const;
    // POST updateapp: replaces the release notes of one of the user's apps.
    void updateApp(const QString& appId, const QString& notes, std::function<void()> onSaved,
                   QObject* context = nullptr, Failure onFailure = {}) const;
    // POST reportcrash. Success removes the stored report ("hasCrashed") and calls onConfirmed;
    // otherwise "response" goes to the diagnostic log and the report stays.
    void reportCrash(const Crash& crash, std::function<void()> onConfirmed = {}, QObject* context = nullptr,
                     Failure onFailure = {}) const;
    // GET checkversion. Calls onNewVersion with the server's version text when it differs from
    // the running version (QCoreApplication::applicationVersion()).
    void checkVersion(std::function<void(const QString& serverVersion)> onNewVersion,
                      QObject* context = nullptr) const;
    // GET userdata/<appId>, decoded strictly; nothing is delivered when decoding fails.
    void fetchInstalls(const QString& appId, std::function<void(const ZUserData&)> onData,
                       QObject* context = nullptr, Failure onFailure = {}) const;

    // GET devices/<appId>: the devices testers checked against the build, newest first; the
    // whole list is dropped for one malformed element.
    void fetchDevices(const QString& appId, std::function<void(const QList<DeviceCheck>&)> onChecks,
                      QObject* context = nullptr, Failure onFailure = {}) const;

    // Request bodies, exactly as sent.
    // Headers of a call made for the signed-in user (Authorization and the user's secret) and of
    // the registration of userId (its secret, once it has one); both carry a team's access key.
    static HttpHeaders userHeaders();
    static HttpHeaders registrationHeaders(const QString& userId);
    // Keeps the secret that a successful "addnewuser" answer may carry.
    static void keepIssuedSecret(const QString& userId, const QJsonObject& answer);

    static QJsonObject addNewUserBody(const ZUser& user);
    static QJsonObject createAppBody(const Zapp& app, const QString& ownerId);
    static QJsonObject reportCrashBody(const Crash& crash);
    // "response" of a fetchApps answer as records, or nullopt when any value is not a text.
    static std::optional<QList<Zapp>> appsFromResponse(const QJsonValue& response);
    // v in its shortest exact decimal form with at least one decimal: 2 → "2.0", 1.5 → "1.5".
    static QString versionText(double v);

private:
    QString m_baseUrl;
};
