#include "ui/history/ReleaseNotesBox.h"

#include "records/ZappWire.h"
#include "ui/widgets/FlatButton.h"

#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QVBoxLayout>

ReleaseNotesBox::Editor ReleaseNotesBox::dialog() {
    return [](QWidget* parent, const QString& current) -> std::optional<QString> {
        bool ok = false;
        const QString text = QInputDialog::getMultiLineText(
            parent, QStringLiteral("Edit notes"),
            QStringLiteral("What changed, and what testers should try:"), current, &ok);
        return ok ? std::optional(text) : std::nullopt;
    };
}

ReleaseNotesBox::ReleaseNotesBox(QString appId, const QString& notes, BackendApi backend, Editor editor,
                                 QWidget* parent)
    : QWidget(parent), m_appId(std::move(appId)), m_backend(std::move(backend)), m_editor(std::move(editor)) {
    auto* heading = new QLabel(QStringLiteral("Release notes"));
    QFont bold = heading->font();
    bold.setWeight(QFont::DemiBold);
    heading->setFont(bold);
    auto* button = new FlatButton(QStringLiteral("Edit notes"));
    button->setKind(FlatButton::Kind::Secondary);
    m_editButton = button;
    connect(m_editButton, &QPushButton::clicked, this, &ReleaseNotesBox::edit);
    m_text = new QLabel;
    // Plain text: notes are the user's words, never markup.
    m_text->setTextFormat(Qt::PlainText);
    m_text->setWordWrap(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* top = new QHBoxLayout;
    top->addWidget(heading);
    top->addStretch();
    top->addWidget(m_editButton);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addLayout(top);
    layout->addWidget(m_text);
    show(notes);
}

QString ReleaseNotesBox::shownText() const {
    return m_text->text();
}

void ReleaseNotesBox::show(const QString& notes) {
    m_notes = notes;
    m_text->setText(notes.trimmed().isEmpty() ? QStringLiteral("No notes yet.") : notes);
    m_text->setForegroundRole(notes.trimmed().isEmpty() ? QPalette::PlaceholderText : QPalette::WindowText);
}

void ReleaseNotesBox::edit() {
    if (!m_editor)
        return;
    const std::optional<QString> text = m_editor(this, m_notes);
    if (!text || *text == m_notes)
        return;
    if (ZappWire::characterCount(*text) > ZappWire::maxNotesCharacters) {
        emit failed(
            QStringLiteral("The notes are longer than %1 characters.").arg(ZappWire::maxNotesCharacters));
        return;
    }
    m_editButton->setEnabled(false);
    const QString notes = *text;
    m_backend.updateApp(
        m_appId, notes,
        [this, notes] {
            m_editButton->setEnabled(true);
            show(notes);
            emit saved(notes);
        },
        this,
        [this](const QString& reason) {
            m_editButton->setEnabled(true);
            emit failed(reason);
        });
}
