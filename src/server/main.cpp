#include "core/CrashHandler.h"
#include "core/Log.h"
#include "server/Backup.h"
#include "server/Database.h"
#include "server/ResetSecret.h"
#include "server/VantryServer.h"
#include "server/pages/QrSvg.h"
#include "server/storage/ObjectStore.h"

#include <QCoreApplication>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <pthread.h>

#include <systemd/sd-daemon.h>

int main(int argc, char** argv) {
    // Block the stop and reload signals before any thread starts, so every worker inherits the
    // mask and only sigwait below sees them (an unhandled SIGHUP would end the process).
    sigset_t handled;
    sigemptyset(&handled);
    sigaddset(&handled, SIGINT);
    sigaddset(&handled, SIGTERM);
    sigaddset(&handled, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &handled, nullptr);
    // A peer that closes its end must end only that connection, never the server.
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Vantry"));
    QCoreApplication::setApplicationName(QStringLiteral("vantry-server"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTRY_VERSION));
    CrashHandler::install();

    QString text;
    int exitCode = 0;
    const std::optional<ServerOptions> options =
        ServerOptions::parse(QCoreApplication::arguments().mid(1), &text, &exitCode);
    if (!options) {
        std::fputs(qPrintable(text + QLatin1Char('\n')), exitCode == 0 ? stdout : stderr);
        return exitCode;
    }

    if (!options->resetSecretOf.isEmpty() || options->backup) {
        const int status = options->backup ? runBackup(*options, &text) : runResetSecret(*options, &text);
        std::fputs(qPrintable(text + QLatin1Char('\n')), status == 0 ? stdout : stderr);
        return status;
    }

    ServerOptions serverOptions = *options;
    serverOptions.qrRenderer = installPageQrSvg;
    QString error;
    std::unique_ptr<VantryServer> server = VantryServer::start(serverOptions, &error);
    if (!server) {
        std::fprintf(stderr, "vantry-server: %s\n", qPrintable(error));
        return 1;
    }
    logLine(QStringLiteral(
                "vantry-server %1 listening on %2 (public URL %3, data in %4, database %5, files in %6)")
                .arg(QStringLiteral(VANTRY_VERSION), server->localUrl(), server->publicUrl(),
                     options->dataDir, Database::displayUrl(options->databaseUrl()),
                     QString::fromStdString(server->objectStore().describe())));
    if (server->httpPort() >= 0)
        logLine(QStringLiteral("vantry-server: plain HTTP on %1:%2 (ACME challenges, a redirect to %3)")
                    .arg(options->httpHost)
                    .arg(server->httpPort())
                    .arg(server->publicUrl()));

    // Under systemd (Type=notify) the unit counts as started once the socket listens.
    sd_notify(0, "READY=1");

    int signal = 0;
    // SIGHUP: a renewed certificate (a renewal hook's reload); the server goes on either way.
    while (sigwait(&handled, &signal) == 0 && signal == SIGHUP) {
        const auto since = std::chrono::steady_clock::now().time_since_epoch(); // CLOCK_MONOTONIC
        sd_notifyf(
            0, "RELOADING=1\nMONOTONIC_USEC=%lld",
            static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(since).count()));
        if (options->tlsCert.isEmpty())
            logLine(QStringLiteral("vantry-server: SIGHUP: nothing to reload"));
        else if (server->reloadTls(&error))
            logLine(QStringLiteral("vantry-server: TLS certificate reloaded"));
        else
            logLine(QStringLiteral("vantry-server: TLS certificate not reloaded, the previous one stays: %1")
                        .arg(error));
        sd_notify(0, "READY=1");
    }
    sd_notify(0, "STOPPING=1");
    logLine(QStringLiteral("vantry-server stopping (%1)")
                .arg(signal == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM")));
    server->stop();
    server.reset();
    logLine(QStringLiteral("vantry-server stopped"));
    return 0;
}
