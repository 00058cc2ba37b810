#include "DropboxFixture.h"

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

using DropboxLargeUpload = DropboxFixture;

TEST_F(DropboxLargeUpload, ThreeHundredMegabytesGoThroughASessionWithSteadyProgress) {
    const qint64 size = qint64(300) * 1000 * 1000;
    const QString local = writePatternFile(testsupport::makeTempDir(QStringLiteral("large")) + QStringLiteral("/large.ipa"), size);
    upload(local, QStringLiteral("/Vantry/Job/large.ipa"));

    EXPECT_EQ(uploadFlags, std::vector<bool>{false});
    EXPECT_EQ(emulator->count(QStringLiteral("files/upload")), 0);
    EXPECT_EQ(emulator->count(QStringLiteral("files/upload_session/append_v2")), int((size - 1) / (8 << 20)));
    ASSERT_GT(progress.size(), 36u);
    EXPECT_DOUBLE_EQ(progress.back(), 1.0);
    double largestStep = progress.front();
    for (size_t i = 1; i < progress.size(); ++i) {
        EXPECT_GT(progress[i], progress[i - 1]);
        largestStep = qMax(largestStep, progress[i] - progress[i - 1]);
    }
    EXPECT_LE(largestStep, double(8 << 20) / double(size));
    const QString stored = emulator->storedFile(QStringLiteral("/Vantry/Job/large.ipa"));
    EXPECT_EQ(QFileInfo(stored).size(), size);
    EXPECT_EQ(sha256(stored), sha256(local));
    QFile::remove(local);
    QFile::remove(stored);
}
} // namespace
