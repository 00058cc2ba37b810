#include "storage/zoho/ZohoWDClient.h"

#include "core/Config.h"
#include "core/Log.h"
#include "storage/AuthorizedCall.h"
#include "storage/KeychainHelper.h"
#include "storage/zoho/UploadHelper.h"
#include "storage/zoho/ZohoAuthentication.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTimer>

namespace {
const QString notFormatted = QStringLiteral("User Data is not formatted");
const QString folderNotFormatted = QStringLiteral("Folder creation response data is not formatted");

QUrl api(const QString& path) {
    return QUrl(configValue(ConfigKey::ZohoApiUrl) + path);
}

// The pauses WorkDrive needs before an upload's result and a new file's link can be asked for.
int settle(double factor) {
    return int(factor * Config::instance().intValue(ConfigKey::ZohoSettleMilliseconds));
}

QJsonObject at(const QJsonObject& o, std::initializer_list<const char*> path) {
    QJsonObject current = o;
    for (const char* key : path)
        current = current.value(QLatin1String(key)).toObject();
    return current;
}
} // namespace

QString& privateSpaceId() {
    static QString value;
    return value;
}

ZohoWDClient::ZohoWDClient(QObject* parent) : ClientManager(parent) {}

bool ZohoWDClient::authorized() {
    // A sign-in whose answer carried no refresh token still works while its access token lasts.
    if (!KeychainHelper().read(ZohoAuthentication::refreshTokenService).value_or(QString()).isEmpty() ||
        ZohoAuthentication::hasUsableAccessToken())
        return true;
    failSoon(QStringLiteral("You are not signed in to Zoho WorkDrive."));
    return false;
}

ZohoWDClient::~ZohoWDClient() {
    cancelTask();
}

std::pair<QString, QString> ZohoWDClient::splitName(const QString& fileName) {
    const QStringList parts = fileName.split(QLatin1Char('.'));
    return {parts.first(), parts.last()};
}

QString ZohoWDClient::directLink(const QString& resourceId, const QString& linkId) {
    const QByteArray message =
        QJsonDocument(QJsonObject{{QStringLiteral("linkId"), linkId}}).toJson(QJsonDocument::Compact);
    return configValue(ConfigKey::ZohoExternalFilesUrl) +
           QStringLiteral("/public/workdrive-external/download/") + resourceId +
           QStringLiteral("?x-cli-msg=") +
           QString::fromLatin1(QUrl::toPercentEncoding(QString::fromUtf8(message)));
}

void ZohoWDClient::request(const QByteArray& method, const QUrl& url, const QByteArray& body, Answer answer) {
    CallRequest call;
    call.method = method;
    call.url = url;
    call.body = body;
    call.headers = {{"Accept", "application/vnd.api+json"}};
    if (!body.isEmpty())
        call.headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("application/json")));
    call.label = QStringLiteral("WorkDrive %1 %2").arg(QString::fromLatin1(method), url.path());
    m_currentTask = new AuthorizedCall(
        ZohoAuthentication::session(), std::move(call),
        [this, answer = std::move(answer)](const CallResult& result) {
            // No answer, or a token refused after one refresh; every other answer is judged by
            // its JSON, which carries WorkDrive's own error texts.
            if (result.status == 0 || result.status == 401) {
                fail(result.failureText.isEmpty() ? result.description() : result.failureText);
                return;
            }
            QJsonParseError error{};
            const QJsonDocument doc = QJsonDocument::fromJson(result.body, &error);
            if (error.error != QJsonParseError::NoError) {
                logLine(QStringLiteral("WorkDrive answer is not JSON (HTTP %1)").arg(result.status));
                fail(result.failureText.isEmpty()
                         ? QStringLiteral("WorkDrive answered with HTTP %1.").arg(result.status)
                         : result.failureText);
                return;
            }
            answer(doc);
        },
        {}, this);
    m_currentTask->start();
}

void ZohoWDClient::after(int milliseconds, std::function<void()> next) {
    const int cancels = m_cancels;
    QTimer::singleShot(milliseconds, this, [this, cancels, next = std::move(next)] {
        if (cancels == m_cancels)
            next();
    });
}

