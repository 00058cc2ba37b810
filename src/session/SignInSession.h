#pragma once

#include "records/ZUser.h"
#include "session/SignInState.h"
#include "storage/BrowserSignIn.h"

#include <QObject>
#include <QPointer>

class SelfHostedSignIn;
class QTimer;

// The sign-in as the screens and vantry-cli see it: starts one provider flow, and after its
// success makes the account ready (makeAccountReady: read, registered with the backend) and only
// on the backend's confirmation reports the signed-in state.
class SignInSession : public QObject {
    Q_OBJECT
public:
    explicit SignInSession(QObject* parent = nullptr);
    ~SignInSession() override;

    // Dropbox, Drive or Zoho in the browser. The flow stays reachable through flow() for
    // "Open the page again", "Cancel" and a pasted code until it ends.
    BrowserSignIn* startBrowserSignIn(SignedInProvider provider, bool openPage = true);
    void startSelfHosted(const QString& url, const QString& token = QString());
    BrowserSignIn* flow() const { return m_flow; }
    void cancel();

signals:
    void signedIn(const ZUser& user, SignedInProvider provider);
    // A flow failed or was cancelled, or the account could not be read or registered.
    void signInEnded(const SignInResult& result);
    // Something the user should know while the flow waits.
    void notice(const QString& text);

private:
    void flowEnded(const SignInResult& result, SignedInProvider provider);
    void afterSignIn(SignedInProvider provider);
    void fail(const QString& message);

    QPointer<BrowserSignIn> m_flow;
    QPointer<SelfHostedSignIn> m_selfHosted;
    QTimer* m_guard;
    ZUser m_selfHostedUser;
};
