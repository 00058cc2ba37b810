#include "backend/BackendStartup.h"
#include "backend/Zelko.h"
#include "core/CrashHandler.h"
#include "session/BackendSecrets.h"
#include "session/SignInState.h"
#include "session/SingleInstance.h"
#include "session/UrlHandlerRegistration.h"
#include "storage/BrowserSignIn.h"
#include "ui/AppShell.h"
#include "ui/MainWindow.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include <cstdio>
#include <cstring>

namespace {
void showNewVersionAlert(QWidget* parent) {
    auto* alert = new QMessageBox(parent);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setIcon(QMessageBox::Information);
    alert->setWindowTitle(QStringLiteral("Vantry"));
    alert->setText(QStringLiteral("New version available"));
    alert->setInformativeText(QStringLiteral("Vantry has just got even smoother with this latest update."));
    QPushButton* update = alert->addButton(QStringLiteral("Update"), QMessageBox::AcceptRole);
    alert->addButton(QStringLiteral("Ignore"), QMessageBox::RejectRole);
    alert->setDefaultButton(update);
    QObject::connect(update, &QPushButton::clicked,
                     [] { QDesktopServices::openUrl(QUrl(Zelko::baseURL())); });
    // Not modal to the start: the window is usable while the notice waits.
    alert->show();
}
} // namespace

int main(int argc, char** argv) {
    // Answered before the window system is asked for, so it works without a display (packaging checks).
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("vantry %s\n", VANTRY_VERSION);
            return 0;
        }
    }
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Vantry"));
    QApplication::setApplicationName(QStringLiteral("Vantry"));
    QApplication::setApplicationVersion(QStringLiteral(VANTRY_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("vantry"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/vantry.svg")));
    CrashHandler::install();

    const QStringList args = QApplication::arguments().mid(1);
    if (args.contains(QStringLiteral("--register-url-handler"))) {
        const QString problem = registerUrlHandler(QApplication::applicationFilePath());
        if (!problem.isEmpty())
            std::fprintf(stderr, "vantry: %s\n", qPrintable(problem));
        return problem.isEmpty() ? 0 : 1;
    }
    // The desktop starts "vantry URL" for a sign-in callback and "vantry PACKAGE" (a path or a
    // file URL) for a package opened with Vantry; the running window takes them instead. Paths
    // travel as file URLs, since the running window has another working folder.
    QStringList opened;
    for (const QString& arg : args) {
        if (arg.startsWith(QLatin1Char('-')))
            continue;
        opened.append(arg.contains(QStringLiteral("://"))
                          ? arg
                          : QUrl::fromLocalFile(QFileInfo(arg).absoluteFilePath()).toString());
    }
    if (!opened.isEmpty() && SingleInstance::sendToRunning(opened))
        return 0;
    BrowserSignIn::setPageOpener([](const QUrl& url) { return QDesktopServices::openUrl(url); });
    SingleInstance instance;
    instance.listen();

    Theme::apply(app, Theme::systemScheme());
    new Theme::Follower(app);
    keepBackendSecretsInCredentialStore();
    AppShell shell;
    QObject::connect(&instance, &SingleInstance::urlReceived, &shell, &AppShell::open);
    // The version check and a stored crash report go out first; their answers come when they come.
    BackendStartup::run([&shell](const QString&) { showNewVersionAlert(shell.window()); });
    if (restoreSignIn() != SignedInProvider::None)
        shell.showMainPanes();
    else
        shell.showLoginPane();
    shell.window()->show();
    QTimer::singleShot(0, &shell, [&shell, opened] {
        for (const QString& argument : opened)
            shell.open(argument);
    });
    return app.exec();
}
