#include "storage/selfhosted/SelfHostedSignIn.h"

#include "core/Config.h"
#include "core/Log.h"
#include "storage/AuthorizedCall.h"
#include "storage/KeychainHelper.h"
#include "storage/NetworkErrorText.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStandardPaths>
#include <QUrl>

namespace {
QString withSlash(QString url) {
    if (!url.endsWith(QLatin1Char('/')))
        url += QLatin1Char('/');
    return url;
}

bool onThisMachine(const QUrl& url) {
    const QString host = url.host();
    return host == QLatin1String("127.0.0.1") || host == QLatin1String("localhost") ||
           host == QLatin1String("::1");
}

QString text(const QJsonObject& o, const char* a, const char* b) {
    const QJsonValue v = o.value(QLatin1String(a));
    return v.isString() ? v.toString() : o.value(QLatin1String(b)).toString();
}
} // namespace

SelfHostedSignIn::SelfHostedSignIn(QObject* parent) : QObject(parent) {}

QString SelfHostedSignIn::localServerTokenPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Vantry/server/storage-token");
}

std::optional<QString> SelfHostedSignIn::localServerToken() {
    QFile file(localServerTokenPath());
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QString token = QString::fromUtf8(file.readAll()).trimmed();
    return token.isEmpty() ? std::nullopt : std::optional<QString>(token);
}

std::optional<SelfHostedSignIn::Credentials> SelfHostedSignIn::stored() {
    if (const std::optional<QString> saved = KeychainHelper().read(service)) {
        const QJsonObject o = QJsonDocument::fromJson(saved->toUtf8()).object();
        Credentials c{o.value(QStringLiteral("url")).toString(), o.value(QStringLiteral("token")).toString()};
        if (!c.url.isEmpty() && !c.token.isEmpty())
            return c;
    }
    Credentials c{configValue(ConfigKey::SelfHostedUrl), configValue(ConfigKey::SelfHostedToken)};
    if (c.url.isEmpty() || c.token.isEmpty())
        return std::nullopt;
    return c;
}

void SelfHostedSignIn::store(const Credentials& credentials) {
    const QJsonObject o{{QStringLiteral("url"), credentials.url},
                        {QStringLiteral("token"), credentials.token}};
    KeychainHelper().save(service, KeychainHelper::accountName,
                          QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)));
}

void SelfHostedSignIn::start(const QString& urlText, const QString& givenToken) {
    if (m_running)
        return;
    m_running = true;
    const QString base = withSlash(urlText.trimmed());
    const QUrl url(base);
    if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))) {
        finish(SignInResult::Outcome::Failed,
               QStringLiteral("%1 is not a server address (http:// or https://).").arg(urlText));
        return;
    }
    QString token = givenToken.trimmed();
    if (token.isEmpty() && onThisMachine(url))
        token = localServerToken().value_or(QString());
    if (token.isEmpty()) {
        finish(SignInResult::Outcome::Failed,
               QStringLiteral(
                   "Give the server's storage token: the content of storage-token in its data folder."));
        return;
    }
    QNetworkRequest request(url.resolved(QUrl(QStringLiteral("storage/me"))));
    request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    request.setTransferTimeout(30000);
    m_reply = storageNetwork()->get(request);
    connect(m_reply, &QNetworkReply::finished, this, [this, reply = m_reply, base, token] {
        reply->deleteLater();
        if (reply != m_reply)
            return;
        m_reply = nullptr;
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status == 0) {
            finish(SignInResult::Outcome::Failed,
                   QStringLiteral("Could not reach %1: %2").arg(base, networkErrorText(reply->error())));
            return;
        }
        if (status == 401 || status == 403) {
            finish(SignInResult::Outcome::Failed,
                   QStringLiteral("The server at %1 refused the storage token.").arg(base));
            return;
        }
        QJsonObject me = QJsonDocument::fromJson(reply->readAll()).object();
        if (me.value(QStringLiteral("response")).isObject()) // the backend's {"isSuccess", "response"} form
            me = me.value(QStringLiteral("response")).toObject();
        if (status != 200 || me.isEmpty()) {
            finish(SignInResult::Outcome::Failed,
                   QStringLiteral("The server at %1 does not offer self-hosted storage (HTTP %2).")
                       .arg(base)
                       .arg(status));
            return;
        }
        m_user.id = text(me, "id", "userid");
        m_user.name = text(me, "name", "username");
        m_user.email = me.value(QStringLiteral("email")).toString();
        m_user.avatar = text(me, "avatar", "photoURL");
        store({base, token});
        selectSignedInProvider(flag);
        finish(SignInResult::Outcome::Success);
    });
}

void SelfHostedSignIn::cancel() {
    if (m_reply) {
        QNetworkReply* reply = m_reply;
        m_reply = nullptr;
        reply->abort();
    }
    finish(SignInResult::Outcome::Cancelled);
}

void SelfHostedSignIn::finish(SignInResult::Outcome outcome, const QString& message) {
    if (!m_running)
        return;
    m_running = false;
    if (outcome == SignInResult::Outcome::Failed)
        logLine(QStringLiteral("Self-hosted sign-in failed: ") + message);
    if (onFinished)
        onFinished({outcome, message});
}
