// The sign-in screen against the providers' emulators and vantry-server as the backend.
#include "UiTestSupport.h"

#include "AuthorizationEmulator.h"
#include "DropBoxEmulator.h"
#include "core/Config.h"
#include "core/Preferences.h"
#include "server/InProcessServer.h"
#include "server/VantryServer.h"
#include "session/SignInSession.h"
#include "storage/AuthorizedCall.h"
#include "storage/BrowserSignIn.h"
#include "storage/KeychainHelper.h"
#include "support/TestSupport.h"
#include "ui/AppShell.h"
#include "ui/LoginController.h"
#include "ui/LoginView.h"
#include "ui/MainPanes.h"
#include "ui/MainWindow.h"
#include "ui/ServerSignInWindow.h"
#include "ui/WaitingWindow.h"
#include "ui/widgets/FlatButton.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkReply>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {
const QString accessToken = QStringLiteral("emu-access-SECRET-3e1d");
const QString refreshToken = QStringLiteral("emu-refresh-SECRET-9a0c");

class LoginTest : public ::testing::Test {
protected:
    void SetUp() override {
        uitest::useTestLook();
        ServerOptions options;
        options.ownerId = QStringLiteral("self:ann");
        options.ownerName = QStringLiteral("Ann Example");
        server = startServer(options);
        ASSERT_TRUE(server);
        Config::instance().set(ConfigKey::BackendBaseUrl, server->localUrl());
        const QString dir = testsupport::makeTempDir(QStringLiteral("signin"));
        dropbox = std::make_unique<DropBoxEmulator>(dir + QStringLiteral("/dropbox"));
        auth = std::make_unique<AuthorizationEmulator>(dir + QStringLiteral("/auth"));
        for (EmulatorServer* e : std::initializer_list<EmulatorServer*>{dropbox.get(), auth.get()}) {
            ASSERT_TRUE(e->start());
            e->pointConfigHere();
            e->addAccessToken(accessToken);
        }
        auth->setTokens(accessToken, refreshToken);
        QFile::remove(KeychainHelper::fallbackFilePath());
        // The user's browser: the page of a sign-in without a redirect shows the code to paste.
        BrowserSignIn::setPageOpener([this](const QUrl& url) {
            ++pagesOpened;
            QNetworkReply* reply = storageNetwork()->get(QNetworkRequest(url));
            QObject::connect(reply, &QNetworkReply::finished, reply, [this, reply] {
                reply->deleteLater();
                shownCode = QRegularExpression(QStringLiteral("<code>([^<]*)</code>"))
                                .match(QString::fromUtf8(reply->readAll()))
                                .captured(1);
            });
            return true;
        });
        shell = std::make_unique<AppShell>();
        shell->showLoginPane();
        shell->window()->show();
    }
    void TearDown() override {
        shell.reset();
        BrowserSignIn::setPageOpener({});
        storageNetwork()->clearConnectionCache();
        Config::instance().reload();
    }
    LoginController* login() const { return shell->loginController(); }

    std::unique_ptr<VantryServer> server;
    std::unique_ptr<DropBoxEmulator> dropbox;
    std::unique_ptr<AuthorizationEmulator> auth;
    std::unique_ptr<AppShell> shell;
    QString shownCode;
    int pagesOpened = 0;
};

TEST_F(LoginTest, ScreenSaysWhatVantryDoes) {
    LoginView* view = shell->loginView();
    ASSERT_NE(view, nullptr);
    const auto text = [view](const char* name) {
        return view->findChild<QLabel*>(QLatin1String(name))->text();
    };
    EXPECT_EQ(text("titleLabel"), QStringLiteral("Vantry"));
    EXPECT_EQ(text("subtitleLabel"),
              QStringLiteral("Login with a provider to proceed, We use it to store your "
                             "ipa/apk securely within your space."));
    QStringList points;
    for (QLabel* l : view->findChildren<QLabel*>(QStringLiteral("pointLabel")))
        points << l->text();
    EXPECT_EQ(points,
              (QStringList{QStringLiteral("✔️ Drop your .ipa"), QStringLiteral("✔️ Get a link")}));
    using P = LoginView::Provider;
    const std::pair<P, const char*> buttons[] = {{P::Dropbox, "DropBox"},
                                                 {P::Zoho, "Zoho Workdrive"},
                                                 {P::Drive, "Google Drive"},
                                                 {P::SelfHosted, "Vantry server"}};
    for (const auto& [provider, title] : buttons) {
        EXPECT_EQ(view->button(provider)->text(), QLatin1String(title));
        EXPECT_FALSE(view->button(provider)->icon().isNull()) << title;
    }
}

