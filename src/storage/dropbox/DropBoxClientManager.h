#pragma once

#include "storage/ClientManager.h"

#include <QPointer>

class AuthorizedCall;
class DropBoxUpload;
struct CallResult;

// The storage client for Dropbox, over its HTTP API. Dropbox addresses by path, so this client
// keeps no folder or file identifiers; it remembers only the work it started last, which
// cancelTask stops (uploads included) without calling anything afterwards.
class DropBoxClientManager : public ClientManager {
    Q_OBJECT
public:
    explicit DropBoxClientManager(QObject* parent = nullptr);
    ~DropBoxClientManager() override;

    void createFolder(const QString& path, FolderCompletion completion) override;
    void uploadFile(const QString& localPath, const QString& remotePath, UploadCompletion completion,
                    Progress progress) override;
    void shareLink(const QString& remotePath, LinkCompletion completion) override;
    void getUserData(UserCompletion completion) override;
    void cancelTask() override;

private:
    // False (and a failure reported soon) when no account is linked.
    bool authorized();
    void rpc(const QString& route, const QByteArray& body, std::function<void(const CallResult&)> done);
    void listExistingLink(const QString& remotePath, LinkCompletion completion, const QString& reason);
    void deliverLink(const QString& sharedUrl, const LinkCompletion& completion);
    void stopCurrent();

    QPointer<AuthorizedCall> m_currentTask;
    QPointer<DropBoxUpload> m_upload;
};
