// Self-hosted storage with a large file through the real binary: streaming keeps the server's
// memory flat, the stored bytes are exact, and a cut-off upload leaves nothing behind. On a
// bucket, two servers serve one set of files.
#include "S3Emulator.h"
#include "ServerTestUtil.h"

#include <gtest/gtest.h>

#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>
#include <QTcpSocket>

namespace {

qint64 sizeMiB() {
    const QByteArray override = qgetenv("VANTRY_TEST_UPLOAD_MIB");
    return override.isEmpty() ? 1024 : override.toLongLong();
}

// Pseudo-random bytes, so a shifted or repeated block cannot go unnoticed.
QString makeSource(const QString& path, qint64 mib) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return {};
    QRandomGenerator rng(7);
    QByteArray block(4 << 20, Qt::Uninitialized);
    for (qint64 written = 0; written < (mib << 20); written += block.size()) {
        rng.fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
        f.write(block);
    }
    return path;
}

// Peak resident memory of a process, in MiB.
qint64 peakResidentMiB(qint64 pid) {
    const QByteArray status = testsupport::readFile(QStringLiteral("/proc/%1/status").arg(pid));
    for (const QByteArray& line : status.split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').constFirst().toLongLong() / 1024;
    return -1;
}

int curl(const QStringList& args, QByteArray* out = nullptr) {
    QProcess p;
    p.start(QStringLiteral("curl"), QStringList{QStringLiteral("-sS"), QStringLiteral("--fail")} + args);
    if (!p.waitForFinished(600000))
        return -1;
    if (out)
        *out = p.readAllStandardOutput();
    return p.exitCode();
}

QStringList partialFiles(const QString& root) {
    QStringList found;
    for (QDirIterator it(root, {QStringLiteral(".upload-*")}, QDir::Files | QDir::Hidden,
                         QDirIterator::Subdirectories);
         it.hasNext();)
        found << it.next();
    return found;
}

} // namespace

TEST(LargeUpload, StreamsAGigabyteInAndOutWithFlatMemory) {
    const QString data = testsupport::makeTempDir(QStringLiteral("big"));
    ServerProcess server(data, testsupport::freePort());
    ASSERT_TRUE(server.waitReady()) << server.output().constData();
    const QString token =
        QString::fromLatin1(testsupport::readFile(data + QStringLiteral("/storage-token")).trimmed());
    const QString auth = QStringLiteral("Authorization: Bearer ") + token;
    const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(server.port());

    const QString source = makeSource(data + QStringLiteral("/source.bin"), sizeMiB());
    ASSERT_FALSE(source.isEmpty());
    ASSERT_EQ(
        curl({"-T", source, "-H", auth, "-H", "Expect:", base + "storage/files?path=Vantry/big/App.ipa"}), 0);
    const qint64 peak = peakResidentMiB(server.pid());
    EXPECT_GT(peak, 0);
    EXPECT_LT(peak, 100) << "the upload must stream to disk";

    QByteArray link;
    ASSERT_EQ(curl({"-H", auth, "-H", "Content-Type: application/json", "--data",
                    R"({"path":"Vantry/big/App.ipa"})", base + "storage/links"},
                   &link),
              0);
    EXPECT_TRUE(link.contains(base.toUtf8() + "files/Vantry/big/App.ipa")) << link.constData();

    const QString copy = data + QStringLiteral("/download.bin");
    ASSERT_EQ(curl({"-o", copy, base + "files/Vantry/big/App.ipa"}), 0);
    EXPECT_EQ(QProcess::execute(QStringLiteral("cmp"), {"-s", source, copy}), 0);
    QFile::remove(copy);
    EXPECT_LT(peakResidentMiB(server.pid()), 100) << "downloads stream from disk too";

    QByteArray range;
    ASSERT_EQ(curl({"-r", "1000000-1000999", base + "files/Vantry/big/App.ipa"}, &range), 0);
    QFile original(source);
    ASSERT_TRUE(original.open(QIODevice::ReadOnly) && original.seek(1000000));
    EXPECT_EQ(range, original.read(1000));
    original.close();
    QFile::remove(source);

    // An upload that stops half-way: the client goes away after 8 of 64 MiB.
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, server.port());
        ASSERT_TRUE(socket.waitForConnected(5000));
        socket.write("PUT /storage/files?path=Vantry/big/Cut.ipa HTTP/1.1\r\nHost: t\r\n" + auth.toUtf8() +
                     "\r\nContent-Length: 67108864\r\n\r\n");
        const QByteArray chunk(1 << 20, 'c');
        for (int i = 0; i < 8; ++i) {
            socket.write(chunk);
            socket.waitForBytesWritten(5000);
        }
        socket.abort();
    }
    const QString stored = data + QStringLiteral("/files/Vantry/big");
    EXPECT_TRUE(testsupport::waitUntil([&] { return partialFiles(stored).isEmpty(); }, 15000))
        << partialFiles(stored).join(QLatin1Char(' ')).toStdString();
    EXPECT_FALSE(QFile::exists(stored + QStringLiteral("/Cut.ipa")));
    EXPECT_EQ(server.terminate(), 0);
}

