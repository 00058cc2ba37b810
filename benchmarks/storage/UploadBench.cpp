// Uploads one 500 MB file to the Dropbox, Drive and WorkDrive emulators on loopback, through the
// clients and with curl sending the same file in one request; the ratios of the times are printed last.
#include "DriveEmulator.h"
#include "DropBoxEmulator.h"
#include "WorkDriveEmulator.h"
#include "core/Config.h"
#include "storage/KeychainHelper.h"
#include "storage/drive/DriveClientManager.h"
#include "storage/drive/GoogleAuth.h"
#include "storage/dropbox/DropBoxAuth.h"
#include "storage/dropbox/DropBoxClientManager.h"
#include "storage/zoho/ZohoAuthentication.h"
#include "storage/zoho/ZohoWDClient.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <vector>

namespace {
constexpr qint64 fileSize = qint64(500) * 1000 * 1000;
const QString token = QStringLiteral("sl.bench-access");

DropBoxEmulator* dropbox;
DriveEmulator* drive;
WorkDriveEmulator* workDrive;
QString sourcePath;
std::map<std::string, std::vector<double>> seconds; // per benchmark name

// The page cache's write-back stalls whichever writer it meets, so single runs vary a lot on a
// shared machine; the ratios compare medians.
double median(const std::string& name) {
    std::vector<double> v = seconds[name];
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

// Times `run` once per iteration under `name`, then removes what the emulator stored.
void timed(benchmark::State& state, const std::string& name, const std::function<bool()>& run,
           const std::function<void()>& cleanup = {}) {
    for (auto _ : state) {
        const qint64 started = QDateTime::currentMSecsSinceEpoch();
        if (!run())
            state.SkipWithError("upload failed");
        const double s = double(QDateTime::currentMSecsSinceEpoch() - started) / 1000.0;
        state.SetIterationTime(s);
        seconds[name].push_back(s);
        if (cleanup)
            cleanup();
    }
    state.SetBytesProcessed(state.iterations() * fileSize);
}

template <class Client> bool clientUpload() {
    Client client;
    bool done = false;
    bool failed = false;
    client.onFailure = [&](const QString&) { failed = done = true; };
    client.uploadFile(sourcePath, QStringLiteral("/Bench/client.ipa"), [&](bool) { done = true; }, {});
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return !failed;
}

bool curl(const QStringList& args, QByteArray* out = nullptr) {
    QProcess process;
    process.start(QStringLiteral("curl"), QStringList{QStringLiteral("-sS")} + args);
    const bool ok = process.waitForFinished(600000) && process.exitCode() == 0;
    if (out)
        *out = process.readAllStandardOutput();
    return ok;
}

QStringList curlPost(const QString& auth, const QStringList& headers, const QString& url) {
    QStringList args{QStringLiteral("-o"), QStringLiteral("/dev/null"),
                     QStringLiteral("-X"), QStringLiteral("POST"),
                     QStringLiteral("-T"), sourcePath,
                     QStringLiteral("-H"), auth,
                     QStringLiteral("-H"), QStringLiteral("Expect:")};
    for (const QString& header : headers)
        args << QStringLiteral("-H") << header;
    return args << url;
}

void removeDriveBlobs() {
    for (const auto& item : drive->items())
        QFile::remove(item.blob);
}

void removeWorkDriveBlobs() {
    for (const auto& upload : workDrive->uploads())
        QFile::remove(upload.blob);
}

// state.range(0): 0 uploads through an upload session (the default for files over 150 MiB), 1 sends
// the whole file in one request, as curl does.
void BM_ClientUpload(benchmark::State& state) {
    const bool oneRequest = state.range(0) == 1;
    Config::instance().set(ConfigKey::DropboxSingleUploadLimitBytes,
                           oneRequest ? QString::number(fileSize) : QStringLiteral("157286400"));
    timed(state, oneRequest ? "dropbox-one-request" : "dropbox", clientUpload<DropBoxClientManager>);
}

void BM_CurlUpload(benchmark::State& state) {
    const QStringList args =
        curlPost(QStringLiteral("Authorization: Bearer ") + token,
                 {QStringLiteral("Content-Type: application/octet-stream"),
                  QStringLiteral(R"(Dropbox-API-Arg: {"path":"/Bench/curl.ipa","mode":"overwrite"})")},
                 dropbox->baseUrl() + QStringLiteral("/2/files/upload"));
    timed(state, "dropbox-curl", [&] { return curl(args); });
}

void BM_DriveClientUpload(benchmark::State& state) {
    timed(state, "drive", clientUpload<DriveClientManager>, removeDriveBlobs);
}

// curl opens a resumable session, then sends the whole file in one PUT (only the PUT is timed).
void BM_DriveCurlUpload(benchmark::State& state) {
    const QString auth = QStringLiteral("Authorization: Bearer ") + token;
    for (auto _ : state) {
        QByteArray headers;
        curl({QStringLiteral("-D"), QStringLiteral("-"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
              QStringLiteral("-H"), auth, QStringLiteral("-H"),
              QStringLiteral("Content-Type: application/json; charset=UTF-8"), QStringLiteral("--data"),
              QStringLiteral(R"({"name":"curl.ipa"})"),
              drive->baseUrl() + QStringLiteral("/upload/drive/v3/files?uploadType=resumable")},
             &headers);
        QString location;
        for (const QByteArray& line : headers.split('\n')) {
            if (line.toLower().startsWith("location:"))
                location = QString::fromUtf8(line.mid(9).trimmed());
        }
        const qint64 started = QDateTime::currentMSecsSinceEpoch();
        if (location.isEmpty() ||
            !curl({QStringLiteral("-o"), QStringLiteral("/dev/null"), QStringLiteral("-T"), sourcePath,
                   QStringLiteral("-H"), auth, QStringLiteral("-H"), QStringLiteral("Expect:"),
                   QStringLiteral("-H"),
                   QStringLiteral("Content-Range: bytes 0-%1/%2").arg(fileSize - 1).arg(fileSize), location}))
            state.SkipWithError("curl failed");
        const double s = double(QDateTime::currentMSecsSinceEpoch() - started) / 1000.0;
        state.SetIterationTime(s);
        seconds["drive-curl"].push_back(s);
        removeDriveBlobs();
    }
    state.SetBytesProcessed(state.iterations() * fileSize);
}

void BM_WorkDriveClientUpload(benchmark::State& state) {
    timed(state, "workdrive", clientUpload<ZohoWDClient>, removeWorkDriveBlobs);
}

void BM_WorkDriveCurlUpload(benchmark::State& state) {
    const QStringList args =
        curlPost(QStringLiteral("Authorization: Zoho-oauthtoken ") + token,
                 {QStringLiteral("x-filename: curl.ipa"),
                  QStringLiteral("upload-id: curl") + QString::number(QDateTime::currentMSecsSinceEpoch())},
                 workDrive->baseUrl() + QStringLiteral("/upload"));
    timed(
        state, "workdrive-curl", [&] { return curl(args); }, removeWorkDriveBlobs);
}

BENCHMARK(BM_WorkDriveClientUpload)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_WorkDriveCurlUpload)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_DriveClientUpload)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_DriveCurlUpload)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ClientUpload)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_CurlUpload)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void printRatio(const char* label, const std::string& client, const std::string& curlName) {
    if (median(client) > 0 && median(curlName) > 0)
        std::printf("%s client/curl throughput ratio: %.3f (median client %.3f s, curl %.3f s per 500 MB)\n",
                    label, median(curlName) / median(client), median(client), median(curlName));
}
} // namespace

