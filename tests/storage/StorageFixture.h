#pragma once

#include "DriveEmulator.h"
#include "DropBoxEmulator.h"
#include "WorkDriveEmulator.h"
#include "core/Config.h"
#include "storage/AuthorizedCall.h"
#include "storage/KeychainHelper.h"
#include "storage/drive/DriveClientManager.h"
#include "storage/drive/GoogleAuth.h"
#include "storage/dropbox/DropBoxAuth.h"
#include "storage/dropbox/DropBoxClientManager.h"
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
        Config::instance().set(ConfigKey::StorageRetryBackoffMilliseconds, QStringLiteral("20"));
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

    std::unique_ptr<Emulator> emulator;
    std::unique_ptr<Client> client;
    QStringList failures;
    std::vector<bool> uploadFlags;
    std::vector<double> progress;

private:
    QString m_dir;
    std::vector<bool> m_folderFlags;
};

// Every token a fixture hands out says "secret"; the emulators' own tokens carry ".emu".
// How a fixture's stored access token fails: expired (it says so), refused (it looks valid but the
// provider refuses it) or revoked (and no new one can be had).
enum class TokenState { Expired, Refused, Revoked };

class DropBoxFixture : public StorageFixture<DropBoxEmulator, DropBoxClientManager> {
protected:
    static inline const QString label = QStringLiteral("Dropbox");
    static constexpr int revokedRefreshes = 1;
    static inline const QString accessToken = QStringLiteral("sl.u.AbX9y6Fe3AuH5o66-access-secret");
    static inline const QString refreshToken = QStringLiteral("nBiM85CZALsAAAAAAAAAAQ-refresh-secret");
    static inline const ZUser profile{QStringLiteral("Franz Ferdinand (Personal)"),
                                      QStringLiteral("franz@example.com"),
                                      QStringLiteral("dbid:AAH4f99T0taONIb-OurWxbNQ6ywGRopQngc"), QString()};

    void linkAccount() override {
        emulator->addAccessToken(accessToken);
        emulator->setRefreshToken(refreshToken);
        DropBoxAuth::instance().link({accessToken, refreshToken, QDateTime::currentSecsSinceEpoch() + 3600});
    }
    void unlink() {
        DropBoxAuth::instance().unlinkAndResetClients();
        DropBoxAuth::instance().reload();
    }
    void prepareUpload() {}
    void setToken(TokenState state) {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        emulator->addAccessToken(QStringLiteral("sl.expired-secret"), true);
        if (state == TokenState::Revoked)
            emulator->setRefreshToken(QStringLiteral("another"));
        DropBoxAuth::instance().link({QStringLiteral("sl.expired-secret"), refreshToken,
                                      state == TokenState::Refused ? now + 3600 : now - 10});
    }
    QString storedBlob(const QString& remotePath) const override { return emulator->storedFile(remotePath); }
};

class DriveFixture : public StorageFixture<DriveEmulator, DriveClientManager> {
protected:
    static inline const QString label = QStringLiteral("Google Drive");
    static constexpr int revokedRefreshes = 1;
    static inline const QString accessToken = QStringLiteral("ya29.a0AfB_byC-access-secret");
    static inline const QString refreshToken = QStringLiteral("1//0gLkP-refresh-secret");
    static inline const ZUser profile{QStringLiteral("Ada Lovelace"), QStringLiteral("ada@example.com"),
                                      QStringLiteral("110248495921238986420"),
                                      QStringLiteral("https://lh3.googleusercontent.com/a/ACg8ocK3=s96-c")};

    void linkAccount() override {
        emulator->addAccessToken(accessToken);
        emulator->setRefreshToken(refreshToken);
        GoogleAuth::instance().link({accessToken, refreshToken, QDateTime::currentSecsSinceEpoch() + 3600});
    }
    void unlink() { GoogleAuth::instance().unlinkAndResetClients(); }
    QString jobFolder() { return emulator->addItem(QStringLiteral("Job"), true); }
    void prepareUpload() { currentFolderId() = jobFolder(); }
    void setToken(TokenState state) {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        emulator->setRefreshWithoutToken(state == TokenState::Revoked);
        GoogleAuth::instance().link({state == TokenState::Expired ? QStringLiteral("ya29.old-secret")
                                                                  : QStringLiteral("ya29.revoked-secret"),
                                     refreshToken, state == TokenState::Expired ? now - 5 : now + 3600});
    }
    QString storedBlob(const QString&) const override {
        const auto file = emulator->item(lastUploadedFileId());
        return file ? file->blob : QString();
    }
};

class WorkDriveFixture : public StorageFixture<WorkDriveEmulator, ZohoWDClient> {
protected:
    static inline const QString label = QStringLiteral("Zoho WorkDrive");
    // The expired token's refresh hands on the last token; WorkDrive refuses it: a second refresh.
    static constexpr int revokedRefreshes = 2;
    static inline const QString refreshToken = QStringLiteral("1000.refresh-secret.0123456789");
    static inline const ZUser profile{QStringLiteral("Zylker Admin"), QStringLiteral("zylker@zylker.com"),
                                      WorkDriveEmulator::userId,
                                      QStringLiteral("https://contacts.zoho.com/file?ID=747938014&fs=thumb")};

    void linkAccount() override {
        emulator->setRefreshToken(refreshToken);
        Config::instance().set(ConfigKey::ZohoSettleMilliseconds, QStringLiteral("10"));
        KeychainHelper().save(ZohoAuthentication::refreshTokenService, KeychainHelper::accountName,
                              refreshToken);
        ZohoAuthentication::resetAccessToken();
        currentUser().id = WorkDriveEmulator::userId;
        // Found at the first profile read, as WorkDriveClient.ReadingTheProfile… shows.
        privateSpaceId() = WorkDriveEmulator::privateSpace;
    }
    void unlink() {
        KeychainHelper().save(ZohoAuthentication::refreshTokenService, KeychainHelper::accountName,
                              QString());
        ZohoAuthentication::resetAccessToken();
    }
    QString jobFolder() { return emulator->addFolder(QStringLiteral("Job")); }
    void prepareUpload() { currentFolderId() = jobFolder(); }
    // Revoked: the refresh is answered without a token, which hands on the last (expired) one.
    void setToken(TokenState state) {
        emulator->setEdition(QStringLiteral("TEAM")); // no private-space requests in between
        emulator->setTokenAnswersWithoutToken(state == TokenState::Revoked);
        ZohoAuthentication::resetAccessToken();
        if (state == TokenState::Refused)
            ZohoAuthentication::handleTokenResponse(
                R"({"access_token":"1000.stale-secret","expires_in":3600})");
        if (state == TokenState::Revoked)
            ZohoAuthentication::handleTokenResponse(R"({"access_token":"1000.last-secret","expires_in":0})");
    }
    QString storedBlob(const QString&) const override {
        for (const auto& upload : emulator->uploads()) {
            if (upload.resourceId == lastUploadedFileId())
                return upload.blob;
        }
        return {};
    }
};
