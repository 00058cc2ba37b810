#include "app/ui/AppShell.h"

#include "app/ui/JobSheet.h"
#include "app/ui/LoginView.h"
#include "app/ui/MainPanes.h"
#include "app/ui/MainWindow.h"
#include "app/ui/RightView.h"
#include "core/Log.h"
#include "core/Preferences.h"

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

LoginView* AppShell::loginView() const {
    return qobject_cast<LoginView*>(m_window->content());
}

MainPanes* AppShell::mainPanes() const {
    return qobject_cast<MainPanes*>(m_window->content());
}

void AppShell::showLoginPane() {
    auto* login = new LoginView;
    m_window->setContent(login);
    emit contentChanged();
}

void AppShell::showMainPanes() {
    auto* panes = new MainPanes;
    connect(panes, &MainPanes::openFile, this, &AppShell::openFile);
    connect(panes, &MainPanes::logout, this, &AppShell::logout);
    m_window->setContent(panes);
    emit contentChanged();
}

void AppShell::logout() {
    logLine(QStringLiteral("logout"));
    Preferences::setFlag(Preferences::isDrive, false);
    Preferences::setFlag(Preferences::isDropBox, false);
    Preferences::setFlag(Preferences::isZoho, false);
    showLoginPane();
    m_window->show();
}

void AppShell::openFile(const QString& path, PackageIntake::Kind kind) {
    if (m_sheet)
        return; // one job at a time; the sheet is modal, so this is a second drop racing the first
    m_sheet = new JobSheet(m_window, QUrl::fromLocalFile(path), kind);
    m_sheet->setAttribute(Qt::WA_DeleteOnClose);
    m_sheet->present();
}
