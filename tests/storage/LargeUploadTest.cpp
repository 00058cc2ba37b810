#include "DriveEmulator.h"
#include "DropboxFixture.h"
#include "WorkDriveEmulator.h"
#include "storage/KeychainHelper.h"
#include "storage/zoho/ZohoAuthentication.h"
#include "storage/zoho/ZohoWDClient.h"
#include "storage/drive/DriveClientManager.h"
#include "storage/drive/GoogleAuth.h"

#include <QCryptographicHash>
#include <QFileInfo>

namespace {
// Writes `size` bytes of a position-dependent pattern in 1 MiB pieces, so that a chunk sent at a
// wrong offset cannot go unnoticed and the file never sits in memory.
QString writePatternFile(const QString& path, qint64 size) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (qint64 written = 0; written < size; written += block.size()) {
        quint64 x = quint64(written) * 0x9E3779B97F4A7C15ull + 1;
        for (int i = 0; i < block.size(); i += 8) {
            x ^= x << 13, x ^= x >> 7, x ^= x << 17;
            memcpy(block.data() + i, &x, 8);
        }
        file.write(block.constData(), qMin<qint64>(block.size(), size - written));
    }
    return path;
}

QByteArray sha256(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result();
}

// Peak resident memory from here on, in bytes (the kernel's high-water mark is reset first).
struct PeakMemory {
    PeakMemory() { testsupport::writeFile(QStringLiteral("/proc/self/clear_refs"), "5"); }
    static qint64 field(const char* name) {
        for (const QByteArray& line : testsupport::readFile(QStringLiteral("/proc/self/status")).split('\n')) {
            if (line.startsWith(name))
                return line.mid(qsizetype(strlen(name))).trimmed().split(' ').first().toLongLong() * 1024;
        }
        return -1;
    }
    qint64 growth() const { return field("VmHWM:") - m_start; }
    qint64 m_start = field("VmRSS:");
};

void expectSteady(const std::vector<double>& progress, qint64 size, qint64 chunk) {
    ASSERT_GT(progress.size(), size_t(size / chunk));
    EXPECT_DOUBLE_EQ(progress.back(), 1.0);
    double largestStep = progress.front();
    for (size_t i = 1; i < progress.size(); ++i) {
        EXPECT_GT(progress[i], progress[i - 1]);
        largestStep = qMax(largestStep, progress[i] - progress[i - 1]);
    }
    EXPECT_LE(largestStep, double(chunk) / double(size));
}

using DropboxLargeUpload = DropboxFixture;

TEST_F(DropboxLargeUpload, ThreeHundredMegabytesGoThroughASessionWithSteadyProgress) {
    const qint64 size = qint64(300) * 1000 * 1000;
    const QString local = writePatternFile(testsupport::makeTempDir(QStringLiteral("large")) + QStringLiteral("/large.ipa"), size);
    const PeakMemory memory;
    ASSERT_GT(PeakMemory::field("VmHWM:"), 0);
    upload(local, QStringLiteral("/Vantry/Job/large.ipa"));

    EXPECT_EQ(uploadFlags, std::vector<bool>{false});
    EXPECT_LT(memory.growth(), qint64(64) << 20);
    EXPECT_EQ(emulator->count(QStringLiteral("files/upload")), 0);
    EXPECT_EQ(emulator->count(QStringLiteral("files/upload_session/append_v2")), int((size - 1) / (8 << 20)));
    expectSteady(progress, size, 8 << 20);
    const QString stored = emulator->storedFile(QStringLiteral("/Vantry/Job/large.ipa"));
    EXPECT_EQ(QFileInfo(stored).size(), size);
    EXPECT_EQ(sha256(stored), sha256(local));
    QFile::remove(local);
    QFile::remove(stored);
}

TEST(DriveLargeUpload, ThreeHundredMegabytesStreamInChunksWithSteadyProgress) {
    const QString dir = testsupport::makeTempDir(QStringLiteral("drive-large"));
    DriveEmulator emulator(dir + QStringLiteral("/emulator"));
    ASSERT_TRUE(emulator.start());
    emulator.pointConfigHere();
    emulator.addAccessToken(QStringLiteral("ya29.large"));
    GoogleAuth::instance().link({QStringLiteral("ya29.large"), QString(), 0});
    currentFolderId() = emulator.addItem(QStringLiteral("Job"), true);
    const qint64 size = qint64(300) * 1000 * 1000;
    const QString local = writePatternFile(dir + QStringLiteral("/large.ipa"), size);

    std::vector<double> progress;
    std::vector<bool> flags;
    const PeakMemory memory;
    {
        DriveClientManager client;
        client.uploadFile(local, QStringLiteral("/Vantry/Job/large.ipa"), [&](bool f) { flags.push_back(f); },
                          [&](double f) { progress.push_back(f); });
        ASSERT_TRUE(testsupport::waitUntil([&] { return !flags.empty(); }, 120000));
    }
    EXPECT_LT(memory.growth(), qint64(64) << 20);
    EXPECT_EQ(flags, std::vector<bool>{false});
    expectSteady(progress, size, 8 << 20);
    const auto file = emulator.item(lastUploadedFileId());
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(sha256(file->blob), sha256(local));
    storageNetwork()->clearConnectionCache();
    QFile::remove(local);
    QFile::remove(file->blob);
    Config::instance().reload();
}
TEST(WorkDriveLargeUpload, ThreeHundredMegabytesStreamFromDisk) {
    const QString dir = testsupport::makeTempDir(QStringLiteral("workdrive-large"));
    WorkDriveEmulator emulator(dir + QStringLiteral("/emulator"));
    ASSERT_TRUE(emulator.start());
    emulator.pointConfigHere();
    emulator.setRefreshToken(QStringLiteral("1000.large"));
    KeychainHelper().save(ZohoAuthentication::refreshTokenService, KeychainHelper::accountName, QStringLiteral("1000.large"));
    ZohoAuthentication::resetAccessToken();
    Config::instance().set(QStringLiteral("zoho/settleMilliseconds"), QStringLiteral("10"));
    currentUser().id = WorkDriveEmulator::userId;
    currentFolderId() = emulator.addFolder(QStringLiteral("Job"));
    const qint64 size = qint64(300) * 1000 * 1000;
    const QString local = writePatternFile(dir + QStringLiteral("/large.ipa"), size);

    std::vector<double> progress;
    std::vector<bool> flags;
    const PeakMemory memory;
    {
        ZohoWDClient client;
        client.uploadFile(local, QStringLiteral("/Vantry/Job/large.ipa"), [&](bool f) { flags.push_back(f); },
                          [&](double f) { progress.push_back(f); });
        ASSERT_TRUE(testsupport::waitUntil([&] { return !flags.empty(); }, 120000));
    }
    EXPECT_LT(memory.growth(), qint64(64) << 20);
    EXPECT_EQ(flags, std::vector<bool>{false});
    ASSERT_GT(progress.size(), 10u);
    EXPECT_FLOAT_EQ(float(progress.back()), 1.0f);
    for (size_t i = 1; i < progress.size(); ++i)
        EXPECT_GE(progress[i], progress[i - 1]);
    ASSERT_EQ(emulator.uploads().size(), 1);
    EXPECT_EQ(lastUploadedFileId(), emulator.uploads().first().resourceId);
    EXPECT_EQ(sha256(emulator.uploads().first().blob), sha256(local));
    storageNetwork()->clearConnectionCache();
    QFile::remove(local);
    QFile::remove(emulator.uploads().first().blob);
    Config::instance().reload();
}
} // namespace
