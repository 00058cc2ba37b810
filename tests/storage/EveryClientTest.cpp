#include "StorageFixture.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFileInfo>

#include <type_traits>

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
        for (const QByteArray& line :
             testsupport::readFile(QStringLiteral("/proc/self/status")).split('\n')) {
            if (line.startsWith(name))
                return line.mid(qsizetype(strlen(name))).trimmed().split(' ').first().toLongLong() * 1024;
        }
        return -1;
    }
    qint64 growth() const { return field("VmHWM:") - m_start; }
    qint64 m_start = field("VmRSS:");
};

template <class Fixture> class EveryClient : public Fixture {};
using Fixtures = ::testing::Types<DropboxFixture, DriveFixture, WorkDriveFixture>;
TYPED_TEST_SUITE(EveryClient, Fixtures);

TYPED_TEST(EveryClient, ThreeHundredMegabytesStreamFromDiskWithSteadyProgress) {
    const qint64 size = qint64(300) * 1000 * 1000;
    const QString local = writePatternFile(this->local(QStringLiteral("large.ipa")), size);
    constexpr bool dropbox = std::is_same_v<TypeParam, DropboxFixture>;
    if constexpr (!dropbox)
        currentFolderId() = this->jobFolder();
    const PeakMemory memory;
    ASSERT_GT(PeakMemory::field("VmHWM:"), 0);
    this->upload(local, QStringLiteral("/Vantry/Job/large.ipa"), 120000);

    EXPECT_EQ(this->uploadFlags, std::vector<bool>{false});
    EXPECT_TRUE(this->failures.isEmpty());
    EXPECT_LT(memory.growth(), qint64(64) << 20);
    // Dropbox and Drive report each 8 MiB chunk, rising every time; WorkDrive's single stream
    // reports as bytes leave and may repeat a value.
    const bool chunked = !std::is_same_v<TypeParam, WorkDriveFixture>;
    const std::vector<double>& progress = this->progress;
    ASSERT_GT(progress.size(), chunked ? size_t(size / (8 << 20)) : 10u);
    EXPECT_DOUBLE_EQ(progress.back(), 1.0);
    double largestStep = progress.front();
    for (size_t i = 1; i < progress.size(); ++i) {
        EXPECT_TRUE(chunked ? progress[i] > progress[i - 1] : progress[i] >= progress[i - 1]) << i;
        largestStep = qMax(largestStep, progress[i] - progress[i - 1]);
    }
    if (chunked) {
        EXPECT_LE(largestStep, double(8 << 20) / double(size));
    }
    if constexpr (dropbox) {
        EXPECT_EQ(this->emulator->count(QStringLiteral("files/upload")), 0);
        EXPECT_EQ(this->emulator->count(QStringLiteral("files/upload_session/append_v2")),
                  int((size - 1) / (8 << 20)));
    }
    const QString stored = this->storedBlob(QStringLiteral("/Vantry/Job/large.ipa"));
    EXPECT_EQ(QFileInfo(stored).size(), size);
    EXPECT_EQ(sha256(stored), sha256(local));
    QFile::remove(local);
    QFile::remove(stored);
}

template <class Fixture> class UnlinkedClient : public Fixture {};
using LinkedFixtures = ::testing::Types<DropboxFixture, DriveFixture>;
TYPED_TEST_SUITE(UnlinkedClient, LinkedFixtures);

TYPED_TEST(UnlinkedClient, SendsAndCallsNothing) {
    this->unlink();
    int calls = 0;
    auto& client = *this->client;
    client.createFolder(QStringLiteral("/Vantry"), [&](bool) { ++calls; });
    client.uploadFile(
        this->local(QStringLiteral("a.ipa"), "x"), QStringLiteral("/a.ipa"), [&](bool) { ++calls; },
        [&](double) { ++calls; });
    client.shareLink(QStringLiteral("/a.ipa"), [&](const QString&) { ++calls; });
    client.getUserData([&](const ZUser&) { ++calls; });
    client.cancelTask();
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(this->failures.isEmpty());
    EXPECT_TRUE(this->emulator->requests().isEmpty());
}
} // namespace
