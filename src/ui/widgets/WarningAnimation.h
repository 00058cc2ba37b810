#pragma once

#include <QVariantAnimation>
#include <QWidget>

// A looping warning sign: an amber triangle with an exclamation mark that breathes while rings
// spread out from it. Shown when a job was cancelled.
class WarningAnimation : public QWidget {
    Q_OBJECT
public:
    explicit WarningAnimation(QWidget* parent = nullptr);

    void play();
    void stop();
    bool isPlaying() const { return m_animation.state() == QAbstractAnimation::Running; }

    QSize sizeHint() const override { return {100, 100}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVariantAnimation m_animation;
};