void ZohoWDClient::getUserData(UserCompletion completion) {
    if (!authorized())
        return;
    request("GET", api(QStringLiteral("/api/v1/users/me")), {}, [this, completion](const QJsonDocument& doc) {
        const QJsonValue data = doc.object().value(QStringLiteral("data"));
        const QJsonValue attributes = data.toObject().value(QStringLiteral("attributes"));
        if (!data.isObject() || !attributes.isObject()) {
            fail(notFormatted);
            return;
        }
        const QJsonObject a = attributes.toObject();
        ZUser user;
        user.name = a.value(QStringLiteral("display_name")).toString();
        user.email = a.value(QStringLiteral("email_id")).toString();
        user.id = data.toObject().value(QStringLiteral("id")).toString();
        user.avatar = a.value(QStringLiteral("avatar_url")).toString();
        // The user is delivered once the private space is known, so that a broken chain is this
        // operation's one ending rather than a second one.
        if (privateSpaceId().isEmpty() &&
            a.value(QStringLiteral("edition")).toString() == QLatin1String("ENTERPRISE"))
            discoverPrivateSpace(data.toObject(), 0, [completion, user] { completion(user); });
        else
            completion(user);
    });
}

void ZohoWDClient::discoverPrivateSpace(const QJsonObject& data, int step, std::function<void()> found) {
    static const char* const relations[] = {"enterprise", "currentuser", "privatespace"};
    const QString next =
        at(data, {"relationships", relations[step], "links"}).value(QStringLiteral("related")).toString();
    if (next.isEmpty()) {
        fail(notFormatted);
        return;
    }
    request("GET", QUrl(next), {}, [this, step, found](const QJsonDocument& doc) {
        const QJsonValue answer = doc.object().value(QStringLiteral("data"));
        if (step < 2) {
            if (!answer.isObject()) {
                fail(notFormatted);
                return;
            }
            discoverPrivateSpace(answer.toObject(), step + 1, found);
            return;
        }
        const QString id = answer.toArray().first().toObject().value(QStringLiteral("id")).toString();
        if (id.isEmpty()) {
            fail(notFormatted);
            return;
        }
        privateSpaceId() = id;
        found();
    });
}

void ZohoWDClient::createFolder(const QString& path, FolderCompletion completion) {
    if (!authorized())
        return;
    const QStringList parts = path.split(QLatin1Char('/'));
    if (parts.size() == 3) {
        create(currentFolderId(), parts[2], std::move(completion));
        return;
    }
    if (parts.size() != 2) {
        failSoon(QStringLiteral("WorkDrive folders are created one or two levels deep."));
        return;
    }
    const QString parent = parts[0].isEmpty() ? privateSpaceId() : parts[0];
    const QString name = parts[1];
    request("GET", api(QStringLiteral("/api/v1/privatespace/%1/folders").arg(privateSpaceId())), {},
            [this, parent, name, completion](const QJsonDocument& doc) {
                if (!doc.isObject()) {
                    fail(QStringLiteral("Get Folder details format"));
                    return;
                }
                const QJsonValue data = doc.object().value(QStringLiteral("data"));
                if (!data.isArray()) {
                    logLine(QStringLiteral("WorkDrive folder listing: ") +
                            QString::fromUtf8(doc.toJson(QJsonDocument::Compact)));
                    fail(QStringLiteral("Get Folder details formats"));
                    return;
                }
                for (const QJsonValue& value : data.toArray()) {
                    const QJsonObject folder = value.toObject();
                    if (folder.value(QStringLiteral("attributes"))
                                .toObject()
                                .value(QStringLiteral("name"))
                                .toString() == applicationFolderName &&
                        folder.value(QStringLiteral("id")).isString()) {
                        currentFolderId() = folder.value(QStringLiteral("id")).toString();
                        completion(false);
                        return;
                    }
                }
                create(parent, name, completion);
            });
}

void ZohoWDClient::create(const QString& parent, const QString& name, FolderCompletion completion) {
    const QJsonObject body{
        {QStringLiteral("data"),
         QJsonObject{{QStringLiteral("type"), QStringLiteral("files")},
                     {QStringLiteral("attributes"),
                      QJsonObject{{QStringLiteral("parent_id"), parent}, {QStringLiteral("name"), name}}}}}};
    request("POST", api(QStringLiteral("/api/v1/files")), QJsonDocument(body).toJson(QJsonDocument::Compact),
            [this, completion](const QJsonDocument& doc) {
                const QJsonObject answer = doc.object();
                if (answer.contains(QStringLiteral("data"))) {
                    const QJsonValue id =
                        answer.value(QStringLiteral("data")).toObject().value(QStringLiteral("id"));
                    if (!id.isString()) {
                        fail(folderNotFormatted);
                        return;
                    }
                    currentFolderId() = id.toString();
                    completion(false);
                    return;
                }
                const QJsonArray errors = answer.value(QStringLiteral("errors")).toArray();
                if (errors.isEmpty()) {
                    fail(folderNotFormatted);
                    return;
                }
                const QJsonObject first = errors.first().toObject();
                if (first.value(QStringLiteral("id")).toString() == QLatin1String("R002"))
                    fail(QStringLiteral("Technical error! try again after a min"));
                else if (first.value(QStringLiteral("title")).isString())
                    fail(first.value(QStringLiteral("title")).toString());
                else
                    fail(folderNotFormatted);
            });
}

