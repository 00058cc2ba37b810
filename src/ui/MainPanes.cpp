#include "ui/MainPanes.h"

#include "ui/RightView.h"
#include "ui/history/AppDetailView.h"
#include "ui/history/HistoryPane.h"

#include "core/NotificationCenter.h"

#include <QHBoxLayout>
#include <QShowEvent>

#include <utility>

MainPanes::MainPanes(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("mainPanes"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_rightView = new RightView(this);
    m_history = new HistoryPane;
    setLeftView(m_history);
    connect(m_history, &HistoryPane::settingsRequested, this, &MainPanes::settingsAction);
    connect(m_history, &HistoryPane::addRequested, this, &MainPanes::addAction);
    connect(m_history, &HistoryPane::appChosen, this,
            [this](const Zapp& app) { showDetail(new AppDetailView(app)); });
    connect(this, &MainPanes::reloadRequested, m_history, &HistoryPane::reload);
    connect(m_history, &HistoryPane::accountRead, this, &MainPanes::userChanged);
    layout->addWidget(m_rightView, 1);
    connect(m_rightView, &RightView::openFile, this, &MainPanes::openFile);
    connect(m_rightView, &RightView::logout, this, &MainPanes::logout);
    NotificationCenter::instance().observe(QStringLiteral("reload"), this,
                                           [this](const QVariantMap&) { emit reloadRequested(); });
}

void MainPanes::setLeftView(QWidget* view) {
    auto* row = static_cast<QHBoxLayout*>(layout());
    if (m_leftView == m_history && view != m_history)
        m_history = nullptr;
    delete m_leftView;
    m_leftView = view;
    view->setParent(this);
    view->setMinimumWidth(240);
    view->setMaximumWidth(320);
    view->setAutoFillBackground(true);
    view->setBackgroundRole(QPalette::AlternateBase);
    row->insertWidget(0, view);
}

void MainPanes::settingsAction() {
    m_rightView->showSettings();
}

void MainPanes::addAction() {
    m_rightView->showCreate();
}

void MainPanes::showDetail(QWidget* detail) {
    m_rightView->showDetail(detail);
}

void MainPanes::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_history || event->spontaneous())
        return;
    // The account is read when the panes first appear (it replaces the process-wide user); later
    // appearances fetch the apps of the user already known.
    if (std::exchange(m_askedForUser, true))
        m_history->reload();
    else
        m_history->refresh();
}
