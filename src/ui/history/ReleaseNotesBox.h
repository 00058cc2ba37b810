#pragma once

#include "backend/BackendApi.h"

#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QPushButton;

// An app's release notes in its details, with "Edit notes": the text edited in a dialog is saved
// through the backend and shown once the server took it.
class ReleaseNotesBox : public QWidget {
    Q_OBJECT
public:
    // Asks for the new notes, starting from the current ones; nothing when the user cancels.
    using Editor = std::function<std::optional<QString>(QWidget* parent, const QString& current)>;
    // A multi-line text dialog.
    static Editor dialog();

    ReleaseNotesBox(QString appId, const QString& notes, BackendApi backend, Editor editor,
                    QWidget* parent = nullptr);

    QString notes() const { return m_notes; }
    QString shownText() const;
    QPushButton* editButton() const { return m_editButton; }

public slots:
    void edit();

signals:
    void saved(const QString& notes);
    void failed(const QString& reason);

private:
    void show(const QString& notes);

    QString m_appId;
    QString m_notes;
    BackendApi m_backend;
    Editor m_editor;
    QLabel* m_text = nullptr;
    QPushButton* m_editButton = nullptr;
};
