#include "session/SignInState.h"

#include "core/Config.h"
#include "core/Log.h"
#include "core/Preferences.h"
#include "storage/AuthorizedCall.h"
#include "storage/BrowserSignIn.h"
#include "storage/KeychainHelper.h"
#include "storage/drive/GoogleAuth.h"
#include "storage/dropbox/DropBoxAuth.h"
#include "storage/selfhosted/SelfHostedSignIn.h"
#include "storage/zoho/ZohoAuthentication.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>

namespace {
bool linked(OAuthSession& session) {
    // Another process (vantry-cli login) may have changed the store since it was read.
    session.reload();
    const auto client = session.authorizedClient();
    return client && client->isAuthorized();
}

const QStringList& allFlags() {
    static const QStringList flags{Preferences::isDropBox, Preferences::isDrive, Preferences::isZoho,
                                   SelfHostedSignIn::flag};
    return flags;
}
} // namespace

SignedInProvider findStoredSignIn() {
    if (Preferences::flag(Preferences::isDropBox) && linked(DropBoxAuth::instance()))
        return SignedInProvider::Dropbox;
    if (Preferences::flag(Preferences::isZoho) &&
        !KeychainHelper().read(ZohoAuthentication::refreshTokenService).value_or(QString()).isEmpty())
        return SignedInProvider::Zoho;
    if (Preferences::flag(Preferences::isDrive) && linked(GoogleAuth::instance()))
        return SignedInProvider::Drive;
    if (Preferences::flag(SelfHostedSignIn::flag) && SelfHostedSignIn::stored())
        return SignedInProvider::SelfHosted;
    return SignedInProvider::None;
}

SignedInProvider restoreSignIn() {
    const SignedInProvider provider = findStoredSignIn();
    switch (provider) {
    case SignedInProvider::Dropbox:
        selectSignedInProvider(Preferences::isDropBox);
        break;
    case SignedInProvider::Zoho:
        selectSignedInProvider(Preferences::isZoho);
        break;
    case SignedInProvider::Drive:
        selectSignedInProvider(Preferences::isDrive);
        break;
    case SignedInProvider::SelfHosted:
        selectSignedInProvider(SelfHostedSignIn::flag);
        break;
    case SignedInProvider::None:
        break;
    }
    return provider;
}

QString providerLabel(SignedInProvider provider) {
    switch (provider) {
    case SignedInProvider::Dropbox:
        return QStringLiteral("Dropbox");
    case SignedInProvider::Zoho:
        return QStringLiteral("Zoho WorkDrive");
    case SignedInProvider::Drive:
        return QStringLiteral("Google Drive");
    case SignedInProvider::SelfHosted:
        return QStringLiteral("self-hosted");
    case SignedInProvider::None:
        break;
    }
    return QString();
}

void signOut(std::function<void()> done) {
    const bool dropbox =
        !Preferences::flag(Preferences::isDrive) && Preferences::flag(Preferences::isDropBox);
    for (const QString& flag : allFlags())
        Preferences::setFlag(flag, false);
    if (!dropbox) {
        logLine(QStringLiteral("logout"));
        if (done)
            done();
        return;
    }
    OAuthSession& session = DropBoxAuth::instance();
    session.reload();
    session.withAccessToken([done](const std::optional<QString>& token, const QString&) {
        const auto forget = [done] {
            DropBoxAuth::instance().unlinkAndResetClients();
            if (done)
                done();
        };
        if (!token) {
            forget();
            return;
        }
        QNetworkRequest request(QUrl(configValue(ConfigKey::DropboxRevokeUrl)));
        request.setRawHeader("Authorization", "Bearer " + token->toUtf8());
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        request.setTransferTimeout(10000);
        QNetworkReply* reply = storageNetwork()->post(request, QByteArray("null"));
        QObject::connect(reply, &QNetworkReply::finished, reply, [reply, forget] {
            reply->deleteLater();
            if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200)
                logLine(QStringLiteral("Dropbox sign-out: the token was not revoked at Dropbox"));
            forget();
        });
    });
}
