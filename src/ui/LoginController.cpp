#include "ui/LoginController.h"

#include "core/Config.h"
#include "session/SignInSession.h"
#include "storage/selfhosted/SelfHostedSignIn.h"
#include "ui/LoginView.h"
#include "ui/ServerSignInWindow.h"
#include "ui/WaitingWindow.h"

#include <QVBoxLayout>

LoginController::LoginController(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("loginController"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(5, 5, 5, 5);
    m_view = new LoginView(this);
    layout->addWidget(m_view);
    m_session = new SignInSession(this);

    connect(m_view, &LoginView::providerChosen, this, [this](LoginView::Provider provider) {
        m_view->setMessage(QString());
        switch (provider) {
        case LoginView::Provider::Dropbox:
            return startBrowserSignIn(SignedInProvider::Dropbox);
        case LoginView::Provider::Zoho:
            return startBrowserSignIn(SignedInProvider::Zoho);
        case LoginView::Provider::Drive:
            return startBrowserSignIn(SignedInProvider::Drive);
        case LoginView::Provider::SelfHosted:
            return startSelfHosted();
        }
    });
    connect(m_session, &SignInSession::signedIn, this, [this](const ZUser& user) {
        closeWindows();
        emit signedIn(user);
    });
    connect(m_session, &SignInSession::signInEnded, this, &LoginController::ended);
    connect(m_session, &SignInSession::notice, this, [this](const QString& text) {
        if (m_waiting)
            m_waiting->setNotice(text);
    });
}

LoginController::~LoginController() {
    closeWindows();
}

void LoginController::startBrowserSignIn(SignedInProvider provider) {
    m_view->setBusy(true);
    BrowserSignIn* flow = m_session->startBrowserSignIn(provider);
    // A flow that could not even start (no client identifier configured) has ended already.
    if (!flow || !flow->isWaiting())
        return;
    auto* waiting = new WaitingWindow(flow->label(), flow->needsPastedCode(), window());
    waiting->setAttribute(Qt::WA_DeleteOnClose);
    m_waiting = waiting;
    QPointer<BrowserSignIn> guard(flow);
    connect(waiting, &WaitingWindow::openPageAgain, this, [guard] {
        if (guard)
            guard->openPageAgain();
    });
    connect(waiting, &WaitingWindow::cancelRequested, this, [this] { m_session->cancel(); });
    connect(waiting, &WaitingWindow::codeSubmitted, this, [guard, waiting](const QString& code) {
        if (!guard)
            return;
        waiting->setCodeBusy(true);
        guard->submitPasted(code);
    });
    waiting->open();
}

void LoginController::startSelfHosted() {
    QString url = configValue(ConfigKey::SelfHostedUrl);
    if (const auto stored = SelfHostedSignIn::stored())
        url = stored->url;
    auto* server = new ServerSignInWindow(url, window());
    server->setAttribute(Qt::WA_DeleteOnClose);
    m_server = server;
    m_view->setBusy(true);
    connect(server, &ServerSignInWindow::signInRequested, this,
            [this, server](const QString& u, const QString& t) {
                server->setBusy(true);
                m_session->startSelfHosted(u, t);
            });
    connect(server, &ServerSignInWindow::cancelRequested, this, [this] {
        m_session->cancel();
        m_view->setBusy(false);
    });
    server->open();
}

void LoginController::ended(const SignInResult& result) {
    m_view->setBusy(false);
    const QString message =
        result.outcome == SignInResult::Outcome::Cancelled
            ? QStringLiteral("Sign-in cancelled.")
            : (result.message.isEmpty() ? QStringLiteral("Sign-in failed.") : result.message);
    if (m_server) {
        // The server window stays for another try with a corrected address or token.
        m_server->setBusy(false);
        if (result.outcome != SignInResult::Outcome::Cancelled) {
            m_server->setMessage(message);
            m_view->setBusy(true);
            return;
        }
    }
    closeWindows();
    m_view->setMessage(message);
}

void LoginController::closeWindows() {
    if (m_waiting) {
        m_waiting->disconnect(this);
        m_waiting->close();
    }
    if (m_server) {
        m_server->disconnect(this);
        m_server->close();
    }
}
