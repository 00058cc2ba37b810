#include "ui/widgets/PaneSwitcher.h"

#include <QGraphicsOpacityEffect>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>

namespace {
int g_duration = 220;
}

PaneSwitcher::PaneSwitcher(QWidget* parent) : QWidget(parent) {}

void PaneSwitcher::setDuration(int ms) {
    g_duration = qMax(0, ms);
}

int PaneSwitcher::duration() {
    return g_duration;
}

void PaneSwitcher::setPane(QWidget* pane) {
    if (m_animation) {
        // A switch during a switch: the first one ends at once.
        m_animation->stop();
        finish();
    }
    m_leaving = m_pane;
    m_pane = pane;
    if (!pane) {
        finish();
        return;
    }
    pane->setParent(this);
    pane->setGeometry(rect());
    pane->show();
    pane->raise();
    if (g_duration == 0 || !isVisible() || !m_leaving) {
        finish();
        return;
    }

    auto* fade = new QGraphicsOpacityEffect(pane);
    pane->setGraphicsEffect(fade);
    m_animation = new QParallelAnimationGroup(this);
    auto* slide = new QPropertyAnimation(pane, "pos", m_animation);
    slide->setStartValue(QPoint(width() / 4, 0));
    slide->setEndValue(QPoint(0, 0));
    slide->setDuration(g_duration);
    slide->setEasingCurve(QEasingCurve::OutCubic);
    auto* opacity = new QPropertyAnimation(fade, "opacity", m_animation);
    opacity->setStartValue(0.0);
    opacity->setEndValue(1.0);
    opacity->setDuration(g_duration);
    connect(m_animation, &QAbstractAnimation::finished, this, &PaneSwitcher::finish);
    m_animation->start();
}

void PaneSwitcher::finish() {
    if (m_animation) {
        m_animation->deleteLater();
        m_animation = nullptr;
    }
    if (m_leaving && m_leaving != m_pane)
        delete m_leaving.data();
    m_leaving = nullptr;
    if (m_pane) {
        // Effects stay out of the settled pane: nested opacity effects break its painting.
        m_pane->setGraphicsEffect(nullptr);
        m_pane->setGeometry(rect());
    }
    emit switched(m_pane);
}

void PaneSwitcher::resizeEvent(QResizeEvent*) {
    if (m_pane && !m_animation)
        m_pane->setGeometry(rect());
    if (m_leaving)
        m_leaving->setGeometry(rect());
}
