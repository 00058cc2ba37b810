#include "ui/history/InstallTimeline.h"
#include "ui/widgets/Palette.h"

#include <QPainter>

#include <algorithm>

InstallTimeline::InstallTimeline(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void InstallTimeline::setDays(const QList<int>& perDay) {
    m_days = perDay;
    update();
}

void InstallTimeline::paintEvent(QPaintEvent*) {
    if (m_days.isEmpty())
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const int most = std::max(1, *std::max_element(m_days.cbegin(), m_days.cend()));
    const double slot = double(width()) / m_days.size();
    const double bar = std::max(2.0, slot * 0.7);
    const int baseline = height() - 2;
    p.fillRect(QRect(0, baseline, width(), 1), Palette::hairline(palette()));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor::fromRgbF(0.227f, 0.341f, 0.604f));
    for (qsizetype i = 0; i < m_days.size(); ++i) {
        if (m_days.at(i) == 0)
            continue;
        const double h = std::max(2.0, double(baseline - 2) * m_days.at(i) / most);
        p.drawRoundedRect(QRectF(i * slot + (slot - bar) / 2, baseline - h, bar, h), 1.5, 1.5);
    }
}
