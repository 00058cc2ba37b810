#pragma once

#include "storage/BrowserSignIn.h"

#include <functional>

// Zoho WorkDrive sign-in: the authorization page with a new oauthState per start, the redirect
// "Vantry://zohoCallback" delivered by the application's URL routing (the "zohocode_Receiver"
// notification) or pasted by the user, then the code exchange. A refresh token in the answer is
// stored under "zoho_re_to"; the "isZoho" flag is set. An answer without an access token leaves
// the flow waiting for another code.
class ZohoSignIn : public BrowserSignIn {
    Q_OBJECT
public:
    explicit ZohoSignIn(QObject* parent = nullptr);
    QString label() const override { return QStringLiteral("Zoho WorkDrive"); }
    bool needsPastedCode() const override;

    // Whether the desktop hands vantry:// URLs to Vantry (xdg-mime by default; tests set it).
    static void setUrlHandlerProbe(std::function<bool()> probe);
    static bool urlHandlerRegistered();

protected:
    std::optional<QString> prepare() override;
    QUrl buildAuthorizationUrl() override;
    void exchange(const QString& code) override;
    bool ownsRedirect(const QUrl& url) const override;
    bool checksState() const override { return false; }
};
