#pragma once

// For tests that link the session library: what the user's browser does with an authorization
// page. It follows the page to its redirect, which is the loopback listener or a vantry:// URL the
// desktop hands to the application, or keeps the code a page without a redirect shows to paste.
#include "AuthorizationEmulator.h"
#include "DropBoxEmulator.h"
#include "session/UrlRouter.h"
#include "storage/AuthorizedCall.h"
#include "storage/BrowserSignIn.h"
#include "support/TestSupport.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>

struct SignInBrowser {
    bool closed = false; // the user closed it without answering
    QString shownCode;
    QUrl lastPage;
    int pagesOpened = 0;

    // Opens every sign-in page from now on, until the browser is gone.
    SignInBrowser() {
        BrowserSignIn::setPageOpener([this](const QUrl& url) { return open(url); });
    }
    ~SignInBrowser() { BrowserSignIn::setPageOpener({}); }

    bool open(const QUrl& url) {
        ++pagesOpened;
        lastPage = url;
        if (closed)
            return true;
        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        QNetworkReply* reply = storageNetwork()->get(request);
        QObject::connect(reply, &QNetworkReply::finished, reply, [this, reply] {
            reply->deleteLater();
            const QUrl location(QString::fromUtf8(reply->rawHeader("Location")));
            const QByteArray body = reply->readAll();
            if (location.scheme() == QLatin1String("http"))
                storageNetwork()->get(QNetworkRequest(location));
            else if (!location.isEmpty())
                routeURL(location.toString());
            else
                shownCode = QRegularExpression(QStringLiteral("<code>([^<]*)</code>"))
                                .match(QString::fromUtf8(body))
                                .captured(1);
        });
        return true;
    }
};

// What a sign-in meets: the Dropbox and authorization emulators in a fresh folder, and the browser.
struct SignInEmulators {
    const QString dir = testsupport::makeTempDir(QStringLiteral("signin"));
    DropBoxEmulator dropbox{dir + QStringLiteral("/dropbox")};
    AuthorizationEmulator auth{dir + QStringLiteral("/auth")};
    SignInBrowser browser;

    // Starts them and `more`, points the configuration at each (the authorization emulator last:
    // the Zoho accounts host is its own) and has each take access; a sign-in gets access and refresh.
    bool start(const QString& access, const QString& refresh,
               std::initializer_list<EmulatorServer*> more = {}) {
        std::vector<EmulatorServer*> all{&dropbox};
        all.insert(all.end(), more);
        all.push_back(&auth);
        for (EmulatorServer* e : all) {
            if (!e->start())
                return false;
            e->pointConfigHere();
            e->addAccessToken(access); // auth: for the revocation at sign-out
        }
        auth.setTokens(access, refresh);
        return true;
    }
};
