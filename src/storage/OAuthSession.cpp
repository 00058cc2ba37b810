#include "storage/OAuthSession.h"

#include "core/Config.h"
#include "core/Log.h"
#include "storage/AuthorizedCall.h"
#include "storage/KeychainHelper.h"
#include "storage/NetworkErrorText.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrl>
#include <QUrlQuery>

namespace {
// A token this close to its expiry is refreshed before use rather than refused by the server.
constexpr qint64 expiryMarginSeconds = 120;

qint64 now() {
    return QDateTime::currentSecsSinceEpoch();
}
} // namespace

OAuthSession::OAuthSession(Settings settings) : m_settings(std::move(settings)) {
    if (QCoreApplication::instance())
        setParent(QCoreApplication::instance());
}

void OAuthSession::reload() {
    m_loaded = true;
    m_tokens.reset();
    const std::optional<QString> stored = KeychainHelper().read(m_settings.service);
    if (!stored || stored->isEmpty())
        return;
    const QJsonObject o = QJsonDocument::fromJson(stored->toUtf8()).object();
    OAuthTokens tokens{o.value(QStringLiteral("access_token")).toString(),
                       o.value(QStringLiteral("refresh_token")).toString(),
                       qint64(o.value(QStringLiteral("expires_at")).toDouble())};
    if (!tokens.accessToken.isEmpty() || !tokens.refreshToken.isEmpty())
        m_tokens = tokens;
}

void OAuthSession::link(const OAuthTokens& tokens) {
    m_loaded = true;
    m_tokens = tokens;
    const QJsonObject o{{QStringLiteral("access_token"), tokens.accessToken},
                        {QStringLiteral("refresh_token"), tokens.refreshToken},
                        {QStringLiteral("expires_at"), double(tokens.expiresAt)}};
    KeychainHelper().save(m_settings.service, KeychainHelper::accountName,
                          QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)));
}

void OAuthSession::unlinkAndResetClients() {
    m_loaded = true;
    m_tokens.reset();
    // The store has no delete; an empty value reads as "not linked".
    KeychainHelper().save(m_settings.service, KeychainHelper::accountName, QString());
}

std::shared_ptr<OAuthAuthorizedClient> OAuthSession::authorizedClient() {
    if (!m_loaded)
        reload();
    if (!m_tokens)
        return nullptr;
    return std::make_shared<OAuthAuthorizedClient>(*m_tokens);
}

void OAuthSession::withAccessToken(TokenCallback callback, bool forceRefresh) {
    if (!m_loaded)
        reload();
    if (!m_tokens) {
        callback(std::nullopt, m_settings.label + QStringLiteral(" is not linked."));
        return;
    }
    const bool expired = m_tokens->expiresAt != 0 && m_tokens->expiresAt - expiryMarginSeconds <= now();
    if (!forceRefresh && !expired && !m_tokens->accessToken.isEmpty()) {
        callback(m_tokens->accessToken, QString());
        return;
    }
    if (m_tokens->refreshToken.isEmpty()) {
        callback(std::nullopt, QStringLiteral("Sign in to %1 again.").arg(m_settings.label));
        return;
    }
    m_waiting.push_back(std::move(callback));
    if (!m_refreshing)
        refresh();
}

void OAuthSession::refresh() {
    m_refreshing = true;
    ++m_refreshCount;
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("grant_type"), QStringLiteral("refresh_token"));
    form.addQueryItem(QStringLiteral("refresh_token"), m_tokens->refreshToken);
    form.addQueryItem(QStringLiteral("client_id"), configValue(m_settings.clientIdKey));
    if (m_settings.clientSecretKey)
        form.addQueryItem(QStringLiteral("client_secret"), configValue(*m_settings.clientSecretKey));
    QNetworkRequest request(QUrl(configValue(m_settings.tokenUrlKey)));
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QStringLiteral("application/x-www-form-urlencoded"));
    request.setTransferTimeout(30000);
    QNetworkReply* reply = storageNetwork()->post(request, form.toString(QUrl::FullyEncoded).toUtf8());
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QJsonObject answer = QJsonDocument::fromJson(reply->readAll()).object();
        if (status == 0) {
            logLine(m_settings.label + QStringLiteral(" token refresh failed: ") + reply->errorString());
            finishRefresh(std::nullopt, networkErrorText(reply->error()));
            return;
        }
        const QString access = answer.value(QStringLiteral("access_token")).toString();
        if (status != 200 || access.isEmpty()) {
            logLine((m_settings.label + QStringLiteral(" token refresh refused: HTTP %1 %2"))
                        .arg(status)
                        .arg(answer.value(QStringLiteral("error")).toString()));
            finishRefresh(std::nullopt, QStringLiteral("Sign in to %1 again.").arg(m_settings.label));
            return;
        }
        if (!m_tokens) { // unlinked while the grant was on its way
            finishRefresh(std::nullopt, m_settings.label + QStringLiteral(" is not linked."));
            return;
        }
        OAuthTokens tokens = *m_tokens;
        tokens.accessToken = access;
        const qint64 expiresIn = qint64(answer.value(QStringLiteral("expires_in")).toDouble());
        tokens.expiresAt = expiresIn > 0 ? now() + expiresIn : 0;
        link(tokens);
        finishRefresh(access, QString());
    });
}

void OAuthSession::finishRefresh(const std::optional<QString>& token, const QString& error) {
    m_refreshing = false;
    std::vector<TokenCallback> waiting;
    waiting.swap(m_waiting);
    for (TokenCallback& callback : waiting)
        callback(token, error);
}
