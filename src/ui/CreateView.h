#pragma once

#include "ui/PackageIntake.h"

#include <QWidget>

class FlatButton;
class QLabel;

// The drop target of the create pane. While a drag is over it, it shows whether it would take
// what is dragged; a refused drop leaves the reason on screen.
class DragView : public QWidget {
    Q_OBJECT
public:
    enum class Feedback { Idle, Accepting, Refusing };

    explicit DragView(QWidget* parent = nullptr);
    Feedback feedback() const { return m_feedback; }
    // Set while a drag is over the view and it would take it.
    bool fileTypeIsOk() const { return m_feedback == Feedback::Accepting; }

signals:
    void packageDropped(const QString& path, PackageIntake::Kind kind);
    // What is dragged over the view now, or why the last drop was refused; empty when idle.
    void hint(const QString& text, bool refused);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void setFeedback(Feedback feedback);

    Feedback m_feedback = Feedback::Idle;
    PackageIntake::Verdict m_verdict;
};

// The create pane: the drop target with its information label and "Choose file".
class CreateView : public QWidget {
    Q_OBJECT
public:
    explicit CreateView(QWidget* parent = nullptr);

    DragView* dragView() const { return m_dragView; }
    QLabel* infoLabel() const { return m_infoLabel; }
    FlatButton* openButton() const { return m_openButton; }
    // The line under the button: the drag hint or why a file was refused.
    QString message() const;

    // The open panel; a chosen file goes through the same checks as a drop.
    void browseFile();

signals:
    void openFile(const QString& path, PackageIntake::Kind kind);

private:
    void showHint(const QString& text, bool refused);

    DragView* m_dragView = nullptr;
    QLabel* m_infoLabel = nullptr;
    QLabel* m_message = nullptr;
    FlatButton* m_openButton = nullptr;
};
