#pragma once

#include "storage/ClientManager.h"

#include <QJsonDocument>
#include <QPointer>

class DriveUpload;
struct CallResult;
struct CallRequest;

// The storage client for Google Drive over its v3 REST API. Drive works by identifier: folder
// creation leaves the folder's identifier in currentFolderId, an upload leaves the file's in
// lastUploadedFileId, and shareLink links that file. cancelTask does nothing.
class DriveClientManager : public ClientManager {
    Q_OBJECT
public:
    explicit DriveClientManager(QObject* parent = nullptr);

    void createFolder(const QString& path, FolderCompletion completion) override;
    void uploadFile(const QString& localPath, const QString& remotePath, UploadCompletion completion,
                    Progress progress) override;
    void shareLink(const QString& remotePath, LinkCompletion completion) override;
    void getUserData(UserCompletion completion) override;

    static inline const QString folderMimeType = QStringLiteral("application/vnd.google-apps.folder");
    static inline const QString applicationFolderName = QStringLiteral("Vantry");

private:
    static bool authorized();
    void call(CallRequest request, std::function<void(const CallResult&)> done);
    void findOrCreateApplicationFolder(const QString& name, FolderCompletion completion);
    void createFolderIn(const QString& name, const QString& parent,
                        std::function<void(const CallResult&)> done);
    // Transport failures (no answer, token refused, retries used up) reach onFailure.
    bool failedInTransport(const CallResult& result, const QString& what);
};
