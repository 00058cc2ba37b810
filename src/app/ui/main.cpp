#include "app/ui/MainWindow.h"
#include "backend/BackendStartup.h"
#include "backend/Zelko.h"
#include "core/CrashHandler.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

namespace {
void showNewVersionAlert() {
    QMessageBox alert;
    alert.setIcon(QMessageBox::Warning);
    alert.setText(QStringLiteral("New Version available"));
    alert.setInformativeText(QStringLiteral("Vantry has just got even smoother with this latest update."));
    QPushButton* update = alert.addButton(QStringLiteral("Update"), QMessageBox::AcceptRole);
    alert.addButton(QStringLiteral("Ignore"), QMessageBox::RejectRole);
    alert.setDefaultButton(update);
    alert.exec();
    if (alert.clickedButton() == update)
        QDesktopServices::openUrl(QUrl(Zelko::baseURL()));
}
} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Vantry"));
    QApplication::setApplicationName(QStringLiteral("Vantry"));
    QApplication::setApplicationVersion(QStringLiteral(VANTRY_VERSION));
    CrashHandler::install();
    BackendStartup::run([](const QString&) { showNewVersionAlert(); });

    MainWindow window;
    window.show();
    return app.exec();
}
