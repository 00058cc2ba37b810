#include "app/ui/AppShell.h"
#include "app/ui/MainWindow.h"
#include "app/ui/Theme.h"
#include "backend/BackendStartup.h"
#include "backend/Zelko.h"
#include "core/CrashHandler.h"
#include "core/Preferences.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

namespace {
void showNewVersionAlert(QWidget* parent) {
    QMessageBox alert(parent);
    alert.setIcon(QMessageBox::Information);
    alert.setWindowTitle(QStringLiteral("Vantry"));
    alert.setText(QStringLiteral("New version available"));
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
    QApplication::setDesktopFileName(QStringLiteral("vantry"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/vantry.svg")));
    CrashHandler::install();
    Theme::apply(app, Theme::systemScheme());
    new Theme::Follower(app);

    AppShell shell;
    BackendStartup::run([&shell](const QString&) { showNewVersionAlert(shell.window()); });
    const bool signedIn = Preferences::flag(Preferences::isDropBox) ||
                          Preferences::flag(Preferences::isDrive) || Preferences::flag(Preferences::isZoho);
    if (signedIn)
        shell.showMainPanes();
    else
        shell.showLoginPane();
    shell.window()->show();
    return app.exec();
}
