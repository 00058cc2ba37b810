#include "ui/ServerSignInWindow.h"

#include "ui/widgets/FlatButton.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QUrl>
#include <QVBoxLayout>

ServerSignInWindow::ServerSignInWindow(const QString& url, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("serverSignInWindow"));
    setWindowTitle(QStringLiteral("Vantry server"));
    setWindowModality(Qt::WindowModal);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 24, 28, 22);
    auto* title = new QLabel(QStringLiteral("Store your packages on your own Vantry server"), this);
    QFont titleFont = title->font();
    titleFont.setPixelSize(17);
    titleFont.setWeight(QFont::DemiBold);
    title->setFont(titleFont);
    layout->addWidget(title);

    auto* form = new QFormLayout;
    m_url = new QLineEdit(url, this);
    m_url->setObjectName(QStringLiteral("urlField"));
    m_url->setPlaceholderText(QStringLiteral("https://get.example.com/"));
    form->addRow(QStringLiteral("Address"), m_url);
    m_token = new QLineEdit(this);
    m_token->setObjectName(QStringLiteral("tokenField"));
    m_token->setEchoMode(QLineEdit::Password);
    m_token->setPlaceholderText(QStringLiteral("Empty for a server on this machine"));
    form->addRow(QStringLiteral("Storage token"), m_token);
    layout->addLayout(form);

    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("messageLabel"));
    m_message->setWordWrap(true);
    m_message->hide();
    layout->addWidget(m_message);

    auto* buttons = new QHBoxLayout;
    auto* cancel = new FlatButton(QStringLiteral("Cancel"), this);
    cancel->setKind(FlatButton::Kind::Secondary);
    m_signIn = new FlatButton(QStringLiteral("Sign in"), this);
    m_signIn->setObjectName(QStringLiteral("signInButton"));
    m_signIn->setDefault(true);
    buttons->addStretch();
    buttons->addWidget(cancel);
    buttons->addWidget(m_signIn);
    layout->addSpacing(6);
    layout->addLayout(buttons);

    connect(m_url, &QLineEdit::textChanged, this, &ServerSignInWindow::updateSignIn);
    updateSignIn();
    connect(cancel, &QPushButton::clicked, this, &ServerSignInWindow::reject);
    connect(m_signIn, &QPushButton::clicked, this, [this] {
        setMessage(QString());
        emit signInRequested(this->url(), token());
    });
    setMinimumWidth(440);
}

void ServerSignInWindow::updateSignIn() {
    const QUrl u(m_url->text().trimmed());
    m_signIn->setEnabled(m_url->isEnabled() && u.isValid() &&
                         (u.scheme() == QLatin1String("http") || u.scheme() == QLatin1String("https")) &&
                         !u.host().isEmpty());
}

QString ServerSignInWindow::url() const {
    QString u = m_url->text().trimmed();
    if (!u.endsWith(QLatin1Char('/')))
        u += QLatin1Char('/');
    return u;
}

QString ServerSignInWindow::token() const {
    return m_token->text().trimmed();
}

void ServerSignInWindow::setBusy(bool busy) {
    m_url->setEnabled(!busy);
    m_token->setEnabled(!busy);
    updateSignIn();
    if (busy)
        setMessage(QStringLiteral("Asking the server…"));
}

void ServerSignInWindow::setMessage(const QString& text) {
    m_message->setText(text);
    m_message->setVisible(!text.isEmpty());
}

QString ServerSignInWindow::message() const {
    return m_message->isVisible() ? m_message->text() : QString();
}

void ServerSignInWindow::reject() {
    emit cancelRequested();
    QDialog::reject();
}
