#include "app/ui/MainWindow.h"
#include "backend/CrashHandler.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Vantry"));
    QApplication::setApplicationName(QStringLiteral("Vantry"));
    QApplication::setApplicationVersion(QStringLiteral(VANTRY_VERSION));
    CrashHandler::install();
    CrashHandler::collectPendingReport();

    MainWindow window;
    window.show();
    return app.exec();
}