void ZohoWDClient::uploadFile(const QString& localPath, const QString& remotePath,
                              UploadCompletion completion, Progress progress) {
    if (!authorized())
        return;
    const QString parent = currentFolderId();
    const auto [baseName, extension] = splitName(remotePath.section(QLatin1Char('/'), -1));
    const QString file = QString(QUrl::fromPercentEncoding(localPath.toUtf8()))
                             .replace(QLatin1String("%20"), QLatin1String(" "));
    auto* helper = new UploadHelper(file, std::move(progress), this);
    m_upload = helper;
    helper->extn = extension;
    helper->notice = relayNotices();
    helper->completionHandler = [this, helper, completion](const QString& error) {
        helper->deleteLater();
        if (!error.isEmpty()) {
            fail(QStringLiteral(" -") + error);
            return;
        }
        const QString uploadId = helper->uploadID;
        after(settle(0.5), [this, uploadId, completion] { askUploadResult(uploadId, completion); });
    };
    helper->uploadFileData(QUrl(configValue(ConfigKey::ZohoUploadUrl) + QStringLiteral("/upload")), parent,
                           baseName);
}

void ZohoWDClient::askUploadResult(const QString& uploadId, UploadCompletion completion) {
    after(settle(1.0), [this, uploadId, completion] {
        request("GET",
                api(QStringLiteral("/uploadprogress?uploadid=upload_%1_%2").arg(currentUser().id, uploadId)),
                {}, [this, completion](const QJsonDocument& doc) {
                    if (!doc.isObject()) {
                        fail(QStringLiteral("Upload resource data format."));
                        return;
                    }
                    lastUploadedFileId() = doc.object().value(QStringLiteral("RESOURCE_ID")).toString();
                    completion(false);
                });
    });
}

void ZohoWDClient::shareLink(const QString&, LinkCompletion completion) {
    if (!authorized())
        return;
    const QString resourceId = lastUploadedFileId();
    after(settle(1.0), [this, resourceId, completion] {
        const QJsonObject attributes{{QStringLiteral("resource_id"), resourceId},
                                     {QStringLiteral("link_name"), QStringLiteral("Vantry")},
                                     {QStringLiteral("link_type"), QStringLiteral("download")},
                                     {QStringLiteral("request_user_data"), false},
                                     {QStringLiteral("allow_download"), true}};
        const QJsonObject body{
            {QStringLiteral("data"), QJsonObject{{QStringLiteral("type"), QStringLiteral("links")},
                                                 {QStringLiteral("attributes"), attributes}}}};
        request(
            "POST", api(QStringLiteral("/api/v1/links")), QJsonDocument(body).toJson(QJsonDocument::Compact),
            [this, resourceId, completion](const QJsonDocument& doc) {
                const QJsonValue a =
                    doc.object().value(QStringLiteral("data")).toObject().value(QStringLiteral("attributes"));
                if (!a.isObject()) {
                    fail(QStringLiteral("share Data is not formatted"));
                    return;
                }
                QString linkId = a.toObject().value(QStringLiteral("id")).toString();
                if (linkId.isEmpty()) {
                    const QStringList path = QUrl(a.toObject().value(QStringLiteral("link")).toString())
                                                 .path()
                                                 .split(QLatin1Char('/'));
                    // The leading "/" counts as the first component: "/external/<key>/download".
                    if (path.size() >= 2)
                        linkId = path[path.size() - 2];
                }
                if (linkId.isEmpty()) {
                    fail(QStringLiteral("share Data is not formatted"));
                    return;
                }
                completion(directLink(resourceId, linkId));
            });
    });
}

void ZohoWDClient::cancelTask() {
    ++m_cancels; // pauses that were waiting to send the next request end here
    stopRequests(m_currentTask, m_upload);
}