int main(int argc, char** argv) {
    QTemporaryDir dir;
    // The bench links accounts; their tokens must not land in the user's own credential file.
    qputenv("HOME", QFile::encodeName(dir.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.path() + QStringLiteral("/data")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path() + QStringLiteral("/config")));
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    QCoreApplication app(argc, argv);
    sourcePath = dir.path() + QStringLiteral("/source.ipa");
    writeSource();
    DropBoxEmulator dropboxServer(dir.path() + QStringLiteral("/emulator"));
    DriveEmulator driveServer(dir.path() + QStringLiteral("/drive"));
    WorkDriveEmulator workDriveServer(dir.path() + QStringLiteral("/workdrive"));
    dropbox = &dropboxServer;
    drive = &driveServer;
    workDrive = &workDriveServer;
    for (EmulatorServer* server : std::initializer_list<EmulatorServer*>{dropbox, drive, workDrive}) {
        if (!server->start())
            return 1;
        server->pointConfigHere();
        server->addAccessToken(token);
    }
    DropBoxAuth::instance().link({token, QString(), QDateTime::currentSecsSinceEpoch() + 3600});
    GoogleAuth::instance().link({token, QString(), 0});
    // Timed from the upload to its result, without WorkDrive's settling pause in between.
    Config::instance().set(ConfigKey::ZohoSettleMilliseconds, QStringLiteral("0"));
    currentUser().id = WorkDriveEmulator::userId;
    // A linked account (the client checks for its refresh token); the cached access token is the
    // bench token, so no refresh is sent.
    KeychainHelper().save(ZohoAuthentication::refreshTokenService, KeychainHelper::accountName,
                          QStringLiteral("bench-refresh"));
    ZohoAuthentication::handleTokenResponse(QByteArray("{\"access_token\":\"") + token.toUtf8() +
                                            "\",\"expires_in\":3600}");

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printRatio("Dropbox (session)", "dropbox", "dropbox-curl");
    printRatio("Dropbox (one request)", "dropbox-one-request", "dropbox-curl");
    printRatio("WorkDrive", "workdrive", "workdrive-curl");
    printRatio("Drive", "drive", "drive-curl");
    return 0;
}
