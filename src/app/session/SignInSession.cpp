#include "app/session/SignInSession.h"

#include "backend/BackendApi.h"
#include "backend/Zelko.h"
#include "backend/records/ZUser.h"
#include "core/Config.h"
#include "core/Log.h"
#include "storage/ClientManager.h"
#include "storage/drive/GoogleSignIn.h"
#include "storage/dropbox/DropboxSignIn.h"
#include "storage/selfhosted/SelfHostedSignIn.h"
#include "storage/zoho/ZohoSignIn.h"

#include <QJsonObject>
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
        flow = new DropboxSignIn(this);
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
    if (provider == SignedInProvider::SelfHosted) {
        register_(m_selfHostedUser, provider);
        return;
    }
    readUser(
        provider, this, [this, provider](const ZUser& user) { register_(user, provider); },
        [this](const QString& failure) { fail(failure); });
}

void SignInSession::readUser(SignedInProvider provider, QObject* context,
                             std::function<void(const ZUser&)> onUser,
                             std::function<void(const QString&)> onFailure) {
    StorageProvider kind = StorageProvider::Zoho;
    if (provider == SignedInProvider::Dropbox)
        kind = StorageProvider::Dropbox;
    else if (provider == SignedInProvider::Drive)
        kind = StorageProvider::Drive;
    ClientManager* client = makeStorageClient(kind).release();
    client->setParent(context);
    QPointer<ClientManager> alive(client);
    client->onFailure = [alive, onFailure](const QString& reason) {
        if (alive)
            alive->deleteLater();
        onFailure(reason);
    };
    client->getUserData([alive, onUser](const ZUser& user) {
        if (alive)
            alive->deleteLater();
        onUser(user);
    });
}

void SignInSession::register_(const ZUser& user, SignedInProvider provider) {
    Zelko::api().addNewUser(
        user,
        [this, user, provider] {
            m_guard->stop();
            currentUser() = user;
            emit signedIn(user, provider);
        },
        this,
        [this](const QString& reason) {
            fail(QStringLiteral("The Vantry backend did not register the account: ") + reason);
        });
}

void SignInSession::fail(const QString& message) {
    if (!m_guard->isActive())
        return;
    m_guard->stop();
    emit signInEnded({SignInResult::Outcome::Failed, message});
}
