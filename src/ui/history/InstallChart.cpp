#include "ui/history/InstallChart.h"
#include "ui/widgets/Palette.h"

#include <QPainter>

#include <algorithm>

namespace {
constexpr int BarHeight = 14;
constexpr int BarGap = 8;
constexpr int LabelWidth = 110;
} // namespace

InstallChart::InstallChart(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void InstallChart::setBreakdown(const InstallBreakdown& breakdown) {
    m_bars = breakdown.lines.mid(0, MaxBars);
    int rest = 0;
    for (qsizetype i = MaxBars; i < breakdown.lines.size(); ++i)
        rest += breakdown.lines.at(i).count;
    if (rest > 0)
        m_bars.append({QStringLiteral("Other"), rest});
    updateGeometry();
    update();
}

QSize InstallChart::sizeHint() const {
    return {280, int(m_bars.size()) * (BarHeight + BarGap)};
}

void InstallChart::paintEvent(QPaintEvent*) {
    if (m_bars.isEmpty())
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QFont f = font();
    f.setPointSizeF(10);
    p.setFont(f);
    const QFontMetrics fm(f);
    int most = 1;
    for (const auto& bar : m_bars)
        most = std::max(most, bar.count);
    const int countWidth = fm.horizontalAdvance(QString::number(most)) + 8;
    const int track = std::max(20, width() - LabelWidth - countWidth);
    const QColor barColour = QColor::fromRgbF(0.227f, 0.341f, 0.604f);
    int y = 0;
    for (const auto& bar : m_bars) {
        const QString label = bar.key.trimmed().isEmpty() ? QStringLiteral("Unknown") : bar.key.trimmed();
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(QRect(0, y, LabelWidth - 8, BarHeight), Qt::AlignRight | Qt::AlignVCenter,
                   fm.elidedText(label, Qt::ElideRight, LabelWidth - 8));
        const int length = std::max(3, track * bar.count / most);
        p.setPen(Qt::NoPen);
        p.setBrush(Palette::track(palette()));
        p.drawRoundedRect(QRectF(LabelWidth, y + 1, track, BarHeight - 2), 4, 4);
        p.setBrush(barColour);
        p.drawRoundedRect(QRectF(LabelWidth, y + 1, length, BarHeight - 2), 4, 4);
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(QRect(LabelWidth + track + 6, y, countWidth, BarHeight), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::number(bar.count));
        y += BarHeight + BarGap;
    }
}
