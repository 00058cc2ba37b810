#include "ui/widgets/Spinner.h"

#include <QEasingCurve>
#include <QPainter>

#include <cmath>

Spinner::Spinner(QWidget* parent) : QWidget(parent), m_color(Qt::white) {
    m_animation.setStartValue(0.0);
    m_animation.setEndValue(1.0);
    m_animation.setDuration(1200);
    m_animation.setLoopCount(-1);
    connect(&m_animation, &QVariantAnimation::valueChanged, this, [this] { update(); });
}

void Spinner::startAnimating() {
    if (!isAnimating())
        m_animation.start();
}

void Spinner::stopAnimating() {
    m_animation.stop();
    update();
}

void Spinner::setColor(const QColor& color) {
    m_color = color;
    update();
}

void Spinner::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal t = m_animation.currentValue().toReal();
    // First half: flip about the horizontal axis (height shrinks and returns), second half: about
    // the vertical one. An eased curve makes each flip pause at the flat face.
    static const QEasingCurve ease(QEasingCurve::InOutCubic);
    const qreal half = t < 0.5 ? t * 2 : (t - 0.5) * 2;
    const qreal scale = std::abs(std::cos(ease.valueForProgress(half) * M_PI));
    const qreal side = qMin(width(), height()) * 0.6;
    const qreal w = t < 0.5 ? side : side * scale;
    const qreal h = t < 0.5 ? side * scale : side;
    p.setPen(Qt::NoPen);
    p.setBrush(m_color);
    p.drawRect(QRectF((width() - w) / 2, (height() - h) / 2, w, qMax<qreal>(h, 1)));
}
