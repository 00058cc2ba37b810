// Uploads one 500 MB file to the Dropbox emulator on loopback, once through the client and once
// with curl sending the same file in one request; the ratio of the two times is printed last.
#include "DropboxEmulator.h"
#include "backend/Config.h"
#include "storage/dropbox/DropBoxClientManager.h"
#include "storage/dropbox/DropboxAuth.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {
constexpr qint64 fileSize = qint64(500) * 1000 * 1000;
const QString token = QStringLiteral("sl.bench-access");

QTemporaryDir* workDir;
DropboxEmulator* emulator;
QString sourcePath;
double clientSeconds = 0;
double curlSeconds = 0;

void writeSource() {
    QFile file(sourcePath);
    file.open(QIODevice::WriteOnly);
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (qint64 done = 0; done < fileSize; done += block.size()) {
        for (int i = 0; i < block.size(); ++i)
            block[i] = char((done + i) * 2654435761u >> 13);
        file.write(block.constData(), qMin<qint64>(block.size(), fileSize - done));
    }
}

void BM_ClientUpload(benchmark::State& state) {
    for (auto _ : state) {
        DropBoxClientManager client;
        bool done = false;
        client.onFailure = [&](const QString& why) {
            state.SkipWithError(qPrintable(why));
            done = true;
        };
        const qint64 started = QDateTime::currentMSecsSinceEpoch();
        client.uploadFile(sourcePath, QStringLiteral("/Bench/client.ipa"), [&](bool) { done = true; }, {});
        while (!done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const double seconds = double(QDateTime::currentMSecsSinceEpoch() - started) / 1000.0;
        state.SetIterationTime(seconds);
        clientSeconds += seconds;
    }
    clientSeconds /= double(state.iterations());
    state.SetBytesProcessed(state.iterations() * fileSize);
}

void BM_CurlUpload(benchmark::State& state) {
    const QStringList args{QStringLiteral("-sS"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
                           QStringLiteral("-X"), QStringLiteral("POST"), QStringLiteral("-T"), sourcePath,
                           QStringLiteral("-H"), QStringLiteral("Authorization: Bearer ") + token,
                           QStringLiteral("-H"), QStringLiteral("Content-Type: application/octet-stream"),
                           QStringLiteral("-H"), QStringLiteral("Expect:"),
                           QStringLiteral("-H"), QStringLiteral(R"(Dropbox-API-Arg: {"path":"/Bench/curl.ipa","mode":"overwrite"})"),
                           emulator->baseUrl() + QStringLiteral("/2/files/upload")};
    for (auto _ : state) {
        QProcess curl;
        const qint64 started = QDateTime::currentMSecsSinceEpoch();
        curl.start(QStringLiteral("curl"), args);
        if (!curl.waitForFinished(600000) || curl.exitCode() != 0)
            state.SkipWithError("curl failed");
        const double seconds = double(QDateTime::currentMSecsSinceEpoch() - started) / 1000.0;
        state.SetIterationTime(seconds);
        curlSeconds += seconds;
    }
    curlSeconds /= double(state.iterations());
    state.SetBytesProcessed(state.iterations() * fileSize);
}

BENCHMARK(BM_ClientUpload)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_CurlUpload)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
} // namespace

int main(int argc, char** argv) {
    QTemporaryDir dir;
    workDir = &dir;
    // The bench links an account; its tokens must not land in the user's own credential file.
    qputenv("HOME", QFile::encodeName(dir.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.path() + QStringLiteral("/data")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path() + QStringLiteral("/config")));
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    QCoreApplication app(argc, argv);
    sourcePath = dir.path() + QStringLiteral("/source.ipa");
    writeSource();
    DropboxEmulator server(dir.path() + QStringLiteral("/emulator"));
    emulator = &server;
    if (!server.start())
        return 1;
    server.pointConfigHere();
    server.addAccessToken(token);
    DropboxAuth::instance().link({token, QString(), QDateTime::currentSecsSinceEpoch() + 3600});

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (clientSeconds > 0 && curlSeconds > 0)
        std::printf("client/curl throughput ratio: %.3f (client %.3f s, curl %.3f s per 500 MB)\n",
                    curlSeconds / clientSeconds, clientSeconds, curlSeconds);
    return 0;
}
