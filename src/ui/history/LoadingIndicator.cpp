#include "ui/history/LoadingIndicator.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace {

QPainterPath gear(QPointF centre, double outer, double inner, double hole, int teeth) {
    QPainterPath path;
    const double step = 2 * M_PI / teeth;
    for (int i = 0; i < teeth; ++i) {
        const double a = i * step;
        const QPointF p1 = centre + QPointF(std::cos(a), std::sin(a)) * inner;
        const QPointF p2 = centre + QPointF(std::cos(a + step * 0.15), std::sin(a + step * 0.15)) * outer;
        const QPointF p3 = centre + QPointF(std::cos(a + step * 0.45), std::sin(a + step * 0.45)) * outer;
        const QPointF p4 = centre + QPointF(std::cos(a + step * 0.6), std::sin(a + step * 0.6)) * inner;
        if (i == 0)
            path.moveTo(p1);
        else
            path.lineTo(p1);
        path.lineTo(p2);
        path.lineTo(p3);
        path.lineTo(p4);
    }
    path.closeSubpath();
    path.addEllipse(centre, hole, hole);
    path.setFillRule(Qt::OddEvenFill);
    return path;
}

} // namespace

LoadingIndicator::LoadingIndicator(QWidget* parent) : QWidget(parent) {
    setFixedSize(100, 100);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_animation.setStartValue(0.0);
    m_animation.setEndValue(360.0);
    m_animation.setDuration(2400);
    m_animation.setLoopCount(-1);
    connect(&m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        m_angle = v.toDouble();
        update();
    });
}

void LoadingIndicator::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const QColor colour = palette().color(QPalette::Highlight);

    p.save();
    p.translate(40, 40);
    p.rotate(m_angle);
    p.setBrush(colour);
    p.drawPath(gear({0, 0}, 30, 23, 9, 10));
    p.restore();

    p.save();
    p.translate(72, 72);
    p.rotate(-m_angle * 10 / 7 + 13);
    p.setBrush(colour.lighter(140));
    p.drawPath(gear({0, 0}, 21, 15, 6, 7));
    p.restore();
}
