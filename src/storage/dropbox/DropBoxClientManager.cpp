#include "storage/dropbox/DropBoxClientManager.h"

#include "core/Config.h"
#include "core/Log.h"
#include "storage/AuthorizedCall.h"
#include "storage/dropbox/DropBoxAuth.h"
#include "storage/dropbox/DropBoxUpload.h"
#include "storage/dropbox/DropBoxWire.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {
QByteArray json(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// Below the route level (no answer, retries used up, token refused) an operation reports a
// short readable text.
bool transportFailure(const CallResult& result) {
    return !result.ok() && !result.routeError();
}
} // namespace

DropBoxClientManager::DropBoxClientManager(QObject* parent) : ClientManager(parent) {}

DropBoxClientManager::~DropBoxClientManager() {
    stopCurrent();
}

bool DropBoxClientManager::authorized() {
    const auto client = DropBoxAuth::instance().authorizedClient();
    if (client && client->isAuthorized())
        return true;
    failSoon(QStringLiteral("You are not signed in to Dropbox."));
    return false;
}

void DropBoxClientManager::rpc(const QString& route, const QByteArray& body,
                               std::function<void(const CallResult&)> done) {
    m_currentTask =
        new AuthorizedCall(DropBoxAuth::instance(), DropBoxWire::rpc(route, body), std::move(done), {}, this);
    m_currentTask->start();
}

void DropBoxClientManager::createFolder(const QString& path, FolderCompletion completion) {
    if (!authorized())
        return;
    rpc(QStringLiteral("files/create_folder_v2"),
        json({{QStringLiteral("path"), path}, {QStringLiteral("autorename"), false}}),
        [this, completion](const CallResult& result) {
            if (result.ok()) {
                logLine(QStringLiteral("Dropbox folder created: ") +
                        result.json.value(QStringLiteral("metadata"))
                            .toObject()
                            .value(QStringLiteral("path_display"))
                            .toString());
                completion(false);
                return;
            }
            const QJsonObject error = result.json.value(QStringLiteral("error")).toObject();
            const QJsonObject write = error.value(QStringLiteral("path")).toObject();
            const bool existingFolder =
                result.routeError() && result.errorTag() == QLatin1String("path") &&
                write.value(QStringLiteral(".tag")).toString() == QLatin1String("conflict") &&
                write.value(QStringLiteral("conflict")).toObject().value(QStringLiteral(".tag")).toString() ==
                    QLatin1String("folder");
            if (existingFolder) {
                completion(true);
                return;
            }
            logLine(QStringLiteral("Dropbox folder not created: ") + result.description());
            const QString tag = result.errorTag();
            const QString reason = error.value(tag).toObject().value(QStringLiteral(".tag")).toString();
            fail(transportFailure(result) ? result.description()
                                          : QStringLiteral("Dropbox did not create the folder (%1).")
                                                .arg(reason.isEmpty() ? tag : reason));
        });
}

void DropBoxClientManager::uploadFile(const QString& localPath, const QString& remotePath,
                                      UploadCompletion completion, Progress progress) {
    if (!authorized())
        return;
    m_upload = new DropBoxUpload(
        DropBoxWire::localPath(localPath), remotePath,
        [this, completion](const DropBoxUpload::Outcome& outcome) {
            if (m_upload)
                m_upload->deleteLater();
            switch (outcome.kind) {
            case DropBoxUpload::Outcome::Success:
                logLine(QStringLiteral("Dropbox upload finished: ") +
                        (outcome.pathDisplay.isEmpty() ? QStringLiteral("no path") : outcome.pathDisplay));
                completion(false);
                break;
            case DropBoxUpload::Outcome::LookupFailed:
                completion(true);
                break;
            case DropBoxUpload::Outcome::FinishError:
                logLine(QStringLiteral("Dropbox upload not committed: ") + outcome.detail);
                fail(QStringLiteral("Dropbox did not keep the uploaded file (%1).").arg(outcome.detail));
                break;
            case DropBoxUpload::Outcome::Failed:
                logLine(QStringLiteral("Dropbox upload failed: ") + outcome.detail);
                fail(outcome.detail);
                break;
            }
        },
        std::move(progress), this);
    m_upload->notice = relayNotices();
    m_upload->start();
}

void DropBoxClientManager::shareLink(const QString& remotePath, LinkCompletion completion) {
    if (!authorized())
        return;
    rpc(QStringLiteral("sharing/create_shared_link_with_settings"),
        json({{QStringLiteral("path"), remotePath}}),
        [this, remotePath, completion](const CallResult& result) {
            if (result.ok()) {
                deliverLink(result.json.value(QStringLiteral("url")).toString(), completion);
                return;
            }
            if (result.routeError() && result.errorTag() == QLatin1String("shared_link_already_exists")) {
                // The answer usually carries the link that already exists; use it.
                const QString existing = result.json.value(QStringLiteral("error"))
                                             .toObject()
                                             .value(QStringLiteral("shared_link_already_exists"))
                                             .toObject()
                                             .value(QStringLiteral("metadata"))
                                             .toObject()
                                             .value(QStringLiteral("url"))
                                             .toString();
                if (!existing.isEmpty())
                    deliverLink(existing, completion);
                else
                    listExistingLink(remotePath, completion, result.description());
                return;
            }
            logLine(QStringLiteral("Dropbox shared link not created: ") + result.description());
            fail(result.description());
        });
}

void DropBoxClientManager::listExistingLink(const QString& remotePath, LinkCompletion completion,
                                            const QString& reason) {
    rpc(QStringLiteral("sharing/list_shared_links"),
        json({{QStringLiteral("path"), remotePath}, {QStringLiteral("direct_only"), true}}),
        [this, completion, reason](const CallResult& result) {
            const QString url = result.json.value(QStringLiteral("links"))
                                    .toArray()
                                    .first()
                                    .toObject()
                                    .value(QStringLiteral("url"))
                                    .toString();
            if (result.ok() && !url.isEmpty()) {
                deliverLink(url, completion);
                return;
            }
            logLine(QStringLiteral("Dropbox shared link not found: ") + result.description());
            fail(reason);
        });
}

void DropBoxClientManager::deliverLink(const QString& sharedUrl, const LinkCompletion& completion) {
    completion(DropBoxWire::directLink(sharedUrl, configValue(ConfigKey::DropboxShareHost),
                                       configValue(ConfigKey::DropboxDirectHost)));
}

void DropBoxClientManager::getUserData(UserCompletion completion) {
    if (!authorized())
        return;
    rpc(QStringLiteral("users/get_current_account"), "null", [this, completion](const CallResult& result) {
        if (result.ok()) {
            ZUser user;
            user.name = result.json.value(QStringLiteral("name"))
                            .toObject()
                            .value(QStringLiteral("display_name"))
                            .toString();
            user.email = result.json.value(QStringLiteral("email")).toString();
            user.id = result.json.value(QStringLiteral("account_id")).toString();
            user.avatar = result.json.value(QStringLiteral("profile_photo_url")).toString();
            completion(user);
            return;
        }
        logLine(QStringLiteral("Dropbox account not read: ") + result.description());
        fail(result.routeError() ? QStringLiteral("No response") : result.description());
    });
}

void DropBoxClientManager::cancelTask() {
    stopCurrent();
}

void DropBoxClientManager::stopCurrent() {
    stopRequests(m_currentTask, m_upload);
}
