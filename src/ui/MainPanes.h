#pragma once

#include "records/ZUser.h"
#include "ui/PackageIntake.h"

#include <QPointer>
#include <QWidget>

class HistoryPane;
class RightView;

// The main panes: the history on the left, and on the right the create pane, the settings pane
// or the details of one app.
class MainPanes : public QWidget {
    Q_OBJECT
public:
    explicit MainPanes(QWidget* parent = nullptr);

    QWidget* leftView() const { return m_leftView; }
    RightView* rightView() const { return m_rightView; }
    HistoryPane* history() const { return m_history; }
    // Takes ownership; replaces whatever is on the left.
    void setLeftView(QWidget* view);

public slots:
    void settingsAction();
    void addAction();
    void showDetail(QWidget* detail);

signals:
    // A package to publish, from the drop target or the open panel.
    void openFile(const QString& path, PackageIntake::Kind kind);
    void logout();
    // The signed-in account as the provider described it when the panes first appeared.
    void userChanged(const ZUser& user);
    // A job went back home: the history should fetch the apps again.
    void reloadRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* m_leftView = nullptr;
    HistoryPane* m_history = nullptr;
    RightView* m_rightView = nullptr;
    bool m_askedForUser = false;
};
