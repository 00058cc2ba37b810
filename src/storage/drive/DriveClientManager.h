#pragma once

#include "storage/ClientManager.h"

#include <QJsonDocument>
#include <QPointer>

class AuthorizedCall;
class DriveUpload;
class QNetworkReply;
struct CallResult;
struct CallRequest;

// The storage client for Google Drive over its v3 REST API. Drive works by identifier: folder
// creation leaves the folder's identifier in currentFolderId, an upload leaves the file's in
// lastUploadedFileId, and shareLink links that file once it serves the bytes. cancelTask stops
// the request or upload this instance started last.
class DriveClientManager : public ClientManager {
    Q_OBJECT
public:
    explicit DriveClientManager(QObject* parent = nullptr);
    ~DriveClientManager() override;

    void createFolder(const QString& path, FolderCompletion completion) override;
    void uploadFile(const QString& localPath, const QString& remotePath, UploadCompletion completion,
                    Progress progress) override;
    void shareLink(const QString& remotePath, LinkCompletion completion) override;
    void getUserData(UserCompletion completion) override;
    void cancelTask() override;

    // The public download link of a file that anyone may read.
    static QString directLink(const QString& fileId);

    static inline const QString folderMimeType = QStringLiteral("application/vnd.google-apps.folder");
    static inline const QString applicationFolderName = QStringLiteral("Vantry");

private:
    // False (and a failure reported soon) when no account is linked.
    bool authorized();
    void checkLink(const QString& link, const LinkCompletion& completion);
    void call(CallRequest request, std::function<void(const CallResult&)> done);
    void findOrCreateApplicationFolder(const QString& name, FolderCompletion completion);
    void createFolderIn(const QString& name, const QString& parent,
                        std::function<void(const CallResult&)> done);
    // Transport failures (no answer, token refused, retries used up) reach onFailure.
    bool failedInTransport(const CallResult& result, const QString& what);

    QPointer<AuthorizedCall> m_currentTask;
    QPointer<DriveUpload> m_upload;
    QPointer<QNetworkReply> m_linkCheck;
};
