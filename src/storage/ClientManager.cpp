#include "storage/ClientManager.h"

#include "core/Preferences.h"
#include "storage/AuthorizedCall.h"
#include "storage/FileUpload.h"
#include "storage/drive/DriveClientManager.h"
#include "storage/dropbox/DropBoxClientManager.h"
#include "storage/selfhosted/SelfHostedClientManager.h"
#include "storage/zoho/ZohoWDClient.h"

ClientManager::ClientManager(QObject* parent) : QObject(parent) {}
ClientManager::~ClientManager() = default;

void ClientManager::createFolder(const QString&, FolderCompletion) {}
void ClientManager::uploadFile(const QString&, const QString&, UploadCompletion, Progress) {}
void ClientManager::shareLink(const QString&, LinkCompletion) {}
void ClientManager::getUserData(UserCompletion) {}
void ClientManager::cancelTask() {}

void ClientManager::fail(const QString& reason) const {
    if (onFailure)
        onFailure(reason);
}

void ClientManager::stopRequests(AuthorizedCall* call, FileUpload* upload) {
    dropPendingFailures();
    if (call)
        call->cancel();
    if (upload) {
        upload->cancel();
        upload->deleteLater();
    }
}

ClientManager::Notice ClientManager::relayNotices() {
    return [this](const QString& text) {
        if (onNotice)
            onNotice(text);
    };
}

void ClientManager::failSoon(const QString& reason) {
    const int generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation, reason] {
            if (generation == m_generation)
                fail(reason);
        },
        Qt::QueuedConnection);
}

StorageProvider selectedProvider() {
    if (Preferences::flag(Preferences::isDrive))
        return StorageProvider::Drive;
    if (Preferences::flag(Preferences::isDropBox))
        return StorageProvider::Dropbox;
    if (Preferences::flag(Preferences::isSelfHosted))
        return StorageProvider::SelfHosted;
    return StorageProvider::Zoho;
}

StorageProvider publishingProvider() {
    const bool anySignedIn =
        Preferences::flag(Preferences::isDrive) || Preferences::flag(Preferences::isDropBox) ||
        Preferences::flag(Preferences::isSelfHosted) || Preferences::flag(Preferences::isZoho);
    return anySignedIn ? selectedProvider() : StorageProvider::SelfHosted;
}

std::unique_ptr<ClientManager> makeStorageClient() {
    return makeStorageClient(selectedProvider());
}

std::unique_ptr<ClientManager> makeStorageClient(StorageProvider provider) {
    switch (provider) {
    case StorageProvider::Dropbox:
        return std::make_unique<DropBoxClientManager>();
    case StorageProvider::Drive:
        return std::make_unique<DriveClientManager>();
    case StorageProvider::SelfHosted:
        return std::make_unique<SelfHostedClientManager>();
    case StorageProvider::Zoho:
        break;
    }
    return std::make_unique<ZohoWDClient>();
}

QString& currentFolderId() {
    static QString value;
    return value;
}

QString& lastUploadedFileId() {
    static QString value;
    return value;
}
