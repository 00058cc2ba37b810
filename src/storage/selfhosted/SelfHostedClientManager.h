#pragma once

#include "storage/ClientManager.h"
#include "storage/selfhosted/SelfHostedCredentials.h"

#include <QJsonObject>
#include <QPointer>

#include <memory>

class QNetworkReply;
class SelfHostedUpload;

// The storage client for a self-hosted vantry-server, over its storage API (bearer token). The
// job's "/Vantry/…" paths become the server's relative "Vantry/…" paths; the server matches
// them without regard to letter case. Uploads stream from disk (SelfHostedUpload), resumable
// where the server allows. Every
// operation ends exactly once, with its completion or onFailure, unless cancelTask stops it first.
class SelfHostedClientManager : public ClientManager {
    Q_OBJECT
public:
    explicit SelfHostedClientManager(QObject* parent = nullptr);
    // A client for the given server (tests; the default reads selfHostedCredentials()).
    SelfHostedClientManager(std::optional<SelfHostedCredentials> credentials, QObject* parent = nullptr);
    ~SelfHostedClientManager() override;

    void createFolder(const QString& path, FolderCompletion completion) override;
    void uploadFile(const QString& localPath, const QString& remotePath, UploadCompletion completion,
                    Progress progress) override;
    void shareLink(const QString& remotePath, LinkCompletion completion) override;
    void getUserData(UserCompletion completion) override;
    void cancelTask() override;

    // "/Vantry/job/App.ipa" → "Vantry/job/App.ipa".
    static QString serverPath(const QString& jobPath);

private:
    using Answer = std::function<void(const QJsonObject& response, int status)>;
    // One JSON request; answer gets "response" of a successful answer, failures go to onFailure.
    void call(const QByteArray& method, const QString& route, const QJsonObject& body, Answer answer);
    bool ready();
    void failLater(const QString& reason);
    QString refusal(int status, const QByteArray& body) const;
    void stop();

    std::optional<SelfHostedCredentials> m_credentials;
    QPointer<QNetworkReply> m_reply;
    QPointer<SelfHostedUpload> m_upload;
    // Whether the server takes resumable uploads: assumed until its first refusal.
    std::shared_ptr<bool> m_resumable = std::make_shared<bool>(true);
    bool m_cancelled = false;
};
