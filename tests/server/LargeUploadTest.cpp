// Self-hosted storage with a large file through the real binary: streaming keeps the server's
// memory flat, the stored bytes are exact, and a cut-off upload leaves nothing behind. On a
// bucket, two servers serve one set of files.
#include "RawSocket.h"
#include "S3Emulator.h"
#include "ServerTestUtil.h"

#include <QRandomGenerator>

namespace {

// Peak resident memory of a process, in MiB.
qint64 peakResidentMiB(qint64 pid) {
    for (const QByteArray& line :
         testsupport::readFile(QStringLiteral("/proc/%1/status").arg(pid)).split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').constFirst().toLongLong() / 1024;
    return -1;
}

int curl(const QStringList& args, QByteArray* out = nullptr) {
    QProcess p;
    p.start("curl", QStringList{"-sS", "--fail"} + args);
    if (!p.waitForFinished(600000))
        return -1;
    if (out)
        *out = p.readAllStandardOutput();
    return p.exitCode();
}

QString base(const ServerProcess& s) {
    return QStringLiteral("http://127.0.0.1:%1/").arg(s.port());
}
QString auth(const QString& dataDir) {
    return "Authorization: Bearer " +
           QString::fromLatin1(testsupport::readFile(dataDir + "/storage-token").trimmed());
}

// A gigabyte (VANTRY_TEST_UPLOAD_MIB overrides) of pseudo-random bytes, so a shifted or repeated
// block cannot go unnoticed, up through one server and down through another (or the same): both
// stream, and the copy is exact. Returns the source file.
QString roundTrip(const ServerProcess& up, const QString& upData, const ServerProcess& down,
                  const QString& downData) {
    const QString source = upData + "/source.bin";
    QFile f(source);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    const QByteArray override = qgetenv("VANTRY_TEST_UPLOAD_MIB");
    QRandomGenerator rng(7);
    QByteArray block(4 << 20, Qt::Uninitialized);
    for (qint64 written = 0; written < ((override.isEmpty() ? 1024 : override.toLongLong()) << 20);
         written += block.size()) {
        rng.fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
        f.write(block);
    }
    f.close();
    // curl asks for "100 Continue" first unless told not to: one server is asked, the other not.
    const QString expect = &up == &down ? "Expect:" : "Expect: 100-continue";
    EXPECT_EQ(curl({"-T", source, "-H", auth(upData), "-H", expect,
                    base(up) + "storage/files?path=Vantry/big/App.ipa"}),
              0);
    EXPECT_LT(peakResidentMiB(up.pid()), 100) << "the upload must stream";

    QByteArray link;
    EXPECT_EQ(curl({"-H", auth(downData), "-H", "Content-Type: application/json", "--data",
                    R"({"path":"vantry/BIG/app.ipa"})", base(down) + "storage/links"},
                   &link),
              0);
    EXPECT_TRUE(link.contains(base(down).toUtf8() + "files/Vantry/big/App.ipa")) << link.constData();
    const QString copy = downData + "/download.bin";
    EXPECT_EQ(curl({"-o", copy, base(down) + "files/Vantry/big/App.ipa"}), 0);
    EXPECT_EQ(QProcess::execute("cmp", {"-s", source, copy}), 0);
    QFile::remove(copy);
    const qint64 peak = peakResidentMiB(down.pid());
    EXPECT_GT(peak, 0);
    EXPECT_LT(peak, 100) << "the download must stream";
    return source;
}

} // namespace

TEST(LargeUpload, StreamsAGigabyteInAndOutWithFlatMemory) {
    const QString data = testsupport::makeTempDir("big");
    ServerProcess server(data);
    ASSERT_TRUE(server.waitReady()) << server.output().constData();
    const QString source = roundTrip(server, data, server, data);

    QByteArray range;
    ASSERT_EQ(curl({"-r", "1000000-1000999", base(server) + "files/Vantry/big/App.ipa"}, &range), 0);
    QFile original(source);
    ASSERT_TRUE(original.open(QIODevice::ReadOnly) && original.seek(1000000));
    EXPECT_EQ(range, original.read(1000));
    original.close();
    QFile::remove(source);

    // An upload that stops half-way: the client goes away after 8 of 64 MiB.
    {
        RawSocket socket(server.port());
        socket.send("PUT /storage/files?path=Vantry/big/Cut.ipa HTTP/1.1\r\nHost: t\r\n" +
                    auth(data).toUtf8() + "\r\nContent-Length: 67108864\r\n\r\n");
        for (int i = 0; i < 8; ++i)
            ASSERT_TRUE(socket.send(QByteArray(1 << 20, 'c')));
    }
    const QString stored = data + "/files/Vantry/big";
    EXPECT_TRUE(testsupport::waitUntil([&] { return partFiles(stored).isEmpty(); }, 15000))
        << partFiles(stored).join(' ').toStdString();
    EXPECT_FALSE(QFile::exists(stored + "/Cut.ipa"));
    EXPECT_EQ(server.terminate(), 0);
}

// Two instances on one bucket, as behind a load balancer: what one receives, the other serves.
TEST(LargeUpload, BucketGigabyteUpThroughOneServerDownThroughAnother) {
    SKIP_WITHOUT_S3_EMULATOR();
    S3Emulator s3;
    ASSERT_TRUE(s3.isRunning());
    ASSERT_TRUE(s3.createBucket("shared"));
    const QString dataA = testsupport::makeTempDir("a");
    const QString dataB = testsupport::makeTempDir("b");
    ServerProcess a(dataA, s3.arguments("shared"));
    ServerProcess b(dataB, s3.arguments("shared"));
    ASSERT_TRUE(a.waitReady()) << a.output().constData();
    ASSERT_TRUE(b.waitReady()) << b.output().constData();
    QFile::remove(roundTrip(a, dataA, b, dataB));
    EXPECT_EQ(a.terminate(), 0);
    EXPECT_EQ(b.terminate(), 0);
}
