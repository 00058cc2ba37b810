// The window as a user meets it: drop a package and get a link from vantry-server, cancel a job
// from its sheet, sign out from the settings pane, sign in.
#include "UiTestSupport.h"

#include "app/NewProcessController.h"
#include "backend/BackendApi.h"
#include "core/Config.h"
#include "core/NotificationCenter.h"
#include "core/Preferences.h"
#include "inspect/PackageFactory.h"
#include "server/InProcessServer.h"
#include "server/VantryServer.h"
#include "session/SingleInstance.h"
#include "support/SignInBrowser.h"
#include "support/TestSupport.h"
#include "ui/AppShell.h"
#include "ui/CreateView.h"
#include "ui/LoginController.h"
#include "ui/LoginView.h"
#include "ui/MainPanes.h"
#include "ui/MainWindow.h"
#include "ui/ProcessView.h"
#include "ui/RightView.h"
#include "ui/ServerSignInWindow.h"
#include "ui/SettingsView.h"
#include "ui/WaitingWindow.h"
#include "ui/history/HistoryPane.h"
#include "ui/widgets/FlatButton.h"

#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

class ShellTest : public ::testing::Test {
protected:
    // One server for all tests: the backend's address is fixed by its first use in the process.
    static void SetUpTestSuite() {
        ServerOptions options;
        options.ownerId = QStringLiteral("self:ann");
        options.ownerName = QStringLiteral("Ann Example");
        options.ownerEmail = QStringLiteral("ann@example.com");
        server = startServer(options).release();
        ASSERT_NE(server, nullptr);
        // Signed in before: the backend knows the user (it keeps records only for registered ones).
        bool registered = false;
        BackendApi(server->localUrl())
            .addNewUser(ZUser{options.ownerName, options.ownerEmail, options.ownerId, {}},
                        [&] { registered = true; });
        ASSERT_TRUE(testsupport::waitUntil([&] { return registered; }));
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(server, nullptr);
        uitest::useTestLook();
        Config& config = Config::instance();
        config.set(ConfigKey::BackendBaseUrl, server->publicUrl());
        config.set(ConfigKey::SelfHostedUrl, server->localUrl());
        config.set(ConfigKey::SelfHostedToken, server->storageToken());
        for (const QString& flag : {Preferences::isDropBox, Preferences::isDrive, Preferences::isZoho})
            Preferences::setFlag(flag, false);
        Preferences::setFlag(Preferences::isSelfHosted, true);
        shell = std::make_unique<AppShell>();
        shell->showMainPanes();
        shell->window()->show();
    }
    void TearDown() override {
        shell.reset();
        Config::instance().reload();
    }

    // A copy of the sample package, named name. The sample is not signed; signedBuild adds an
    // in-house profile and a signature folder so that it passes the preflight.
    static QString makePackage(const QString& name, bool signedBuild = true) {
        const QString app = QStringLiteral("Payload/HelloVantry.app/");
        const QStringList signature{app + "embedded.mobileprovision", app + "_CodeSignature/CodeResources"};
        return packages::withEntries(
            testsupport::sourceDir() + QStringLiteral("/samples/HelloVantry.ipa"),
            testsupport::makeTempDir(QStringLiteral("drop")) + QLatin1Char('/') + name,
            signedBuild ? signature : QStringList(), [&](const QString& dir) {
                testsupport::writeFile(dir + QLatin1Char('/') + signature[0], packages::signedProfile({}));
                testsupport::writeFile(dir + QLatin1Char('/') + signature[1], "<plist/>");
            });
    }
    // Drops it on the create pane.
    void dropPackage(const QString& name, bool signedBuild = true) {
        CreateView* create = shell->mainPanes()->rightView()->createView();
        ASSERT_NE(create, nullptr);
        uitest::Drag drag{create->dragView(), {}};
        drag.enter({QUrl::fromLocalFile(makePackage(name, signedBuild))});
        drag.drop();
        ASSERT_NE(shell->jobSheet(), nullptr);
    }
    NewProcessController* job() const { return shell->jobSheet() ? shell->jobSheet()->job() : nullptr; }
    ProcessView* view() const { return shell->jobSheet()->processView(); }

    static inline VantryServer* server = nullptr;
    std::unique_ptr<AppShell> shell;
};

