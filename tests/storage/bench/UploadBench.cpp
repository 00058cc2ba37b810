// Uploads one 500 MB file to the Dropbox and Drive emulators on loopback, through the clients
// and with curl sending the same file in one request; the ratios of the times are printed last.
#include "DriveEmulator.h"
#include "DropboxEmulator.h"
#include "WorkDriveEmulator.h"
#include "storage/KeychainHelper.h"
#include "storage/zoho/ZohoAuthentication.h"
#include "storage/zoho/ZohoWDClient.h"
#include "backend/Config.h"
#include "storage/dropbox/DropBoxClientManager.h"
#include "storage/dropbox/DropboxAuth.h"
#include "storage/drive/DriveClientManager.h"
#include "storage/drive/GoogleAuth.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
constexpr qint64 fileSize = qint64(500) * 1000 * 1000;
const QString token = QStringLiteral("sl.bench-access");

QTemporaryDir* workDir;
DropboxEmulator* emulator;
DriveEmulator* drive;
WorkDriveEmulator* workDrive;
std::vector<double> workDriveSeconds;
std::vector<double> workDriveCurlSeconds;
std::vector<double> driveSeconds;
std::vector<double> driveCurlSeconds;
QString sourcePath;
std::vector<double> clientSeconds;
std::vector<double> clientOneRequestSeconds;
std::vector<double> curlSeconds;

// The page cache's write-back stalls whichever writer it meets, so single runs vary a lot on a
// shared machine; the ratio compares medians.
double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

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

// state.range(0): 0 uploads through 8 MiB session chunks (the default for files over 150 MiB),
// 1 sends the whole file in one request, as curl does.
void BM_ClientUpload(benchmark::State& state) {
    const bool oneRequest = state.range(0) == 1;
    Config::instance().set(QStringLiteral("dropbox/singleUploadLimitBytes"),
                           oneRequest ? QString::number(fileSize) : QStringLiteral("157286400"));
    std::vector<double>& times = oneRequest ? clientOneRequestSeconds : clientSeconds;
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
        times.push_back(seconds);
    }
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
        curlSeconds.push_back(seconds);
    }
    state.SetBytesProcessed(state.iterations() * fileSize);
}

void BM_DriveClientUpload(benchmark::State& state) {
    for (auto _ : state) {
        DriveClientManager client;
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
        driveSeconds.push_back(seconds);
        if (const auto file = drive->item(lastUploadedFileId()))
            QFile::remove(file->blob);
    }
    state.SetBytesProcessed(state.iterations() * fileSize);
}

// curl opens a resumable session, then sends the whole file in one PUT (only the PUT is timed).
void BM_DriveCurlUpload(benchmark::State& state) {
    const QString auth = QStringLiteral("Authorization: Bearer ") + token;
    for (auto _ : state) {
        QProcess open;
        open.start(QStringLiteral("curl"), {QStringLiteral("-sS"), QStringLiteral("-D"), QStringLiteral("-"), QStringLiteral("-o"),
                                            QStringLiteral("/dev/null"), QStringLiteral("-H"), auth, QStringLiteral("-H"),
                                            QStringLiteral("Content-Type: application/json; charset=UTF-8"), QStringLiteral("--data"),
                                            QStringLiteral(R"({"name":"curl.ipa"})"),
                                            drive->baseUrl() + QStringLiteral("/upload/drive/v3/files?uploadType=resumable")});
        open.waitForFinished(60000);
        QString location;
        for (const QByteArray& line : open.readAllStandardOutput().split('\n')) {
            if (line.toLower().startsWith("location:"))
                location = QString::fromUtf8(line.mid(9).trimmed());
        }
        QProcess curl;
        const qint64 started = QDateTime::currentMSecsSinceEpoch();
        curl.start(QStringLiteral("curl"),
                   {QStringLiteral("-sS"), QStringLiteral("-o"), QStringLiteral("/dev/null"), QStringLiteral("-T"), sourcePath,
                    QStringLiteral("-H"), auth, QStringLiteral("-H"), QStringLiteral("Expect:"), QStringLiteral("-H"),
                    QStringLiteral("Content-Range: bytes 0-%1/%2").arg(fileSize - 1).arg(fileSize), location});
        if (location.isEmpty() || !curl.waitForFinished(600000) || curl.exitCode() != 0)
            state.SkipWithError("curl failed");
        const double seconds = double(QDateTime::currentMSecsSinceEpoch() - started) / 1000.0;
        state.SetIterationTime(seconds);
        driveCurlSeconds.push_back(seconds);
        for (const auto& item : drive->items())
            QFile::remove(item.blob);
    }
    state.SetBytesProcessed(state.iterations() * fileSize);
}