// Two instances on one bucket, as behind a load balancer: what one receives, the other serves.
TEST(LargeUpload, BucketGigabyteUpThroughOneServerDownThroughAnother) {
    SKIP_WITHOUT_S3_EMULATOR();
    S3Emulator s3;
    ASSERT_TRUE(s3.isRunning());
    ASSERT_TRUE(s3.createBucket("shared"));
    const QString dataA = testsupport::makeTempDir(QStringLiteral("a"));
    const QString dataB = testsupport::makeTempDir(QStringLiteral("b"));
    ServerProcess a(dataA, testsupport::freePort(), s3.arguments(QStringLiteral("shared")));
    ServerProcess b(dataB, testsupport::freePort(), s3.arguments(QStringLiteral("shared")));
    ASSERT_TRUE(a.waitReady()) << a.output().constData();
    ASSERT_TRUE(b.waitReady()) << b.output().constData();
    const auto auth = [](const QString& data) {
        return QStringLiteral("Authorization: Bearer ") +
               QString::fromLatin1(testsupport::readFile(data + QStringLiteral("/storage-token")).trimmed());
    };
    const auto base = [](const ServerProcess& s) {
        return QStringLiteral("http://127.0.0.1:%1/").arg(s.port());
    };

    const QString source = makeSource(dataA + QStringLiteral("/source.bin"), sizeMiB());
    ASSERT_FALSE(source.isEmpty());
    ASSERT_EQ(curl({"-T", source, "-H", auth(dataA), base(a) + "storage/files?path=Vantry/big/App.ipa"}), 0);
    EXPECT_LT(peakResidentMiB(a.pid()), 100) << "the upload must stream to the bucket in parts";

    QByteArray link;
    ASSERT_EQ(curl({"-H", auth(dataB), "-H", "Content-Type: application/json", "--data",
                    R"({"path":"vantry/BIG/app.ipa"})", base(b) + "storage/links"},
                   &link),
              0);
    EXPECT_TRUE(link.contains(base(b).toUtf8() + "files/Vantry/big/App.ipa")) << link.constData();
    const QString copy = dataB + QStringLiteral("/download.bin");
    ASSERT_EQ(curl({"-o", copy, base(b) + "files/Vantry/big/App.ipa"}), 0);
    EXPECT_EQ(QProcess::execute(QStringLiteral("cmp"), {"-s", source, copy}), 0);
    EXPECT_LT(peakResidentMiB(b.pid()), 100) << "the download must stream from the bucket";
    QFile::remove(copy);
    QFile::remove(source);
    EXPECT_EQ(a.terminate(), 0);
    EXPECT_EQ(b.terminate(), 0);
}