TEST_F(LoginTest, DropboxWithAPastedCodeReachesTheMainPanes) {
    login()->loginView()->button(LoginView::Provider::Dropbox)->click();
    EXPECT_TRUE(login()->loginView()->shouldStopAnimation());
    WaitingWindow* waiting = login()->waitingWindow();
    ASSERT_NE(waiting, nullptr);
    EXPECT_TRUE(waiting->isVisible());
    ASSERT_NE(waiting->codeField(), nullptr);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !shownCode.isEmpty(); }));

    // "Open the page again" opens it again; the sign-in keeps waiting.
    const int opened = pagesOpened;
    waiting->findChild<FlatButton*>(QStringLiteral("openAgainButton"))->click();
    EXPECT_EQ(pagesOpened, opened + 1);

    waiting->codeField()->setText(shownCode);
    emit waiting->codeField()->returnPressed();
    ASSERT_TRUE(testsupport::waitUntil([&] { return shell->mainPanes() != nullptr; }, 30000))
        << login()->loginView()->message().toStdString();
    EXPECT_TRUE(Preferences::flag(Preferences::isDropBox));
}

TEST_F(LoginTest, CancelledOrFailedSignInLeavesTheScreenWithALine) {
    login()->loginView()->button(LoginView::Provider::Dropbox)->click();
    ASSERT_NE(login()->waitingWindow(), nullptr);
    login()->waitingWindow()->findChild<FlatButton*>(QStringLiteral("cancelButton"))->click();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !login()->waitingWindow(); }));
    EXPECT_EQ(login()->loginView()->message(), QStringLiteral("Sign-in cancelled."));
    EXPECT_TRUE(login()->loginView()->button(LoginView::Provider::Drive)->isEnabled());

    // No client identifier configured: the flow cannot start, and says so.
    Config::instance().set(ConfigKey::DropboxAppKey, QString());
    login()->loginView()->button(LoginView::Provider::Dropbox)->click();
    EXPECT_EQ(login()->waitingWindow(), nullptr);
    EXPECT_FALSE(login()->loginView()->message().isEmpty());
    EXPECT_NE(login()->loginView()->message(), QStringLiteral("Sign-in cancelled."));
    EXPECT_TRUE(login()->loginView()->button(LoginView::Provider::Dropbox)->isEnabled());
    EXPECT_EQ(shell->mainPanes(), nullptr);
}

TEST_F(LoginTest, VantryServerSignInWithAWrongTokenThenTheRightOne) {
    login()->loginView()->button(LoginView::Provider::SelfHosted)->click();
    ServerSignInWindow* window = login()->serverWindow();
    ASSERT_NE(window, nullptr);
    window->urlField()->setText(server->localUrl());
    window->tokenField()->setText(QStringLiteral("wrong"));
    window->findChild<FlatButton*>(QStringLiteral("signInButton"))->click();
    ASSERT_TRUE(testsupport::waitUntil([&] { return window->urlField()->isEnabled(); }));
    EXPECT_FALSE(window->message().isEmpty());
    EXPECT_EQ(shell->mainPanes(), nullptr);

    window->tokenField()->setText(server->storageToken());
    window->findChild<FlatButton*>(QStringLiteral("signInButton"))->click();
    ASSERT_TRUE(testsupport::waitUntil([&] { return shell->mainPanes() != nullptr; }, 30000))
        << window->message().toStdString();
    EXPECT_TRUE(Preferences::flag(QStringLiteral("isSelfHosted")));
    EXPECT_EQ(currentUser().id, QStringLiteral("self:ann"));
}

} // namespace
