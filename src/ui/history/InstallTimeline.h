#pragma once

#include <QList>
#include <QWidget>

// Installs per day as thin columns, oldest on the left, today on the right.
class InstallTimeline : public QWidget {
    Q_OBJECT
public:
    explicit InstallTimeline(QWidget* parent = nullptr);
    void setDays(const QList<int>& perDay);
    const QList<int>& days() const { return m_days; }
    QSize sizeHint() const override { return {280, 36}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QList<int> m_days;
};
