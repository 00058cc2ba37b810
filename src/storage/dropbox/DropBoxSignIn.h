#pragma once

#include "storage/BrowserSignIn.h"

// Dropbox sign-in: authorization code with PKCE and token_access_type=offline, no client secret.
// With dropbox/redirectUri configured (a registered loopback address) the answer comes back to a
// listener on that port; otherwise Dropbox shows the code and the user pastes it. The tokens go
// to the credential store under "dropbox_auth", then the "isDropBox" flag is set.
class DropBoxSignIn : public BrowserSignIn {
    Q_OBJECT
public:
    explicit DropBoxSignIn(QObject* parent = nullptr);
    QString label() const override { return QStringLiteral("Dropbox"); }
    bool needsPastedCode() const override { return m_redirect.isEmpty(); }

    // The Dropbox flow takes the URLs the application receives before anyone else does.
    static DropBoxSignIn* pending();

protected:
    std::optional<QString> prepare() override;
    QUrl buildAuthorizationUrl() override;
    void exchange(const QString& code) override;
    bool ownsRedirect(const QUrl& url) const override;
    void declined(const QString& error, const QString& description) override;

    void ending(const SignInResult& result) override;

private:
    QUrl m_redirect;
};
