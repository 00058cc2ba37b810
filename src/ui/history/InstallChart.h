#pragma once

#include "history/InstallBreakdown.h"

#include <QWidget>

// Horizontal bars of the install breakdown, largest first; the first few systems, the rest summed.
class InstallChart : public QWidget {
    Q_OBJECT
public:
    static constexpr int MaxBars = 5;

    explicit InstallChart(QWidget* parent = nullptr);
    void setBreakdown(const InstallBreakdown& breakdown);
    // The bars as drawn: label and count, "Other" last when the rest is summed.
    const QList<InstallBreakdown::Line>& bars() const { return m_bars; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QList<InstallBreakdown::Line> m_bars;
};
