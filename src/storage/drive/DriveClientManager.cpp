#include "storage/drive/DriveClientManager.h"

#include "core/Config.h"
#include "core/Log.h"
#include "storage/AuthorizedCall.h"
#include "storage/NetworkErrorText.h"
#include "storage/drive/DriveUpload.h"
#include "storage/drive/GoogleAuth.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrlQuery>

namespace {
QString driveUrl(const QString& path) {
    return configValue(ConfigKey::GoogleDriveUrl) + path;
}

QByteArray json(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}
} // namespace

DriveClientManager::DriveClientManager(QObject* parent) : ClientManager(parent) {}

DriveClientManager::~DriveClientManager() {
    cancelTask();
}

bool DriveClientManager::authorized() {
    const auto client = GoogleAuth::instance().authorizedClient();
    if (client && client->isAuthorized())
        return true;
    failSoon(QStringLiteral("You are not signed in to Google Drive."));
    return false;
}

void DriveClientManager::call(CallRequest request, std::function<void(const CallResult&)> done) {
    m_currentTask = new AuthorizedCall(GoogleAuth::instance(), std::move(request), std::move(done), {}, this);
    m_currentTask->start();
}

bool DriveClientManager::failedInTransport(const CallResult& result, const QString& what) {
    if (result.status != 0 && result.status != 401 && result.status != 429 && result.status < 500)
        return false;
    logLine(QStringLiteral("Drive %1 failed: %2").arg(what, result.description()));
    fail(result.failureText.isEmpty() ? result.description() : result.failureText);
    return true;
}

void DriveClientManager::createFolderIn(const QString& name, const QString& parent,
                                        std::function<void(const CallResult&)> done) {
    QJsonObject file{{QStringLiteral("name"), name}, {QStringLiteral("mimeType"), folderMimeType}};
    if (!parent.isNull())
        file.insert(QStringLiteral("parents"), QJsonArray{parent});
    CallRequest request;
    request.url = QUrl(driveUrl(QStringLiteral("/files")));
    request.headers = {{"Content-Type", "application/json; charset=UTF-8"}};
    request.body = json(file);
    request.label = QStringLiteral("Drive files.create");
    call(std::move(request), std::move(done));
}

void DriveClientManager::createFolder(const QString& path, FolderCompletion completion) {
    if (!authorized())
        return;
    const QStringList parts = path.split(QLatin1Char('/'));
    if (parts.size() == 3 && !currentFolderId().isEmpty()) {
        createFolderIn(parts[2], currentFolderId(), [this, completion](const CallResult& result) {
            if (failedInTransport(result, QStringLiteral("folder creation")))
                return;
            if (result.ok())
                currentFolderId() = result.json.value(QStringLiteral("id")).toString();
            else
                logLine(QStringLiteral("Drive folder not created: ") + result.description());
            completion(false);
        });
        return;
    }
    const QString name = parts.size() == 3 ? parts[2] : parts.size() == 2 ? parts[1] : QString();
    findOrCreateApplicationFolder(name, std::move(completion));
}

void DriveClientManager::findOrCreateApplicationFolder(const QString& name, FolderCompletion completion) {
    QUrlQuery query;
    // Without a query Drive lists trashed items too, and a job would upload into the trash.
    query.addQueryItem(QStringLiteral("q"), QStringLiteral("trashed = false"));
    query.addQueryItem(QStringLiteral("fields"),
                       QStringLiteral("kind,nextPageToken,files(mimeType,id,kind,name,webViewLink)"));
    query.addQueryItem(QStringLiteral("orderBy"), QStringLiteral("folder"));
    QUrl url(driveUrl(QStringLiteral("/files")));
    url.setQuery(query);
    CallRequest request;
    request.method = "GET";
    request.url = url;
    request.label = QStringLiteral("Drive files.list");
    call(std::move(request), [this, name, completion](const CallResult& result) {
        if (failedInTransport(result, QStringLiteral("folder listing")))
            return;
        // Only the first page is looked at.
        if (!result.ok() || !result.json.value(QStringLiteral("files")).isArray()) {
            logLine(QStringLiteral("Drive folder listing failed: ") + result.description());
            fail(result.ok() ? QStringLiteral("Google Drive did not list your files.")
                             : result.description());
            return;
        }
        for (const QJsonValue& value : result.json.value(QStringLiteral("files")).toArray()) {
            const QJsonObject file = value.toObject();
            if (file.value(QStringLiteral("name")).toString() == applicationFolderName &&
                file.value(QStringLiteral("mimeType")).toString() == folderMimeType) {
                currentFolderId() = file.value(QStringLiteral("id")).toString();
                completion(true);
                return;
            }
        }
        createFolderIn(name, QString(), [this, completion](const CallResult& created) {
            if (failedInTransport(created, QStringLiteral("folder creation")))
                return;
            if (!created.ok()) {
                logLine(QStringLiteral("Drive folder not created: ") + created.description());
                completion(false);
                return;
            }
            currentFolderId() = created.json.value(QStringLiteral("id")).toString();
            completion(true);
        });
    });
}