void BM_WorkDriveClientUpload(benchmark::State& state) {
    for (auto _ : state) {
        ZohoWDClient client;
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
        workDriveSeconds.push_back(seconds);
        for (const auto& upload : workDrive->uploads())
            QFile::remove(upload.blob);
    }
    state.SetBytesProcessed(state.iterations() * fileSize);
}

void BM_WorkDriveCurlUpload(benchmark::State& state) {
    const QStringList args{QStringLiteral("-sS"), QStringLiteral("-o"), QStringLiteral("/dev/null"), QStringLiteral("-X"),
                           QStringLiteral("POST"), QStringLiteral("-T"), sourcePath, QStringLiteral("-H"),
                           QStringLiteral("Authorization: Zoho-oauthtoken ") + token, QStringLiteral("-H"), QStringLiteral("Expect:"),
                           QStringLiteral("-H"), QStringLiteral("x-filename: curl.ipa"), QStringLiteral("-H"),
                           QStringLiteral("upload-id: curl") + QString::number(QDateTime::currentMSecsSinceEpoch()),
                           workDrive->baseUrl() + QStringLiteral("/upload")};
    for (auto _ : state) {
        QProcess curl;
        const qint64 started = QDateTime::currentMSecsSinceEpoch();
        curl.start(QStringLiteral("curl"), args);
        if (!curl.waitForFinished(600000) || curl.exitCode() != 0)
            state.SkipWithError("curl failed");
        const double seconds = double(QDateTime::currentMSecsSinceEpoch() - started) / 1000.0;
        state.SetIterationTime(seconds);
        workDriveCurlSeconds.push_back(seconds);
        for (const auto& upload : workDrive->uploads())
            QFile::remove(upload.blob);
    }
    state.SetBytesProcessed(state.iterations() * fileSize);
}

BENCHMARK(BM_WorkDriveClientUpload)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_WorkDriveCurlUpload)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_DriveClientUpload)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_DriveCurlUpload)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ClientUpload)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_CurlUpload)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
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
    DriveEmulator driveServer(dir.path() + QStringLiteral("/drive"));
    drive = &driveServer;
    if (!driveServer.start())
        return 1;
    driveServer.pointConfigHere();
    driveServer.addAccessToken(token);
    GoogleAuth::instance().link({token, QString(), 0});
    WorkDriveEmulator workDriveServer(dir.path() + QStringLiteral("/workdrive"));
    workDrive = &workDriveServer;
    if (!workDriveServer.start())
        return 1;
    workDriveServer.pointConfigHere();
    workDriveServer.addAccessToken(token);
    // Timed from the upload to its result, without WorkDrive's settling pause in between.
    Config::instance().set(QStringLiteral("zoho/settleMilliseconds"), QStringLiteral("0"));
    currentUser().id = WorkDriveEmulator::userId;
    // The client's cached access token is the bench token.
    ZohoAuthentication::handleTokenResponse(QByteArray("{\"access_token\":\"") + token.toUtf8() + "\",\"expires_in\":3600}");

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const double client = median(clientSeconds);
    const double curl = median(curlSeconds);
    if (client > 0 && curl > 0)
        std::printf("client/curl throughput ratio: %.3f through the session, %.3f in one request "
                    "(median client %.3f s and %.3f s, curl %.3f s per 500 MB)\n",
                    curl / client, curl / median(clientOneRequestSeconds), client, median(clientOneRequestSeconds), curl);
    if (median(workDriveSeconds) > 0 && median(workDriveCurlSeconds) > 0)
        std::printf("WorkDrive client/curl throughput ratio: %.3f (median client %.3f s, curl %.3f s per 500 MB)\n",
                    median(workDriveCurlSeconds) / median(workDriveSeconds), median(workDriveSeconds), median(workDriveCurlSeconds));
    if (median(driveSeconds) > 0 && median(driveCurlSeconds) > 0)
        std::printf("Drive client/curl throughput ratio: %.3f (median client %.3f s, curl %.3f s per 500 MB)\n",
                    median(driveCurlSeconds) / median(driveSeconds), median(driveSeconds), median(driveCurlSeconds));
    return 0;
}
