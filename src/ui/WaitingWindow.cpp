#include "ui/WaitingWindow.h"

#include "ui/widgets/FlatButton.h"
#include "ui/widgets/Spinner.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

WaitingWindow::WaitingWindow(const QString& provider, bool takesCode, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("waitingWindow"));
    setWindowTitle(QStringLiteral("Sign in with %1").arg(provider));
    setWindowModality(Qt::WindowModal);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 24, 28, 22);
    layout->setSpacing(10);

    auto* head = new QHBoxLayout;
    m_spinner = new Spinner(this);
    m_spinner->setColor(palette().color(QPalette::Highlight));
    m_spinner->setFixedSize(28, 28);
    m_spinner->startAnimating();
    head->addWidget(m_spinner);
    auto* title = new QLabel(QStringLiteral("Continue in your browser"), this);
    title->setObjectName(QStringLiteral("titleLabel"));
    QFont titleFont = title->font();
    titleFont.setPixelSize(18);
    titleFont.setWeight(QFont::DemiBold);
    title->setFont(titleFont);
    head->addWidget(title, 1);
    layout->addLayout(head);

    auto* providerLabel = new QLabel(takesCode ? QStringLiteral("Sign in to %1, allow Vantry, then paste the "
                                                                "code %1 shows you here.")
                                                     .arg(provider)
                                               : QStringLiteral("Sign in to %1 and allow Vantry; this window "
                                                                "closes by itself.")
                                                     .arg(provider),
                                     this);
    providerLabel->setObjectName(QStringLiteral("providerLabel"));
    providerLabel->setWordWrap(true);
    layout->addWidget(providerLabel);

    if (takesCode) {
        auto* row = new QHBoxLayout;
        m_code = new QLineEdit(this);
        m_code->setObjectName(QStringLiteral("codeField"));
        m_code->setPlaceholderText(QStringLiteral("Paste the code here"));
        row->addWidget(m_code, 1);
        m_submit = new FlatButton(QStringLiteral("Continue"), this);
        m_submit->setEnabled(false);
        row->addWidget(m_submit);
        layout->addLayout(row);
        connect(m_code, &QLineEdit::textChanged, this,
                [this](const QString& text) { m_submit->setEnabled(!text.trimmed().isEmpty()); });
        const auto submit = [this] {
            const QString code = m_code->text().trimmed();
            if (!code.isEmpty())
                emit codeSubmitted(code);
        };
        connect(m_submit, &QPushButton::clicked, this, submit);
        connect(m_code, &QLineEdit::returnPressed, this, submit);
    }

    m_notice = new QLabel(this);
    m_notice->setObjectName(QStringLiteral("noticeLabel"));
    m_notice->setWordWrap(true);
    m_notice->hide();
    layout->addWidget(m_notice);

    auto* buttons = new QHBoxLayout;
    auto* again = new FlatButton(QStringLiteral("Open the page again"), this);
    again->setObjectName(QStringLiteral("openAgainButton"));
    again->setKind(FlatButton::Kind::Secondary);
    auto* cancel = new FlatButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setKind(FlatButton::Kind::Secondary);
    buttons->addWidget(again);
    buttons->addStretch();
    buttons->addWidget(cancel);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    connect(again, &QPushButton::clicked, this, &WaitingWindow::openPageAgain);
    connect(cancel, &QPushButton::clicked, this, &WaitingWindow::reject);
    setMinimumWidth(420);
}

void WaitingWindow::setNotice(const QString& text) {
    m_notice->setText(text);
    m_notice->setVisible(!text.isEmpty());
}

QString WaitingWindow::notice() const {
    return m_notice->isVisible() ? m_notice->text() : QString();
}

void WaitingWindow::setCodeBusy(bool busy) {
    if (!m_code)
        return;
    m_code->setEnabled(!busy);
    m_submit->setEnabled(!busy && !m_code->text().trimmed().isEmpty());
}

void WaitingWindow::reject() {
    emit cancelRequested();
    QDialog::reject();
}
