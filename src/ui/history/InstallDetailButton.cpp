#include "ui/history/InstallDetailButton.h"

#include <QGraphicsDropShadowEffect>
#include <QLabel>

#include <algorithm>

InstallDetailButton::InstallDetailButton(QWidget* host, QWidget* parent) : QToolButton(parent), m_host(host) {
    setText(QStringLiteral("i"));
    setToolTip(QStringLiteral("Installs by operating system"));
    setAutoRaise(true);
    setFixedSize(22, 22);
    setStyleSheet(QStringLiteral("QToolButton { border: 1.5px solid rgb(58,87,154); border-radius: 11px;"
                                 " color: rgb(58,87,154); font-weight: bold; font-style: italic; }"));
    connect(this, &QToolButton::clicked, this, &InstallDetailButton::toggle);
}

bool InstallDetailButton::isPopoverShown() const {
    return m_popover && m_popover->isVisibleTo(m_host);
}

QString InstallDetailButton::popoverText() const {
    return m_popover ? m_popover->text() : QString();
}

void InstallDetailButton::toggle() {
    if (!m_host)
        return;
    if (!m_popover) {
        m_popover = new QLabel(m_textSource ? m_textSource() : m_contentText, m_host);
        m_popover->setObjectName(QStringLiteral("installPopover"));
        m_popover->setTextInteractionFlags(Qt::TextSelectableByMouse);
        m_popover->setStyleSheet(
            QStringLiteral("QLabel { background: palette(base); color: palette(text);"
                           " border-radius: 8px; border: 1px solid palette(mid); padding: 10px 14px; }"));
        auto* shadow = new QGraphicsDropShadowEffect(m_popover);
        shadow->setBlurRadius(18);
        shadow->setOffset(0, 3);
        shadow->setColor(QColor(0, 0, 0, 70));
        m_popover->setGraphicsEffect(shadow);
        m_popover->hide();
    }
    if (m_popover->isVisibleTo(m_host)) {
        m_popover->hide();
        emit popoverToggled(false);
        return;
    }
    m_popover->adjustSize();
    const QPoint rightEdge = mapTo(m_host, QPoint(width() + 6, height() / 2));
    // Beside the right edge, kept inside the pane when the button sits near its border.
    const int x = std::max(0, std::min(rightEdge.x(), m_host->width() - m_popover->width()));
    const int y = std::max(
        0, std::min(rightEdge.y() - m_popover->height() / 2, m_host->height() - m_popover->height()));
    m_popover->move(x, y);
    m_popover->show();
    m_popover->raise();
    emit popoverToggled(true);
}