// The unsigned sample, dropped, stops at the preflight: the sheet shows "Error" and why, at once,
// and Escape goes home. The signed one, opened with Vantry while signed in (an upper-case extension
// is a package like any other), ends with its link, which "Copy" puts on the clipboard, and "Go to
// home". Home reloads the history.
TEST_F(ShellTest, DropToProcessCompleteWithTheLinkOnTheClipboard) {
    int reloads = 0;
    QObject::connect(shell->mainPanes(), &MainPanes::reloadRequested, [&] { ++reloads; });
    dropPackage(QStringLiteral("HelloVantry.ipa"), false);
    ASSERT_TRUE(testsupport::waitUntil([&] { return job() && !isRunning(job()->state()); }, 60000));
    EXPECT_EQ(job()->state(), ProcessState::failed);
    EXPECT_EQ(view()->titleLabel()->text(), QStringLiteral("Error"));
    EXPECT_TRUE(view()->detailLabel()->text().contains(
        QLatin1String("This build is not signed: iPhones and iPads refuse to install it.")))
        << view()->detailLabel()->text().toStdString();
    shell->jobSheet()->reject();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !shell->jobSheet(); }));
    EXPECT_EQ(reloads, 1);

    shell->open(makePackage(QStringLiteral("HelloVantry.IPA")));
    ASSERT_TRUE(testsupport::waitUntil([&] { return job() && !isRunning(job()->state()); }, 60000))
        << job()->stepTitle().toStdString();
    ASSERT_EQ(job()->state(), ProcessState::completed) << job()->failureReason().toStdString();
    EXPECT_EQ(view()->titleLabel()->text(), QStringLiteral("Process Complete"));
    EXPECT_FALSE(view()->imageView()->pixmap().isNull());
    const QString link = job()->outcome().resultLink;
    EXPECT_TRUE(link.startsWith(server->publicUrl())) << link.toStdString();
    EXPECT_TRUE(view()->detailLabel()->text().endsWith(link));
    auto* rich = new QMimeData;
    rich->setHtml(QStringLiteral("<b>old</b>"));
    QGuiApplication::clipboard()->setMimeData(rich);
    view()->leftButton()->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), link);
    EXPECT_FALSE(QGuiApplication::clipboard()->mimeData()->hasHtml()) << "plain text only";
    view()->rightButton()->click();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !shell->jobSheet(); }));
    EXPECT_EQ(reloads, 2);
}

// "reload" after a job fetches the apps of the account read when the panes appeared: a storage
// provider that fails at that moment does not hide a list the backend still gives. The settings
// show that account; logging out returns to the sign-in screen (what it forgets: SignOut).
TEST_F(ShellTest, ReloadKeepsTheAccountWhoseSettingsShowAndLogoutReturnsToSignIn) {
    HistoryPane* history = shell->mainPanes()->history();
    QSignalSpy shown(history, &HistoryPane::recordsShown);
    ASSERT_TRUE(shown.wait(20000));
    EXPECT_EQ(currentUser().id, QStringLiteral("self:ann"));
    Config::instance().set(ConfigKey::SelfHostedToken, QStringLiteral("no-longer-valid"));
    NotificationCenter::instance().post(QStringLiteral("reload"));
    ASSERT_TRUE(shown.wait(20000));
    EXPECT_FALSE(history->isUnreachable()) << history->messageText().toStdString();

    shell->mainPanes()->settingsAction();
    SettingsView* settings = shell->mainPanes()->rightView()->settingsView();
    ASSERT_NE(settings, nullptr);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !settings->nameLabel()->text().isEmpty(); }));
    EXPECT_EQ(settings->nameLabel()->text(), QStringLiteral("Ann Example"));
    settings->logoutButton()->click();
    EXPECT_NE(shell->loginView(), nullptr);
    EXPECT_EQ(shell->mainPanes(), nullptr);
}

