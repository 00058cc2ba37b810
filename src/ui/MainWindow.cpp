#include "ui/MainWindow.h"

#include "ui/widgets/AboutWindow.h"
#include "ui/widgets/PaneSwitcher.h"

#include <QApplication>
#include <QIcon>
#include <QKeySequence>
#include <QMenuBar>

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Vantry"));
    setWindowIcon(QIcon(QStringLiteral(":/images/vantry.svg")));
    setMinimumSize(760, 480);
    resize(920, 600);
    m_switcher = new PaneSwitcher(this);
    setCentralWidget(m_switcher);

    QMenu* app = menuBar()->addMenu(QStringLiteral("&Vantry"));
    QAction* open = app->addAction(QStringLiteral("&Open Package…"), this, &MainWindow::openRequested);
    open->setShortcut(QKeySequence::Open);
    app->addSeparator();
    app->addAction(QStringLiteral("&Logout"), this, &MainWindow::logoutRequested);
    app->addSeparator();
    QAction* quit = app->addAction(QStringLiteral("&Quit"), qApp, &QApplication::closeAllWindows);
    quit->setShortcut(QKeySequence::Quit);
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(QStringLiteral("&About Vantry"), this, &MainWindow::showAboutWindow);
}

void MainWindow::setContent(QWidget* content) {
    m_switcher->setPane(content);
}

QWidget* MainWindow::content() const {
    return m_switcher->pane();
}

void MainWindow::showAboutWindow() {
    if (!m_about) {
        m_about = new AboutWindow(this);
        m_about->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}
