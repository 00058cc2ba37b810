#pragma once

#include "app/StatusSink.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

class FlatButton;
class QLabel;
class QFrame;
class QProgressBar;
class Spinner;
#include "ui/widgets/WarningAnimation.h"

// The content of a job's sheet: the step's title and detail, a spinner or a progress bar with its
// percentage while work runs, and the link's QR code with "Copy to Clipboard" and "Go to home" at
// the end. It holds no job logic: the job reports every step through the status sink and takes
// the three buttons' clicks as its own actions.
class ProcessView : public QWidget, public StatusSink {
    Q_OBJECT
public:
    explicit ProcessView(QWidget* parent = nullptr);

    // Shows title and detail, and the controls of state.
    void setStatus(const QString& title, const QString& detail, ProcessState state) override;
    void setProgress(const QString& percentageText, double value) override;
    void setResultImage(const QImage& image) override;
    // A desktop notification (the freedesktop service; nothing where none runs).
    void postNotification(const QString& title, const QString& body) override;
    // The link as plain text on the system clipboard, replacing whatever was there.
    void copyToClipboard(const QString& text) override;
    void dismiss() override { emit dismissRequested(); }

    ProcessState state() const { return m_state; }
    void setSpinnerColor(const QColor& color);

    QLabel* titleLabel() const { return m_titleLabel; }
    QFrame* lineView() const { return m_lineView; }
    QLabel* detailLabel() const { return m_detailLabel; }
    QLabel* percentageLabel() const { return m_percentageLabel; }
    QProgressBar* processLoadingIndicator() const { return m_progress; }
    Spinner* loadingIndicator() const { return m_spinner; }
    FlatButton* leftButton() const { return m_leftButton; }
    FlatButton* rightButton() const { return m_rightButton; }
    FlatButton* cancelButton() const { return m_cancelButton; }
    QLabel* imageView() const { return m_imageView; }
    WarningAnimation* simpleLoaderView() const { return m_simpleLoaderView; }

    QSize sizeHint() const override { return {550, 350}; }

signals:
    void leftClicked();
    void rightClicked();
    void cancelClicked();
    // The job is done with its sheet.
    void dismissRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void showWarning();
    void removeWarning();

    ProcessState m_state = ProcessState::preparing;
    QLabel* m_titleLabel = nullptr;
    QFrame* m_lineView = nullptr;
    QLabel* m_detailLabel = nullptr;
    QLabel* m_percentageLabel = nullptr;
    QProgressBar* m_progress = nullptr;
    Spinner* m_spinner = nullptr;
    FlatButton* m_leftButton = nullptr;
    FlatButton* m_rightButton = nullptr;
    FlatButton* m_cancelButton = nullptr;
    QLabel* m_imageView = nullptr;
    QPointer<WarningAnimation> m_simpleLoaderView;
    QPoint m_dragOffset;
};
