#include "backend/BackendStartup.h"
#include "cli/Command.h"
#include "core/CrashHandler.h"
#include "session/BackendSecrets.h"

#include <QCoreApplication>

#include <cstdio>

namespace {
// How long an exiting command still waits for the start-up requests to the backend.
constexpr int kStartupGraceMs = 3000;
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Vantry"));
    QCoreApplication::setApplicationName(QStringLiteral("Vantry"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTRY_VERSION));
    CrashHandler::install();

    const QStringList args = QCoreApplication::arguments();
    // Help, version and usage errors answer at once, without the backend.
    const bool runsCommand =
        args.size() >= 2 && !args.at(1).startsWith(QLatin1Char('-')) && args.at(1) != QLatin1String("help");
    if (runsCommand) {
        keepBackendSecretsInCredentialStore();
    }
    // Only publishing talks to the backend; every other command works without the network, so
    // only it checks the version and sends a stored crash report.
    const bool publishes = args.size() >= 2 && args.at(1) == QLatin1String("publish");
    if (publishes) {
        // --quiet leaves nothing but the link, not even this notice.
        const bool quiet = args.contains(QStringLiteral("--quiet"));
        BackendStartup::run([quiet](const QString& serverVersion) {
            if (quiet)
                return;
            std::fprintf(stderr, "vantry-cli: New Version available: %s (this is %s)\n",
                         qPrintable(serverVersion), VANTRY_VERSION);
        });
    }

    QTextStream out(stdout);
    QTextStream err(stderr);
    const int status = runCli(args, out, err);
    if (publishes)
        BackendStartup::waitForRequests(kStartupGraceMs);
    return status;
}
