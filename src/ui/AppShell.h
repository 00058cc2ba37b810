#pragma once

#include "ui/PackageIntake.h"

#include <QObject>
#include <QPointer>

#include <optional>

#include "ui/JobSheet.h"
class MainPanes;
class MainWindow;
class LoginController;
class LoginView;

// What sits between the desktop and the panes: the main window and what it shows (the sign-in
// screen or the main panes), sign-out, and the job sheet of a package to publish.
class AppShell : public QObject {
    Q_OBJECT
public:
    explicit AppShell(QObject* parent = nullptr);
    ~AppShell() override;

    MainWindow* window() const { return m_window; }
    LoginController* loginController() const;
    LoginView* loginView() const;
    MainPanes* mainPanes() const;
    JobSheet* jobSheet() const { return m_sheet; }

    void showLoginPane();
    void showMainPanes();
    // Signs out of the selected provider and returns to the sign-in screen once that is settled.
    void logout();
    // Opens a package's job sheet over the main panes.
    void openFile(const QString& path, PackageIntake::Kind kind);
    // What the desktop hands to the program ("vantry ARGUMENT", from its own command line or
    // through the running window): a package (a local path or file URL) starts its job as a
    // drop does, after the sign-in when nobody is signed in yet; any other URL is a sign-in
    // callback (routeURL).
    void open(const QString& argument);

signals:
    void contentChanged();

private:
    MainWindow* m_window = nullptr;
    QPointer<JobSheet> m_sheet;
    std::optional<PackageIntake::Verdict> m_waitingPackage; // opened before the sign-in
};
