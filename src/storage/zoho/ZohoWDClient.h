#pragma once

#include "storage/ClientManager.h"

#include <QJsonDocument>
#include <QPointer>
#include <QUrl>

// The storage client for Zoho WorkDrive over its REST API and upload service. Identifiers live in
// currentFolderId, lastUploadedFileId and the process-wide privateSpaceId; cancelTask stops the
// request or upload this instance started last.
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
    // A JSON request with a current access token; failures reach onFailure and end the chain.
    // authorization: a fixed header value (no token handling); refusedToken: the token the
    // previous attempt was refused with (the request is then not repeated again).
    void request(const QByteArray& method, const QUrl& url, const QByteArray& body, Answer answer,
                 const QString& authorization = QString(), const QString& refusedToken = QString());
    void send(const QByteArray& method, const QUrl& url, const QByteArray& body, const QString& authorization,
              Answer answer, bool retried);
    void discoverPrivateSpace(const QJsonObject& user, int step, std::function<void()> found);
    void create(const QString& parent, const QString& name, FolderCompletion completion);
    void askUploadResult(const QString& authorization, const QString& uploadId, UploadCompletion completion);

    QPointer<QObject> m_task;
    int m_cancels = 0;
};

// The identifier of the user's WorkDrive private space, for the life of the process.
QString& privateSpaceId();
