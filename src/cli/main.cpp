#include "backend/CrashHandler.h"
#include "cli/Command.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Vantry"));
    QCoreApplication::setApplicationName(QStringLiteral("Vantry"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTRY_VERSION));
    CrashHandler::install();
    CrashHandler::collectPendingReport();

    QTextStream out(stdout);
    QTextStream err(stderr);
    return runCli(QCoreApplication::arguments(), out, err);
}
