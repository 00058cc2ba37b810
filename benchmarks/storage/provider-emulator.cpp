// provider-emulator dropbox|drive|workdrive STORAGE_DIR
// Runs one provider emulator on a free loopback port for scripts (benchmarks/storage/wan.sh): links
// the provider's account in the credential store of this HOME, as a sign-in would, prints the
// port, and serves until SIGINT or SIGTERM.
#include "DriveEmulator.h"
#include "DropBoxEmulator.h"
#include "WorkDriveEmulator.h"
#include "storage/KeychainHelper.h"
#include "storage/drive/GoogleAuth.h"
#include "storage/dropbox/DropBoxAuth.h"
#include "storage/zoho/ZohoAuthentication.h"

#include <QCoreApplication>
#include <QDateTime>

#include <csignal>
#include <cstdio>
#include <memory>

int main(int argc, char** argv) {
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString kind = args.value(1);
    std::unique_ptr<EmulatorServer> emulator;
    if (kind == QLatin1String("dropbox"))
        emulator = std::make_unique<DropBoxEmulator>(args.value(2));
    else if (kind == QLatin1String("drive"))
        emulator = std::make_unique<DriveEmulator>(args.value(2));
    else if (kind == QLatin1String("workdrive"))
        emulator = std::make_unique<WorkDriveEmulator>(args.value(2));
    if (!emulator || args.size() != 3) {
        std::fprintf(stderr, "usage: provider-emulator dropbox|drive|workdrive STORAGE_DIR\n");
        return 2;
    }
    if (!emulator->start())
        return 1;
    const QString access = QStringLiteral("emulated-access-token");
    const QString refresh = QStringLiteral("emulated-refresh-token");
    emulator->addAccessToken(access);
    emulator->setRefreshToken(refresh);
    const OAuthTokens tokens{access, refresh, QDateTime::currentSecsSinceEpoch() + 3600};
    if (kind == QLatin1String("dropbox"))
        DropBoxAuth::instance().link(tokens);
    else if (kind == QLatin1String("drive"))
        GoogleAuth::instance().link(tokens);
    else
        KeychainHelper().save(ZohoAuthentication::refreshTokenService, KeychainHelper::accountName, refresh);
    std::printf("%u\n", unsigned(emulator->port()));
    std::fflush(stdout);
    int received = 0;
    sigwait(&stops, &received);
    emulator->stop();
    return 0;
}
