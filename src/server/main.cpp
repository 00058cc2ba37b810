#include "backend/CrashHandler.h"

#include <QCommandLineParser>
#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Vantry"));
    QCoreApplication::setApplicationName(QStringLiteral("vantry-server"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTRY_VERSION));
    CrashHandler::install();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("The Vantry backend: app records, install pages and tracking."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(app);
    return 0;
}
