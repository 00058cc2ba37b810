#include "app/ui/MainPanes.h"

#include "app/AppNotifications.h"
#include "app/ui/RightView.h"
#include "app/ui/UserProfile.h"
#include "app/ui/widgets/FlatButton.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {
// What the left side shows until the history pane is put in.
QWidget* makeLeftStandIn(MainPanes* panes) {
    auto* left = new QWidget;
    left->setObjectName(QStringLiteral("leftStandIn"));
    auto* layout = new QVBoxLayout(left);
    layout->setContentsMargins(16, 18, 16, 16);
    auto* head = new QHBoxLayout;
    auto* title = new QLabel(QStringLiteral("Your apps"), left);
    QFont f = title->font();
    f.setPixelSize(17);
    f.setWeight(QFont::DemiBold);
    title->setFont(f);
    head->addWidget(title, 1);
    layout->addLayout(head);
    layout->addStretch();
    auto* add = new FlatButton(QStringLiteral("New link"), left);
    add->setObjectName(QStringLiteral("addButton"));
    auto* settings = new FlatButton(QStringLiteral("Settings"), left);
    settings->setObjectName(QStringLiteral("settingsButton"));
    settings->setKind(FlatButton::Kind::Secondary);
    layout->addWidget(add);
    layout->addWidget(settings);
    QObject::connect(add, &QPushButton::clicked, panes, &MainPanes::addAction);
    QObject::connect(settings, &QPushButton::clicked, panes, &MainPanes::settingsAction);
    return left;
}
} // namespace

MainPanes::MainPanes(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("mainPanes"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_rightView = new RightView(this);
    setLeftView(makeLeftStandIn(this));
    layout->addWidget(m_rightView, 1);
    connect(m_rightView, &RightView::openFile, this, &MainPanes::openFile);
    connect(m_rightView, &RightView::logout, this, &MainPanes::logout);
    connect(&AppNotifications::instance(), &AppNotifications::reload, this, &MainPanes::reloadRequested);
}

void MainPanes::setLeftView(QWidget* view) {
    auto* row = static_cast<QHBoxLayout*>(layout());
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
    if (m_askedForUser)
        return;
    // The profile replaces the process-wide user each time the panes come up after sign-in.
    m_askedForUser = true;
    UserProfile::fetch(this, [this](const ZUser& user) {
        currentUser() = user;
        emit userChanged(user);
    });
}
