#pragma once

#include "storage/ClientManager.h"

#include <QJsonDocument>
#include <QPointer>
#include <QUrl>

class AuthorizedCall;
class UploadHelper;

// The storage client for Zoho WorkDrive over its REST API and upload service, through the same
// AuthorizedCall and FileUpload as the other providers. Identifiers live in currentFolderId,
// lastUploadedFileId and the process-wide privateSpaceId; cancelTask stops the request, upload or
// pause this instance started last.
class ZohoWDClient : public ClientManager {
    Q_OBJECT
public:
    explicit ZohoWDClient(QObject* parent = nullptr);
    ~ZohoWDClient() override;

    void createFolder(const QString& path, FolderCompletion completion) override;
    void uploadFile(const QString& localPath, const QString& remotePath, UploadCompletion completion,
                    Progress progress) override;
    void shareLink(const QString& remotePath, LinkCompletion completion) override;
    void getUserData(UserCompletion completion) override;
    void cancelTask() override;

    static inline const QString applicationFolderName = QStringLiteral("Vantry");

    // "App.beta.ipa" → {"App", "ipa"}; "README" → {"README", "README"}.
    static std::pair<QString, QString> splitName(const QString& fileName);
    static QString directLink(const QString& resourceId, const QString& linkId);

private:
    // False (and a failure reported soon) when no account is linked.
    bool authorized();
    using Answer = std::function<void(const QJsonDocument&)>;
    // A JSON request with the current access token; failures reach onFailure and end the chain.
    void request(const QByteArray& method, const QUrl& url, const QByteArray& body, Answer answer);
    // Runs next after a pause, unless cancelTask comes first.
    void after(int milliseconds, std::function<void()> next);
    void discoverPrivateSpace(const QJsonObject& user, int step, std::function<void()> found);
    void create(const QString& parent, const QString& name, FolderCompletion completion);
    void askUploadResult(const QString& uploadId, UploadCompletion completion);

    QPointer<AuthorizedCall> m_currentTask;
    QPointer<UploadHelper> m_upload;
    int m_cancels = 0;
};

// The identifier of the user's WorkDrive private space, for the life of the process.
QString& privateSpaceId();
