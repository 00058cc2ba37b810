#pragma once

#include "DropboxEmulator.h"
#include "support/TestSupport.h"
#include "backend/Config.h"
#include "storage/dropbox/DropBoxClientManager.h"
#include "storage/dropbox/DropboxAuth.h"
#include "storage/AuthorizedCall.h"

#include <QDateTime>
#include <QFile>
#include <QNetworkAccessManager>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

// A linked account against a fresh emulator; the client under test records every callback.
class DropboxFixture : public ::testing::Test {
protected:
    static inline const QString accessToken = QStringLiteral("sl.u.AbX9y6Fe3AuH5o66-access-secret");
    static inline const QString refreshToken = QStringLiteral("nBiM85CZALsAAAAAAAAAAQ-refresh-secret");

    void SetUp() override {
        m_dir = testsupport::makeTempDir(QStringLiteral("dropbox"));
        emulator = std::make_unique<DropboxEmulator>(m_dir + QStringLiteral("/emulator"));
        ASSERT_TRUE(emulator->start());
        emulator->pointConfigHere();
        emulator->addAccessToken(accessToken);
        emulator->setRefreshToken(refreshToken);
        DropboxAuth::instance().link({accessToken, refreshToken, QDateTime::currentSecsSinceEpoch() + 3600});
        client = std::make_unique<DropBoxClientManager>();
        client->onFailure = [this](const QString& reason) { failures.append(reason); };
    }

    void TearDown() override {
        client.reset();
        // Idle keep-alive connections would hold the emulator's workers until they time out.
        storageNetwork()->clearConnectionCache();
        emulator.reset();
        Config::instance().reload();
    }

    QString writeFile(const QString& name, const QByteArray& bytes) {
        return testsupport::writeFile(m_dir + QStringLiteral("/local/") + name, bytes);
    }

    // Runs one upload and waits for its completion or a failure.
    void upload(const QString& localPath, const QString& remotePath) {
        uploadFlags.clear();
        client->uploadFile(localPath, remotePath, [this](bool flag) { uploadFlags.push_back(flag); },
                           [this](double f) { progress.push_back(f); });
        EXPECT_TRUE(testsupport::waitUntil([&] { return !uploadFlags.empty() || !failures.isEmpty(); }, 60000));
    }

    QByteArray stored(const QString& remotePath) const {
        const QString file = emulator->storedFile(remotePath);
        return file.isEmpty() ? QByteArray() : testsupport::readFile(file);
    }

    std::unique_ptr<DropboxEmulator> emulator;
    std::unique_ptr<DropBoxClientManager> client;
    QStringList failures;
    std::vector<bool> uploadFlags;
    std::vector<double> progress;

private:
    QString m_dir;
};
