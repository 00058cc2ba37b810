#pragma once

#include <QVariantAnimation>
#include <QWidget>

// A looping loading animation: two counter-rotating toothed rings, 100 × 100, painted here so it
// needs no animation player or resource.
class LoadingIndicator : public QWidget {
    Q_OBJECT
public:
    explicit LoadingIndicator(QWidget* parent = nullptr);
    bool isPlaying() const { return m_animation.state() == QAbstractAnimation::Running; }
    void play() { m_animation.start(); }
    void stop() { m_animation.stop(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVariantAnimation m_animation;
    double m_angle = 0;
};
