#include "session/SignInSession.h"

#include "records/ZUser.h"
#include "session/AccountReady.h"
#include "storage/drive/GoogleSignIn.h"
#include "storage/dropbox/DropBoxSignIn.h"
#include "storage/selfhosted/SelfHostedSignIn.h"
#include "storage/zoho/ZohoSignIn.h"

#include <QTimer>

namespace {
// The account read and the registration each answer well within this, or something is wrong.
constexpr int afterSignInTimeoutMs = 90000;
} // namespace

SignInSession::SignInSession(QObject* parent) : QObject(parent), m_guard(new QTimer(this)) {
    m_guard->setSingleShot(true);
    m_guard->setInterval(afterSignInTimeoutMs);
    connect(m_guard, &QTimer::timeout, this, [this] {
        fail(QStringLiteral("The sign-in could not be completed: no answer from the provider or the "
                            "Vantry backend."));
    });
}

SignInSession::~SignInSession() = default;

BrowserSignIn* SignInSession::startBrowserSignIn(SignedInProvider provider, bool openPage) {
    if (m_flow && m_flow->isWaiting())
        m_flow->cancel();
    BrowserSignIn* flow = nullptr;
    switch (provider) {
    case SignedInProvider::Dropbox:
        flow = new DropBoxSignIn(this);
        break;
    case SignedInProvider::Drive:
        // Kept for the rest of the run: it still takes its own redirects after another flow began.
        flow = new GoogleSignIn(this);
        break;
    case SignedInProvider::Zoho:
        flow = new ZohoSignIn(this);
        break;
    case SignedInProvider::SelfHosted:
    case SignedInProvider::None:
        return nullptr;
    }
    m_flow = flow;
    flow->onNotice = [this](const QString& text) { emit notice(text); };
    flow->onFinished = [this, provider](const SignInResult& result) { flowEnded(result, provider); };
    flow->start(openPage);
    return m_flow;
}

void SignInSession::startSelfHosted(const QString& url, const QString& token) {
    auto* flow = new SelfHostedSignIn(this);
    m_selfHosted = flow;
    flow->onFinished = [this, flow](const SignInResult& result) {
        m_selfHostedUser = flow->user();
        flowEnded(result, SignedInProvider::SelfHosted);
        flow->deleteLater();
    };
    flow->start(url, token);
}

void SignInSession::cancel() {
    if (m_flow)
        m_flow->cancel();
    if (m_selfHosted)
        m_selfHosted->cancel();
}

void SignInSession::flowEnded(const SignInResult& result, SignedInProvider provider) {
    if (result.outcome != SignInResult::Outcome::Success) {
        emit signInEnded(result);
        return;
    }
    afterSignIn(provider);
}

void SignInSession::afterSignIn(SignedInProvider provider) {
    m_guard->start();
    AccountCallbacks callbacks;
    callbacks.onReady = [this, provider](const ZUser& user) {
        m_guard->stop();
        emit signedIn(user, provider);
    };
    callbacks.onFailure = [this](AccountStep, const QString& reason) { fail(reason); };
    if (provider == SignedInProvider::SelfHosted)
        registerAccount(m_selfHostedUser, this, std::move(callbacks));
    else
        makeAccountReady(storageProviderOf(provider), this, std::move(callbacks));
}

void SignInSession::fail(const QString& message) {
    if (!m_guard->isActive())
        return;
    m_guard->stop();
    emit signInEnded({SignInResult::Outcome::Failed, message});
}
