#pragma once

#include "DriveEmulator.h"
#include "DropboxEmulator.h"
#include "WorkDriveEmulator.h"
#include "core/Config.h"
#include "storage/AuthorizedCall.h"
#include "storage/KeychainHelper.h"
#include "storage/drive/DriveClientManager.h"
#include "storage/drive/GoogleAuth.h"
#include "storage/dropbox/DropBoxClientManager.h"
#include "storage/dropbox/DropboxAuth.h"
#include "storage/zoho/ZohoAuthentication.h"
#include "storage/zoho/ZohoWDClient.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

// Bytes whose value depends on their position, so that data landing at a wrong offset shows.
inline QByteArray pattern(int size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((unsigned(i) * 7919u + unsigned(i) / 251u) & 0xffu);
    return bytes;
}

// The body of a plain GET, empty when it fails.
inline QByteArray download(const QString& url) {
    QNetworkAccessManager network;
    std::unique_ptr<QNetworkReply> reply(network.get(QNetworkRequest(QUrl(url))));
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    return reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
}

// A linked account against a fresh emulator; the client under test records every callback.
template <class Emulator, class Client> class StorageFixture : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = testsupport::makeTempDir(QStringLiteral("storage"));
        emulator = std::make_unique<Emulator>(m_dir + QStringLiteral("/emulator"));
        ASSERT_TRUE(emulator->start());
        emulator->pointConfigHere();
        linkAccount();
        currentFolderId().clear();
        lastUploadedFileId().clear();
        client = std::make_unique<Client>();
        client->onFailure = [this](const QString& reason) { failures.append(reason); };
    }

    void TearDown() override {
        client.reset();
        // Idle keep-alive connections would hold the emulator's workers until they time out.
        storageNetwork()->clearConnectionCache();
        emulator.reset();
        Config::instance().reload();
    }

    virtual void linkAccount() = 0;
    // Where the emulator keeps the bytes of an upload (found by path or by the last file id).
    virtual QString storedBlob(const QString& remotePath) const = 0;

    QString local(const QString& name, const QByteArray& bytes = {}) {
        return testsupport::writeFile(m_dir + QStringLiteral("/local/") + name, bytes);
    }

    // Runs one upload and waits for its completion or a failure.
    void upload(const QString& localPath, const QString& remotePath, int timeoutMs = 60000) {
        uploadFlags.clear();
        client->uploadFile(
            localPath, remotePath, [this](bool flag) { uploadFlags.push_back(flag); },
            [this](double f) { progress.push_back(f); });
        EXPECT_TRUE(
            testsupport::waitUntil([&] { return !uploadFlags.empty() || !failures.isEmpty(); }, timeoutMs));
    }

    // createFolder's completions, once the first one came (kept in a member: a late one has somewhere to go).
    std::vector<bool> folder(const QString& path) {
        m_folderFlags.clear();
        client->createFolder(path, [this](bool existed) { m_folderFlags.push_back(existed); });
        EXPECT_TRUE(testsupport::waitUntil([&] { return !m_folderFlags.empty(); }));
        return m_folderFlags;
    }

    QByteArray storedBytes(const QString& remotePath) const {
        const QString file = storedBlob(remotePath);
        return file.isEmpty() ? QByteArray() : testsupport::readFile(file);
    }

    void waitForFailures(qsizetype n = 1, int timeoutMs = 10000) {
        ASSERT_TRUE(testsupport::waitUntil([&] { return failures.size() >= n; }, timeoutMs));
    }

    // Stops the emulator: every later request meets a refused connection.
    void goOffline() {
        storageNetwork()->clearConnectionCache();
        emulator->stop();
    }

    std::unique_ptr<Emulator> emulator;
    std::unique_ptr<Client> client;
    QStringList failures;
    std::vector<bool> uploadFlags;
    std::vector<double> progress;

private:
    QString m_dir;
    std::vector<bool> m_folderFlags;
};

class DropboxFixture : public StorageFixture<DropboxEmulator, DropBoxClientManager> {
protected:
    static inline const QString accessToken = QStringLiteral("sl.u.AbX9y6Fe3AuH5o66-access-secret");
    static inline const QString refreshToken = QStringLiteral("nBiM85CZALsAAAAAAAAAAQ-refresh-secret");

    void linkAccount() override {
        emulator->addAccessToken(accessToken);
        emulator->setRefreshToken(refreshToken);
        DropboxAuth::instance().link({accessToken, refreshToken, QDateTime::currentSecsSinceEpoch() + 3600});
    }
    void unlink() {
        DropboxAuth::instance().unlinkAndResetClients();
        DropboxAuth::instance().reload();
    }
    QString storedBlob(const QString& remotePath) const override { return emulator->storedFile(remotePath); }
};

class DriveFixture : public StorageFixture<DriveEmulator, DriveClientManager> {
protected:
    static inline const QString accessToken = QStringLiteral("ya29.a0AfB_byC-access-secret");
    static inline const QString refreshToken = QStringLiteral("1//0gLkP-refresh-secret");

    void linkAccount() override {
        emulator->addAccessToken(accessToken);
        emulator->setRefreshToken(refreshToken);
        Config::instance().set(ConfigKey::StorageRetryBackoffMilliseconds, QStringLiteral("20"));
        GoogleAuth::instance().link({accessToken, refreshToken, QDateTime::currentSecsSinceEpoch() + 3600});
    }
    void unlink() { GoogleAuth::instance().unlinkAndResetClients(); }
    QString jobFolder() { return emulator->addItem(QStringLiteral("Job"), true); }
    QString storedBlob(const QString&) const override {
        const auto file = emulator->item(lastUploadedFileId());
        return file ? file->blob : QString();
    }
};

class WorkDriveFixture : public StorageFixture<WorkDriveEmulator, ZohoWDClient> {
protected:
    static inline const QString refreshToken = QStringLiteral("1000.refresh-secret.0123456789");

    void linkAccount() override {
        emulator->setRefreshToken(refreshToken);
        Config::instance().set(ConfigKey::ZohoSettleMilliseconds, QStringLiteral("10"));
        Config::instance().set(ConfigKey::StorageRetryBackoffMilliseconds, QStringLiteral("20"));
        KeychainHelper().save(ZohoAuthentication::refreshTokenService, KeychainHelper::accountName,
                              refreshToken);
        ZohoAuthentication::resetAccessToken();
        currentUser().id = WorkDriveEmulator::userId;
        privateSpaceId().clear();
    }
    QString jobFolder() { return emulator->addFolder(QStringLiteral("Job")); }
    QString storedBlob(const QString&) const override {
        for (const auto& upload : emulator->uploads()) {
            if (upload.resourceId == lastUploadedFileId())
                return upload.blob;
        }
        return {};
    }
};
