#include "ui/AppShell.h"

#include "core/Log.h"
#include "session/SignInState.h"
#include "session/UrlRouter.h"
#include "ui/JobSheet.h"
#include "ui/LoginController.h"
#include "ui/LoginView.h"
#include "ui/MainPanes.h"
#include "ui/MainWindow.h"
#include "ui/RightView.h"

#include <QFileInfo>

#include <utility>

AppShell::AppShell(QObject* parent) : QObject(parent), m_window(new MainWindow) {
    m_window->setAttribute(Qt::WA_DeleteOnClose, false);
    connect(m_window, &MainWindow::logoutRequested, this, &AppShell::logout);
    connect(m_window, &MainWindow::openRequested, this, [this] {
        if (MainPanes* panes = mainPanes())
            panes->rightView()->browseFile();
    });
}

AppShell::~AppShell() {
    delete m_window;
}

LoginController* AppShell::loginController() const {
    return qobject_cast<LoginController*>(m_window->content());
}

LoginView* AppShell::loginView() const {
    LoginController* login = loginController();
    return login ? login->loginView() : nullptr;
}

MainPanes* AppShell::mainPanes() const {
    return qobject_cast<MainPanes*>(m_window->content());
}

void AppShell::showLoginPane() {
    auto* login = new LoginController;
    connect(login, &LoginController::signedIn, this, [this] {
        showMainPanes();
        // The browser had the user's attention; the window takes it back.
        m_window->raise();
        m_window->activateWindow();
    });
    m_window->setContent(login);
    emit contentChanged();
}

void AppShell::showMainPanes() {
    auto* panes = new MainPanes;
    connect(panes, &MainPanes::openFile, this, &AppShell::openFile);
    connect(panes, &MainPanes::logout, this, &AppShell::logout);
    m_window->setContent(panes);
    emit contentChanged();
    if (const auto waiting = std::exchange(m_waitingPackage, std::nullopt))
        openFile(waiting->path, *waiting->kind);
}

void AppShell::open(const QString& argument) {
    const QUrl url(argument);
    if (!url.isLocalFile() && argument.contains(QLatin1String("://"))) {
        routeURL(argument);
        return;
    }
    const QString path = url.isLocalFile() ? url.toLocalFile() : argument;
    const PackageIntake::Verdict verdict = PackageIntake::judgePath(QFileInfo(path).absoluteFilePath());
    if (!verdict.kind) {
        logLine(QStringLiteral("Not opened: ") + verdict.reason);
        return;
    }
    if (mainPanes()) {
        openFile(verdict.path, *verdict.kind);
        return;
    }
    m_waitingPackage = verdict;
    m_window->raise();
    m_window->activateWindow();
}

void AppShell::logout() {
    QPointer<AppShell> guard(this);
    signOut([guard] {
        if (!guard)
            return;
        guard->showLoginPane();
        guard->m_window->show();
    });
}

void AppShell::openFile(const QString& path, PackageIntake::Kind kind) {
    if (m_sheet)
        return; // one job at a time; the sheet is modal, so this is a second drop racing the first
    m_sheet = new JobSheet(m_window, QUrl::fromLocalFile(path), kind);
    m_sheet->setAttribute(Qt::WA_DeleteOnClose);
    m_sheet->present();
}
