#pragma once

#include "backend/Zelko.h"
#include "records/ZUser.h"
#include "records/Zapp.h"

#include <QList>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

class QLabel;
class QListView;
class QPushButton;
class QStandardItemModel;
class QToolButton;
class LoadingIndicator;

// The left pane of the main window: the title, the settings and add buttons and the list of the
// signed-in user's published apps, newest first.
//
// The window
//  - calls refresh() when the main panes first appear: the pane asks the storage client for the
//    profile, stores it as currentUser(), shows the loading animation and fetches the apps;
//  - calls reload() on every "reload": the apps are fetched again for the user already known, so a
//    provider that does not answer for a moment leaves the list as the backend has it;
//  - switches its right pane on settingsRequested(), addRequested() and appChosen(app) (a new
//    AppDetailView for that record).
class HistoryPane : public QWidget {
    Q_OBJECT
public:
    // Delivers the signed-in user's profile, or a failure text; calls nothing once context is gone.
    using UserSource = std::function<void(QObject* context, std::function<void(const ZUser&)> onUser,
                                          std::function<void(const QString&)> onFailure)>;

    // The storage client of the selected provider (makeStorageClient) and the application backend.
    explicit HistoryPane(QWidget* parent = nullptr);
    HistoryPane(BackendApi backend, UserSource users, QWidget* parent = nullptr);
    ~HistoryPane() override;

    static UserSource storageUserSource();

    const BackendApi& backend() const { return m_backend; }
    const QList<Zapp>& apps() const { return m_apps; }
    bool isLoading() const;
    bool isUnreachable() const;
    // The centred line shown instead of rows ("No Previous Records", the unreachable server), or
    // empty while rows or the animation are shown.
    QString messageText() const;
    QListView* listView() const { return m_list; }
    QToolButton* settingsButton() const { return m_settingsButton; }
    QToolButton* addButton() const { return m_addButton; }
    QPushButton* retryButton() const { return m_retryButton; }

public slots:
    void refresh();
    // The apps of currentUser() again; without a known user, refresh().
    void reload();
    // Shows the loading animation (each refresh starts with it).
    void startLoading();
    // The fetched records: sorted, then shown one second later in place of the animation.
    void loadRecords(const QList<Zapp>& apps);

signals:
    void settingsRequested();
    void addRequested();
    void appChosen(const Zapp& app);
    // The storage provider described the signed-in account (refresh()).
    void accountRead(const ZUser& user);
    // The list (or its empty-list line) has replaced the animation.
    void recordsShown();
    // The backend did not answer within its time-out, or the storage provider could not give the
    // profile; the retry line is shown.
    void serverUnreachable();

private:
    void fetchApps(const QString& userId);
    void showUnreachable(const QString& text);
    void fillRows();
    void setMessage(const QString& text);

    BackendApi m_backend;
    UserSource m_users;
    QPointer<QObject> m_request; // the refresh in flight; deleting it drops its late answers
    QTimer m_deadline;
    QList<Zapp> m_apps;

    QToolButton* m_settingsButton = nullptr;
    QToolButton* m_addButton = nullptr;
    QListView* m_list = nullptr;
    QStandardItemModel* m_model = nullptr;
    LoadingIndicator* m_loader = nullptr;
    QLabel* m_errorLabel = nullptr;
    QWidget* m_retryLine = nullptr;
    QLabel* m_retryText = nullptr;
    QPushButton* m_retryButton = nullptr;
};
