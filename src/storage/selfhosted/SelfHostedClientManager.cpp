#include "storage/selfhosted/SelfHostedClientManager.h"

#include "core/Log.h"
#include "storage/AuthorizedCall.h"
#include "storage/NetworkErrorText.h"
#include "storage/selfhosted/SelfHostedUpload.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

namespace {
const QString kServer = QStringLiteral("The self-hosted Vantry server");

QJsonObject responseOf(const QByteArray& body) {
    return QJsonDocument::fromJson(body).object().value(QStringLiteral("response")).toObject();
}
} // namespace

SelfHostedClientManager::SelfHostedClientManager(QObject* parent)
    : SelfHostedClientManager(selfHostedCredentials(), parent) {}

SelfHostedClientManager::SelfHostedClientManager(std::optional<SelfHostedCredentials> credentials,
                                                 QObject* parent)
    : ClientManager(parent), m_credentials(std::move(credentials)) {}

SelfHostedClientManager::~SelfHostedClientManager() {
    stop();
}

QString SelfHostedClientManager::serverPath(const QString& jobPath) {
    QString path = jobPath;
    while (path.startsWith(QLatin1Char('/')))
        path.remove(0, 1);
    return path;
}

bool SelfHostedClientManager::ready() {
    m_cancelled = false;
    if (m_credentials)
        return true;
    failLater(
        QStringLiteral("No self-hosted Vantry server is set up: set selfhosted/url and selfhosted/token."));
    return false;
}

void SelfHostedClientManager::failLater(const QString& reason) {
    // The caller sets onFailure only after starting the operation.
    QMetaObject::invokeMethod(
        this,
        [this, reason] {
            if (!m_cancelled)
                fail(reason);
        },
        Qt::QueuedConnection);
}

QString SelfHostedClientManager::refusal(int status, const QByteArray& body) const {
    if (status == 401)
        return kServer + QStringLiteral(" refused the storage token; check selfhosted/token.");
    const QJsonValue message = QJsonDocument::fromJson(body).object().value(QStringLiteral("response"));
    if (message.isString() && !message.toString().isEmpty())
        return kServer + QStringLiteral(" refused the request: ") + message.toString();
    return kServer + QStringLiteral(" answered with HTTP %1.").arg(status);
}

void SelfHostedClientManager::call(const QByteArray& method, const QString& route, const QJsonObject& body,
                                   Answer answer) {
    QNetworkRequest request(QUrl(m_credentials->url + route));
    request.setRawHeader("Authorization", "Bearer " + m_credentials->token.toUtf8());
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setTransferTimeout(60000);
    const QByteArray payload =
        body.isEmpty() ? QByteArray() : QJsonDocument(body).toJson(QJsonDocument::Compact);
    QNetworkReply* reply = storageNetwork()->sendCustomRequest(request, method, payload);
    m_reply = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply, route, answer = std::move(answer)] {
        reply->deleteLater();
        if (m_reply == reply)
            m_reply = nullptr;
        if (m_cancelled)
            return;
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        const QByteArray bytes = reply->readAll();
        if (!status.isValid()) {
            logLine(QStringLiteral("Self-hosted %1 failed: %2").arg(route, reply->errorString()));
            fail(networkErrorText(reply->error()));
            return;
        }
        if (status.toInt() < 200 || status.toInt() >= 300) {
            logLine(QStringLiteral("Self-hosted %1 answered HTTP %2").arg(route).arg(status.toInt()));
            fail(refusal(status.toInt(), bytes));
            return;
        }
        answer(responseOf(bytes), status.toInt());
    });
}

void SelfHostedClientManager::createFolder(const QString& path, FolderCompletion completion) {
    if (!ready())
        return;
    call("POST", QStringLiteral("storage/folders"), {{QStringLiteral("path"), serverPath(path)}},
         [completion](const QJsonObject& response, int) {
             completion(response.value(QStringLiteral("existed")).toBool());
         });
}

void SelfHostedClientManager::uploadFile(const QString& localPath, const QString& remotePath,
                                         UploadCompletion completion, Progress progress) {
    if (!ready())
        return;
    // Local paths may arrive percent-encoded once (the job encodes the package's path).
    auto* upload = new SelfHostedUpload(
        *m_credentials, QUrl::fromPercentEncoding(localPath.toUtf8()), serverPath(remotePath), m_resumable,
        [this, completion, remotePath](const SelfHostedUpload::Outcome& outcome) {
            if (m_upload)
                m_upload->deleteLater();
            if (m_cancelled)
                return;
            if (outcome.stored()) {
                logLine(QStringLiteral("Self-hosted upload finished: ") + serverPath(remotePath));
                completion(false);
            } else if (outcome.status == 0) {
                logLine(QStringLiteral("Self-hosted upload failed: ") + outcome.failure);
                fail(outcome.failure);
            } else {
                logLine(QStringLiteral("Self-hosted upload answered HTTP %1").arg(outcome.status));
                fail(refusal(outcome.status, outcome.body));
            }
        },
        std::move(progress), this);
    m_upload = upload;
    upload->notice = relayNotices();
    upload->start();
}

void SelfHostedClientManager::shareLink(const QString& remotePath, LinkCompletion completion) {
    if (!ready())
        return;
    call("POST", QStringLiteral("storage/links"), {{QStringLiteral("path"), serverPath(remotePath)}},
         [this, completion](const QJsonObject& response, int) {
             const QString url = response.value(QStringLiteral("url")).toString();
             if (url.isEmpty()) {
                 fail(kServer + QStringLiteral(" gave no link."));
                 return;
             }
             completion(url);
         });
}

void SelfHostedClientManager::getUserData(UserCompletion completion) {
    if (!ready())
        return;
    call("GET", QStringLiteral("storage/me"), {}, [this, completion](const QJsonObject& response, int) {
        ZUser user;
        user.id = response.value(QStringLiteral("id")).toString();
        user.name = response.value(QStringLiteral("name")).toString();
        user.email = response.value(QStringLiteral("email")).toString();
        user.avatar = response.value(QStringLiteral("avatar")).toString();
        if (user.id.isEmpty()) {
            fail(kServer + QStringLiteral(" did not name the storage's owner."));
            return;
        }
        completion(user);
    });
}

void SelfHostedClientManager::cancelTask() {
    stop();
}

void SelfHostedClientManager::stop() {
    m_cancelled = true;
    if (QNetworkReply* reply = m_reply) {
        m_reply = nullptr;
        reply->abort();
    }
    if (SelfHostedUpload* upload = m_upload) {
        m_upload = nullptr;
        upload->cancel();
        upload->deleteLater();
    }
}
