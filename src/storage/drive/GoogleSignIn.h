#pragma once

#include "storage/BrowserSignIn.h"

// Google Drive sign-in: authorization code with PKCE (S256) and a loopback redirect on a free
// port of 127.0.0.1. The tokens go to the credential store under "GTMAuthorization_Vantry_app"
// (GoogleAuth), then the "isDrive" flag is set.
class GoogleSignIn : public BrowserSignIn {
    Q_OBJECT
public:
    explicit GoogleSignIn(QObject* parent = nullptr);
    QString label() const override { return QStringLiteral("Google Drive"); }

    // The latest flow started in this process; it keeps taking its own redirects until it ends.
    static GoogleSignIn* pending();

    // openid, profile, email, drive, drive.file: space-separated as sent.
    static QString scopes();

protected:
    std::optional<QString> prepare() override;
    QUrl buildAuthorizationUrl() override;
    void exchange(const QString& code) override;
    bool ownsRedirect(const QUrl& url) const override;

private:
    QUrl m_redirect;
};
