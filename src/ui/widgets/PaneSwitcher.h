#pragma once

#include <QPointer>
#include <QWidget>

class QParallelAnimationGroup;

// Holds one pane at a time. A new pane replaces the old one at once (pane() is the new one from
// the call on); on screen it slides in from the side and fades in over the old, which is deleted
// when the animation ends.
class PaneSwitcher : public QWidget {
    Q_OBJECT
public:
    explicit PaneSwitcher(QWidget* parent = nullptr);

    // Takes ownership of pane.
    void setPane(QWidget* pane);
    QWidget* pane() const { return m_pane; }

    // Milliseconds of a switch; 0 switches without animation.
    static void setDuration(int ms);
    static int duration();

signals:
    // After the old pane is gone and the new one has settled.
    void switched(QWidget* pane);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void finish();

    QPointer<QWidget> m_pane;
    QPointer<QWidget> m_leaving;
    QParallelAnimationGroup* m_animation = nullptr;
};
