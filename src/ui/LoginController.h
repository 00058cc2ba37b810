#pragma once

#include "records/ZUser.h"
#include "session/SignInState.h"

#include <QPointer>
#include <QWidget>

class LoginView;
#include "ui/ServerSignInWindow.h"
class SignInSession;
#include "ui/WaitingWindow.h"
struct SignInResult;

// The sign-in screen at work: a provider button starts that provider's sign-in, a small window
// waits for the browser (or asks for a self-hosted server), and the signed-in account registered
// with the backend takes the window to the main panes. A failed or cancelled sign-in leaves the
// screen as it was, with one line saying what happened.
class LoginController : public QWidget {
    Q_OBJECT
public:
    explicit LoginController(QWidget* parent = nullptr);
    ~LoginController() override;

    LoginView* loginView() const { return m_view; }
    SignInSession* session() const { return m_session; }
    WaitingWindow* waitingWindow() const { return m_waiting; }
    ServerSignInWindow* serverWindow() const { return m_server; }

signals:
    void signedIn(const ZUser& user);

private:
    void startBrowserSignIn(SignedInProvider provider);
    void startSelfHosted();
    void ended(const SignInResult& result);
    void closeWindows();

    LoginView* m_view = nullptr;
    SignInSession* m_session = nullptr;
    QPointer<WaitingWindow> m_waiting;
    QPointer<ServerSignInWindow> m_server;
};
