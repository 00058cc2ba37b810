#pragma once

#include <QColor>
#include <QVariantAnimation>
#include <QWidget>

// The indeterminate activity indicator: a square that keeps flipping, first about its horizontal
// axis and then about its vertical one.
class Spinner : public QWidget {
    Q_OBJECT
public:
    explicit Spinner(QWidget* parent = nullptr);

    void startAnimating();
    void stopAnimating();
    bool isAnimating() const { return m_animation.state() == QAbstractAnimation::Running; }

    QColor color() const { return m_color; }
    void setColor(const QColor& color);

    QSize sizeHint() const override { return {36, 36}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVariantAnimation m_animation;
    QColor m_color;
};
