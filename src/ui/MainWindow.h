#pragma once

#include <QMainWindow>
#include <QPointer>

#include "ui/widgets/AboutWindow.h"
class MainPanes;
class PaneSwitcher;
class QWidget;

// The one window of the desktop application. Its content is the sign-in screen or the main
// panes; each change of content slides the new one in.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);

    // Takes ownership; the previous content goes.
    void setContent(QWidget* content);
    QWidget* content() const;

    void showAboutWindow();
    AboutWindow* aboutWindow() const { return m_about; }

signals:
    void logoutRequested();
    void openRequested();

private:
    PaneSwitcher* m_switcher = nullptr;
    QPointer<AboutWindow> m_about;
};