// A package opened with Vantry in the file manager ("vantry PATH") on the sign-in screen: the
// running window takes it through the single-instance channel and starts its job once the user has
// signed in to the Vantry server. (Opened while signed in: DropToProcessComplete...)
TEST_F(ShellTest, OpenWithVantryStartsTheJobAfterSignIn) {
    SingleInstance running;
    ASSERT_TRUE(running.listen());
    EXPECT_FALSE(SingleInstance().listen()) << "only one can be the running instance";
    QObject::connect(&running, &SingleInstance::urlReceived, shell.get(), &AppShell::open);
    shell->showLoginPane();
    const QString path = makePackage(QStringLiteral("Opened.ipa"));
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(QFileInfo(path).path()); // the second one starts in the package's folder
    const auto second = testsupport::runProgram(testsupport::binaryDir() + "/src/ui/vantry", {"Opened.ipa"});
    QDir::setCurrent(cwd);
    EXPECT_EQ(second.status, 0) << second.err.constData();
    EXPECT_EQ(shell->jobSheet(), nullptr);
    shell->loginView()->button(LoginView::Provider::SelfHosted)->click();
    ServerSignInWindow* window = shell->loginController()->serverWindow();
    ASSERT_NE(window, nullptr);
    window->urlField()->setText(server->localUrl());
    window->tokenField()->setText(server->storageToken());
    window->findChild<FlatButton*>(QStringLiteral("signInButton"))->click();
    ASSERT_TRUE(testsupport::waitUntil([&] { return job() && !isRunning(job()->state()); }, 60000));
    EXPECT_EQ(job()->state(), ProcessState::completed) << job()->failureReason().toStdString();
    EXPECT_EQ(job()->URL(), QUrl::fromLocalFile(path));
}

// Cancel from the sheet's button, or Escape on a running job: the job is cancelled rather than
// hidden, and it lets the sheet go once it has said so.
TEST_F(ShellTest, CancelFromTheSheetOrEscape) {
    for (const bool escape : {false, true}) {
        SCOPED_TRACE(escape ? "escape" : "button");
        dropPackage(QStringLiteral("HelloVantry.ipa"));
        job()->setCancelDelays(10, 10);
        ASSERT_TRUE(testsupport::waitUntil([&] { return view()->cancelButton()->isVisible(); }));
        if (escape)
            shell->jobSheet()->reject();
        else
            view()->cancelButton()->click();
        EXPECT_EQ(job()->state(), ProcessState::cancelled);
        EXPECT_TRUE(shell->jobSheet()->isVisible());
        ASSERT_TRUE(testsupport::waitUntil([&] { return !shell->jobSheet(); }));
    }
}

// Signed out, against the Dropbox emulators: a cancelled sign-in leaves the screen with a line; a
// pasted code reaches the panes. (A flow without its client identifier: LoginCommand.)
TEST_F(ShellTest, DropboxSignInCancelledThenPastedCode) {
    SignInEmulators emulators; // the browser shows the code to paste: the sign-in has no redirect
    ASSERT_TRUE(
        emulators.start(QStringLiteral("emu-access-SECRET-3e1d"), QStringLiteral("emu-refresh-SECRET-9a0c")));
    SignInBrowser& browser = emulators.browser;
    shell->showLoginPane();
    LoginController* login = shell->loginController();
    LoginView* view = login->loginView();
    view->button(LoginView::Provider::Dropbox)->click();
    ASSERT_NE(login->waitingWindow(), nullptr);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !browser.shownCode.isEmpty(); })); // its page is done
    login->waitingWindow()->findChild<FlatButton*>(QStringLiteral("cancelButton"))->click();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !login->waitingWindow(); }));
    EXPECT_EQ(view->message(), QStringLiteral("Sign-in cancelled."));
    EXPECT_TRUE(view->button(LoginView::Provider::Drive)->isEnabled());
    EXPECT_EQ(shell->mainPanes(), nullptr);

    browser.shownCode.clear();
    view->button(LoginView::Provider::Dropbox)->click();
    WaitingWindow* waiting = login->waitingWindow();
    ASSERT_TRUE(waiting && waiting->isVisible() && waiting->codeField());
    ASSERT_TRUE(testsupport::waitUntil([&] { return !browser.shownCode.isEmpty(); }));
    // "Open the page again" opens it again; the sign-in keeps waiting.
    const int opened = browser.pagesOpened;
    waiting->findChild<FlatButton*>(QStringLiteral("openAgainButton"))->click();
    EXPECT_EQ(browser.pagesOpened, opened + 1);
    waiting->codeField()->setText(QStringLiteral("  ") + browser.shownCode + QStringLiteral(" "));
    emit waiting->codeField()->returnPressed();
    ASSERT_TRUE(testsupport::waitUntil([&] { return shell->mainPanes() != nullptr; }, 30000))
        << view->message().toStdString();
    EXPECT_TRUE(Preferences::flag(Preferences::isDropBox));
}

} // namespace
