// The sign-in screen against the providers' emulators and vantry-server as the backend.
#include "UiTestSupport.h"

#include "AuthorizationEmulator.h"
#include "DropboxEmulator.h"
#include "core/Config.h"
#include "core/Preferences.h"
#include "server/InProcessServer.h"
#include "server/VantryServer.h"
#include "session/SignInSession.h"
#include "storage/AuthorizedCall.h"
#include "storage/KeychainHelper.h"
#include "support/SignInBrowser.h"
#include "support/TestSupport.h"
#include "ui/AppShell.h"
#include "ui/LoginController.h"
#include "ui/LoginView.h"
#include "ui/MainPanes.h"
#include "ui/MainWindow.h"
#include "ui/WaitingWindow.h"
#include "ui/widgets/FlatButton.h"

#include <QFile>
#include <QLineEdit>

#include <gtest/gtest.h>

namespace {
const QString accessToken = QStringLiteral("emu-access-SECRET-3e1d");
const QString refreshToken = QStringLiteral("emu-refresh-SECRET-9a0c");

class LoginTest : public ::testing::Test {
protected:
    void SetUp() override {
        uitest::useTestLook();
        server = startServer();
        ASSERT_TRUE(server);
        Config::instance().set(ConfigKey::BackendBaseUrl, server->localUrl());
        const QString dir = testsupport::makeTempDir(QStringLiteral("signin"));
        dropbox = std::make_unique<DropboxEmulator>(dir + QStringLiteral("/dropbox"));
        auth = std::make_unique<AuthorizationEmulator>(dir + QStringLiteral("/auth"));
        for (EmulatorServer* e : std::initializer_list<EmulatorServer*>{dropbox.get(), auth.get()}) {
            ASSERT_TRUE(e->start());
            e->pointConfigHere();
            e->addAccessToken(accessToken);
        }
        auth->setTokens(accessToken, refreshToken);
        QFile::remove(KeychainHelper::fallbackFilePath());
        shell = std::make_unique<AppShell>();
        shell->showLoginPane();
        shell->window()->show();
    }
    void TearDown() override {
        shell.reset();
        storageNetwork()->clearConnectionCache();
        Config::instance().reload();
    }
    LoginController* login() const { return shell->loginController(); }

    std::unique_ptr<VantryServer> server;
    std::unique_ptr<DropboxEmulator> dropbox;
    std::unique_ptr<AuthorizationEmulator> auth;
    std::unique_ptr<AppShell> shell;
    SignInBrowser browser; // shows the code to paste: the sign-in has no redirect
};

// Without a client identifier the flow says so and cannot start; a cancelled one leaves the
// screen with a line; a pasted code reaches the main panes.
TEST_F(LoginTest, UnconfiguredCancelledThenPastedCode) {
    LoginView* view = login()->loginView();
    const QString appKey = configValue(ConfigKey::DropboxAppKey);
    Config::instance().set(ConfigKey::DropboxAppKey, QString());
    view->button(LoginView::Provider::Dropbox)->click();
    EXPECT_EQ(login()->waitingWindow(), nullptr);
    const QString unconfigured = view->message();
    EXPECT_FALSE(unconfigured.isEmpty());
    EXPECT_TRUE(view->button(LoginView::Provider::Dropbox)->isEnabled());
    Config::instance().set(ConfigKey::DropboxAppKey, appKey);

    view->button(LoginView::Provider::Dropbox)->click();
    ASSERT_NE(login()->waitingWindow(), nullptr);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !browser.shownCode.isEmpty(); })); // its page is done
    login()->waitingWindow()->findChild<FlatButton*>(QStringLiteral("cancelButton"))->click();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !login()->waitingWindow(); }));
    EXPECT_EQ(view->message(), QStringLiteral("Sign-in cancelled."));
    EXPECT_NE(unconfigured, view->message());
    EXPECT_TRUE(view->button(LoginView::Provider::Drive)->isEnabled());
    EXPECT_EQ(shell->mainPanes(), nullptr);

    browser.shownCode.clear();
    view->button(LoginView::Provider::Dropbox)->click();
    EXPECT_TRUE(view->shouldStopAnimation());
    WaitingWindow* waiting = login()->waitingWindow();
    ASSERT_NE(waiting, nullptr);
    EXPECT_TRUE(waiting->isVisible());
    ASSERT_NE(waiting->codeField(), nullptr);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !browser.shownCode.isEmpty(); }));
    // "Open the page again" opens it again; the sign-in keeps waiting.
    const int opened = browser.pagesOpened;
    waiting->findChild<FlatButton*>(QStringLiteral("openAgainButton"))->click();
    EXPECT_EQ(browser.pagesOpened, opened + 1);
    waiting->codeField()->setText(browser.shownCode);
    emit waiting->codeField()->returnPressed();
    ASSERT_TRUE(testsupport::waitUntil([&] { return shell->mainPanes() != nullptr; }, 30000))
        << view->message().toStdString();
    EXPECT_TRUE(Preferences::flag(Preferences::isDropBox));
}

} // namespace
