#include "storage/zoho/ZohoAuthentication.h"

#include "core/Config.h"
#include "core/Log.h"
#include "core/RandomString.h"
#include "storage/AuthorizedCall.h"
#include "storage/KeychainHelper.h"
#include "storage/NetworkErrorText.h"
#include "storage/OAuthSession.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <vector>

namespace ZohoAuthentication {
namespace {
// Zoho tokens live an hour; one is refreshed this long before it runs out.
constexpr qint64 expiryMarginSeconds = 300;

struct Cache {
    qint64 expiresAt = 0;
    bool refreshing = false;
    int requests = 0;
    std::vector<TokenCallback> waiting;
};

Cache& cache() {
    static Cache c;
    return c;
}

void finish(const QString& token, const QString& failure) {
    std::vector<TokenCallback> waiting;
    waiting.swap(cache().waiting);
    cache().refreshing = false;
    for (TokenCallback& callback : waiting)
        callback(token, failure);
}
} // namespace

QString& oauthState() {
    static QString value;
    return value;
}

QString& lastAccessToken() {
    static QString value;
    return value;
}

QUrl authorizationURL() {
    oauthState() = randomString(10);
    return QUrl(configValue(ConfigKey::ZohoAccountsUrl) +
                QStringLiteral("/oauth/v2/auth?response_type=code&client_id=") +
                configValue(ConfigKey::ZohoClientId) + QStringLiteral("&redirect_uri=") +
                configValue(ConfigKey::ZohoRedirectUri) + QStringLiteral("&scope=") + scopes +
                QStringLiteral("&state=") + oauthState() +
                QStringLiteral("&prompt=consent&access_type=offline"));
}

QUrl codeExchangeURL(const QString& code) {
    return QUrl(configValue(ConfigKey::ZohoAccountsUrl) +
                QStringLiteral("/oauth/v2/token?grant_type=authorization_code&client_id=") +
                configValue(ConfigKey::ZohoClientId) + QStringLiteral("&code=") + code +
                QStringLiteral("&redirect_uri=") + configValue(ConfigKey::ZohoRedirectUri) +
                QStringLiteral("&scope=") + scopes + QStringLiteral("&state=") + oauthState() +
                QStringLiteral("&client_secret=") + configValue(ConfigKey::ZohoClientSecret));
}

QUrl refreshURL(const QString& refreshToken) {
    return QUrl(configValue(ConfigKey::ZohoAccountsUrl) + QStringLiteral("/oauth/v2/token?refresh_token=") +
                refreshToken + QStringLiteral("&grant_type=refresh_token&client_id=") +
                configValue(ConfigKey::ZohoClientId) + QStringLiteral("&redirect_uri=") +
                configValue(ConfigKey::ZohoRedirectUri) + QStringLiteral("&scope=") + scopes +
                QStringLiteral("&client_secret=") + configValue(ConfigKey::ZohoClientSecret));
}

std::optional<QString> handleTokenResponse(const QByteArray& body) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError) {
        logLine(QStringLiteral("Zoho token answer is not JSON: ") + error.errorString());
        return std::nullopt;
    }
    if (!doc.isObject())
        return std::nullopt;
    const QJsonObject answer = doc.object();
    const QJsonValue access = answer.value(QStringLiteral("access_token"));
    if (!access.isString())
        return lastAccessToken();
    lastAccessToken() = access.toString();
    const qint64 expiresIn = qint64(answer.value(QStringLiteral("expires_in")).toDouble(3600));
    cache().expiresAt = QDateTime::currentSecsSinceEpoch() + expiresIn;
    if (answer.value(QStringLiteral("refresh_token")).isString())
        KeychainHelper().save(refreshTokenService, KeychainHelper::accountName,
                              answer.value(QStringLiteral("refresh_token")).toString());
    return lastAccessToken();
}

void withFreshAccessToken(TokenCallback callback, const QString& refusedToken) {
    Cache& c = cache();
    const bool refused = !refusedToken.isEmpty() && refusedToken == lastAccessToken();
    if (!refused && !lastAccessToken().isEmpty() &&
        c.expiresAt - expiryMarginSeconds > QDateTime::currentSecsSinceEpoch()) {
        callback(lastAccessToken(), QString());
        return;
    }
    c.waiting.push_back(std::move(callback));
    if (c.refreshing)
        return;
    c.refreshing = true;
    ++c.requests;
    const QString refreshToken = KeychainHelper().read(refreshTokenService).value_or(QString());
    QNetworkRequest request(refreshURL(refreshToken));
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QStringLiteral("application/x-www-form-urlencoded"));
    request.setRawHeader("Accept", "application/json");
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setTransferTimeout(20000);
    QNetworkReply* reply = storageNetwork()->post(request, QByteArray());
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply] {
        reply->deleteLater();
        if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 0) {
            // Not errorString(): it can quote the request URL, which carries the refresh token.
            logLine(QStringLiteral("Zoho token refresh failed: ") + networkErrorText(reply->error()));
            finish(QString(), networkErrorText(reply->error()));
            return;
        }
        const std::optional<QString> token = handleTokenResponse(reply->readAll());
        finish(token.value_or(QString()),
               token ? QString() : QStringLiteral("Zoho did not answer the sign-in request."));
    });
}

std::optional<QString> handleCodeExchangeResponse(const QByteArray& body) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError) {
        logLine(QStringLiteral("Zoho token answer is not JSON: ") + error.errorString());
        return std::nullopt;
    }
    const QJsonObject answer = doc.object();
    const QJsonValue access = answer.value(QStringLiteral("access_token"));
    if (!doc.isObject() || !access.isString())
        return std::nullopt;
    if (answer.value(QStringLiteral("refresh_token")).isString())
        KeychainHelper().save(refreshTokenService, KeychainHelper::accountName,
                              answer.value(QStringLiteral("refresh_token")).toString());
    return access.toString();
}

bool hasUsableAccessToken() {
    return !lastAccessToken().isEmpty() &&
           cache().expiresAt - expiryMarginSeconds > QDateTime::currentSecsSinceEpoch();
}

void adoptAccessToken(const QString& token, qint64 expiresIn) {
    lastAccessToken() = token;
    cache().expiresAt = QDateTime::currentSecsSinceEpoch() + expiresIn;
}

namespace {
class ZohoSession : public OAuthSession {
public:
    ZohoSession()
        : OAuthSession({refreshTokenService, QStringLiteral("Zoho WorkDrive"), ConfigKey::ZohoAccountsUrl,
                        ConfigKey::ZohoClientId, ConfigKey::ZohoClientSecret, "Zoho-oauthtoken"}) {}

    void withAccessToken(TokenCallback callback, bool forceRefresh) override {
        withFreshAccessToken(
            [callback = std::move(callback)](const QString& token, const QString& failure) {
                if (token.isEmpty())
                    callback(std::nullopt, failure.isEmpty()
                                               ? QStringLiteral("Sign in to Zoho WorkDrive again.")
                                               : failure);
                else
                    callback(token, QString());
            },
            forceRefresh ? lastAccessToken() : QString());
    }
};
} // namespace

OAuthSession& session() {
    static ZohoSession* instance = new ZohoSession;
    return *instance;
}

void resetAccessToken() {
    lastAccessToken().clear();
    cache().expiresAt = 0;
}

int refreshRequestCount() {
    return cache().requests;
}

} // namespace ZohoAuthentication