void DriveClientManager::uploadFile(const QString& localPath, const QString& remotePath,
                                    UploadCompletion completion, Progress progress) {
    if (!authorized())
        return;
    const QString name = remotePath.section(QLatin1Char('/'), -1);
    m_upload = new DriveUpload(
        QUrl::fromPercentEncoding(localPath.toUtf8()), name, currentFolderId(),
        [this, completion](const DriveUpload::Outcome& outcome) {
            if (m_upload)
                m_upload->deleteLater();
            switch (outcome.kind) {
            case DriveUpload::Outcome::Success:
                lastUploadedFileId() = outcome.fileId;
                completion(false);
                break;
            case DriveUpload::Outcome::Refused:
                logLine(QStringLiteral("Drive upload failed: ") + outcome.detail);
                completion(true);
                break;
            case DriveUpload::Outcome::Failed:
                logLine(QStringLiteral("Drive upload failed: ") + outcome.detail);
                fail(outcome.detail);
                break;
            }
        },
        std::move(progress), this);
    m_upload->notice = relayNotices();
    m_upload->start();
}

QString DriveClientManager::directLink(const QString& fileId) {
    // The form that carries the confirmation: above the virus-scan limit the plain form answers
    // with a warning page instead of the file.
    return configValue(ConfigKey::GoogleDownloadUrl) + QStringLiteral("?id=") + fileId +
           QStringLiteral("&export=download&confirm=t");
}

void DriveClientManager::shareLink(const QString&, LinkCompletion completion) {
    if (!authorized())
        return;
    const QString fileId = lastUploadedFileId();
    CallRequest request;
    request.url = QUrl(driveUrl(QStringLiteral("/files/%1/permissions?fields=id")
                                    .arg(QString::fromUtf8(QUrl::toPercentEncoding(fileId)))));
    request.headers = {{"Content-Type", "application/json; charset=UTF-8"}};
    request.body = json({{QStringLiteral("type"), QStringLiteral("anyone")},
                         {QStringLiteral("role"), QStringLiteral("reader")}});
    request.label = QStringLiteral("Drive permissions.create");
    call(std::move(request), [this, fileId, completion](const CallResult& result) {
        if (failedInTransport(result, QStringLiteral("permission")))
            return;
        if (!result.ok()) {
            logLine(QStringLiteral("Drive permission not created: ") + result.description());
            fail(result.description());
            return;
        }
        // Built from the identifier alone; nothing of the permission answer is used.
        checkLink(directLink(fileId), completion);
    });
}

void DriveClientManager::checkLink(const QString& link, const LinkCompletion& completion) {
    // The first bytes, without sign-in, as a phone would fetch them: a page instead of the file
    // means the link would not install.
    QNetworkRequest request{QUrl(link)};
    request.setRawHeader("Range", "bytes=0-1023");
    request.setTransferTimeout(60000);
    QNetworkReply* reply = storageNetwork()->get(request);
    m_linkCheck = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply, link, completion] {
        reply->deleteLater();
        if (reply->error() == QNetworkReply::OperationCanceledError)
            return;
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QString type = reply->header(QNetworkRequest::ContentTypeHeader).toString();
        if ((status == 200 || status == 206) && !type.startsWith(QLatin1String("text/html"))) {
            completion(link);
            return;
        }
        logLine(QStringLiteral("Drive link does not serve the file: HTTP %1, %2").arg(status).arg(type));
        fail(status == 0 ? networkErrorText(reply->error())
                         : QStringLiteral("Google Drive does not serve the file from its public link."));
    });
}

void DriveClientManager::getUserData(UserCompletion completion) {
    if (!authorized())
        return;
    // The token travels in the query as the endpoint expects; this URL is never logged.
    CallRequest request;
    request.method = "GET";
    request.url = QUrl(configValue(ConfigKey::GoogleUserInfoUrl) + QStringLiteral("?alt=json"));
    request.tokenQueryItem = QStringLiteral("access_token");
    request.label = QStringLiteral("Google userinfo");
    call(std::move(request), [this, completion](const CallResult& result) {
        if (failedInTransport(result, QStringLiteral("profile")))
            return;
        if (!result.ok() || result.json.isEmpty()) {
            logLine(QStringLiteral("Google profile not read: HTTP %1").arg(result.status));
            fail(QStringLiteral("Could not read your Google profile."));
            return;
        }
        const QJsonObject& o = result.json;
        ZUser user;
        user.name = o.value(QStringLiteral("name")).toString();
        user.email = o.value(QStringLiteral("email")).toString();
        user.id = o.value(QStringLiteral("sub")).toString();
        user.avatar = o.value(QStringLiteral("picture")).toString();
        completion(user);
    });
}

void DriveClientManager::cancelTask() {
    stopRequests(m_currentTask, m_upload);
    if (QNetworkReply* reply = m_linkCheck) {
        m_linkCheck = nullptr;
        reply->abort();
    }
}
