#include "ui/widgets/WarningAnimation.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace {
const QColor amber(0xf5, 0xb0, 0x2e);

QPainterPath triangle(const QPointF& centre, qreal side) {
    const qreal h = side * std::sqrt(3.0) / 2;
    QPainterPath path;
    path.moveTo(centre.x(), centre.y() - h * 2 / 3);
    path.lineTo(centre.x() + side / 2, centre.y() + h / 3);
    path.lineTo(centre.x() - side / 2, centre.y() + h / 3);
    path.closeSubpath();
    return path;
}
} // namespace

WarningAnimation::WarningAnimation(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_animation.setStartValue(0.0);
    m_animation.setEndValue(1.0);
    m_animation.setDuration(1600);
    m_animation.setLoopCount(-1);
    connect(&m_animation, &QVariantAnimation::valueChanged, this, [this] { update(); });
}

void WarningAnimation::play() {
    if (!isPlaying())
        m_animation.start();
}

void WarningAnimation::stop() {
    m_animation.stop();
    update();
}

void WarningAnimation::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal t = m_animation.currentValue().toReal();
    const qreal side = qMin(width(), height());
    const QPointF centre(width() / 2.0, height() / 2.0 + side * 0.04);

    // Two rings, half a period apart, grow from the sign and fade out.
    for (const qreal phase : {t, std::fmod(t + 0.5, 1.0)}) {
        QColor ring = amber;
        ring.setAlphaF(float(0.55 * (1 - phase)));
        p.setPen(QPen(ring, side * 0.03));
        p.setBrush(Qt::NoBrush);
        const qreal r = side * (0.26 + 0.22 * phase);
        p.drawEllipse(QPointF(width() / 2.0, height() / 2.0), r, r);
    }

    const qreal breathe = 1 + 0.06 * std::sin(t * 2 * M_PI);
    const qreal triSide = side * 0.5 * breathe;
    QPen edge(amber.darker(115), side * 0.035);
    edge.setJoinStyle(Qt::RoundJoin);
    p.setPen(edge);
    p.setBrush(amber);
    p.drawPath(triangle(centre, triSide));

    const qreal h = triSide * std::sqrt(3.0) / 2;
    const QColor mark(0x2b, 0x20, 0x0c);
    p.setPen(Qt::NoPen);
    p.setBrush(mark);
    const qreal barW = triSide * 0.1;
    p.drawRoundedRect(QRectF(centre.x() - barW / 2, centre.y() - h * 0.38, barW, h * 0.42), barW / 2,
                      barW / 2);
    p.drawEllipse(QPointF(centre.x(), centre.y() + h * 0.19), barW * 0.6, barW * 0.6);
}
