#include "storage/drive/GoogleSignIn.h"

#include "core/Config.h"
#include "core/Log.h"
#include "core/Preferences.h"
#include "storage/LoopbackReceiver.h"
#include "storage/drive/GoogleAuth.h"

#include <QDateTime>
#include <QJsonObject>
#include <QPointer>
#include <QUrlQuery>

namespace {
const QString driveScope = QStringLiteral("https://www.googleapis.com/auth/drive");

QPointer<GoogleSignIn>& pendingFlow() {
    static QPointer<GoogleSignIn> flow;
    return flow;
}
} // namespace

GoogleSignIn* GoogleSignIn::pending() {
    return pendingFlow();
}

GoogleSignIn::GoogleSignIn(QObject* parent) : BrowserSignIn(parent) {}

QString GoogleSignIn::scopes() {
    return QStringLiteral("openid profile email ") + driveScope + QLatin1Char(' ') + driveScope +
           QStringLiteral(".file");
}

std::optional<QString> GoogleSignIn::prepare() {
    if (configValue(ConfigKey::GoogleClientId).isEmpty())
        return missingKeyMessage(label(), ConfigKey::GoogleClientId);
    LoopbackReceiver* receiver = listenOnLoopback(0, QStringLiteral("/"));
    if (!receiver)
        return QStringLiteral("Could not listen on 127.0.0.1 for the answer from Google.");
    m_redirect = receiver->redirectUri();
    pendingFlow() = this;
    return std::nullopt;
}

QUrl GoogleSignIn::buildAuthorizationUrl() {
    QUrl url(configValue(ConfigKey::GoogleAuthorizeUrl));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("client_id"), configValue(ConfigKey::GoogleClientId));
    query.addQueryItem(QStringLiteral("redirect_uri"), m_redirect.toString());
    query.addQueryItem(QStringLiteral("response_type"), QStringLiteral("code"));
    query.addQueryItem(QStringLiteral("scope"), scopes());
    query.addQueryItem(QStringLiteral("code_challenge"), pkceChallenge(m_verifier));
    query.addQueryItem(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
    query.addQueryItem(QStringLiteral("state"), m_state);
    url.setQuery(query.toString(QUrl::FullyEncoded), QUrl::StrictMode);
    return url;
}

bool GoogleSignIn::ownsRedirect(const QUrl& url) const {
    return url.scheme() == m_redirect.scheme() && url.host() == m_redirect.host() &&
           url.port() == m_redirect.port() && url.path() == m_redirect.path();
}

void GoogleSignIn::exchange(const QString& code) {
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("client_id"), configValue(ConfigKey::GoogleClientId));
    form.addQueryItem(QStringLiteral("client_secret"), configValue(ConfigKey::GoogleClientSecret));
    form.addQueryItem(QStringLiteral("code"), code);
    form.addQueryItem(QStringLiteral("code_verifier"), m_verifier);
    form.addQueryItem(QStringLiteral("grant_type"), QStringLiteral("authorization_code"));
    form.addQueryItem(QStringLiteral("redirect_uri"), m_redirect.toString());
    postForm(
        QUrl(configValue(ConfigKey::GoogleTokenUrl)), form.toString(QUrl::FullyEncoded).toUtf8(),
        [this](int status, const QJsonObject& answer, const QByteArray&, const QString& networkError) {
            const QString access = answer.value(QStringLiteral("access_token")).toString();
            if (status != 200 || access.isEmpty()) {
                const QString why =
                    status == 0 ? networkError : answer.value(QStringLiteral("error")).toString();
                logLine(QStringLiteral("Google sign-in failed: HTTP %1 %2").arg(status).arg(why));
                finish(SignInResult::Outcome::Failed,
                       QStringLiteral("Google did not complete the sign-in (%1).").arg(why));
                return;
            }
            const QString granted = answer.value(QStringLiteral("scope")).toString();
            if (!granted.isEmpty() && !granted.split(QLatin1Char(' ')).contains(driveScope)) {
                finish(
                    SignInResult::Outcome::Failed,
                    QStringLiteral("Vantry needs access to your Google Drive; allow it on Google's page."));
                return;
            }
            const qint64 expiresIn = qint64(answer.value(QStringLiteral("expires_in")).toDouble());
            GoogleAuth::instance().link({access, answer.value(QStringLiteral("refresh_token")).toString(),
                                         expiresIn > 0 ? QDateTime::currentSecsSinceEpoch() + expiresIn : 0});
            selectSignedInProvider(Preferences::isDrive);
            finish(SignInResult::Outcome::Success);
        });
}
