// The history pane and the details pane against a vantry-server running in this process, filled
// through its own API: users and apps with the backend client, installs through the public install
// links with the agent as User-Agent.
#include "backend/Zelko.h"
#include "core/Config.h"
#include "qrcode/QRCode.h"
#include "qrcode/widgets/QRCodeView.h"
#include "server/Database.h"
#include "server/InProcessServer.h"
#include "server/VantryServer.h"
#include "ui/history/AppDetailView.h"
#include "ui/history/DeviceChecksRow.h"
#include "ui/history/HistoryPane.h"
#include "ui/history/InstallChart.h"
#include "ui/history/InstallDetailButton.h"
#include "ui/history/InstallTimeline.h"

#include "../backend/CannedServer.h"
#include "HistoryAgents.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QListView>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUrlQuery>

using testsupport::waitUntil;

namespace {

class HistoryWidgets : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ServerOptions options;
        options.installRepeatWindow = 0; // the test opens install links many times from one address
        options.installsPerMinute = 0;
        s_server = startServer(options).release();
        ASSERT_NE(s_server, nullptr);
    }
    static void TearDownTestSuite() { delete s_server; }
    void TearDown() override { currentUser() = ZUser{}; }

    static VantryServer& server() { return *s_server; }
    static BackendApi api() { return BackendApi(s_server->localUrl()); }

    // The signed-in profile, delivered on a later turn of the event loop like a storage client's.
    static HistoryPane::UserSource userSource(const QString& id) {
        return [id](QObject* context, std::function<void(const ZUser&)> onUser, auto) {
            QTimer::singleShot(0, context, [id, onUser] {
                onUser(ZUser{"Name of " + id, id + "@example.com", id, {}});
            });
        };
    }

    static DesktopSeams quietSeams() {
        return {[](const QUrl&) { ADD_FAILURE() << "nothing may open in this test"; },
                [](QWidget*, const QString&, const QString&) { return QString(); },
                [] { return QGuiApplication::clipboard(); }};
    }

    // Registers owner and publishes app as theirs; returns the app's stable link.
    static QString addApp(const QString& owner, Zapp app) {
        currentUser() = ZUser{owner, owner + "@example.com", owner, {}};
        bool registered = false;
        api().addNewUser(currentUser(), [&] { registered = true; });
        EXPECT_TRUE(waitUntil([&] { return registered; }));
        app.appurl = "https://files.example.com/" + app.appid;
        QString link, stable;
        api().createApp(app, [&](const QString& url, const QString& latest) { link = url, stable = latest; });
        EXPECT_TRUE(waitUntil([&] { return !link.isEmpty(); }));
        return stable;
    }
    static Zapp zapp(const QString& appid, const QString& name = {}, const QString& date = {}) {
        Zapp app;
        app.appid = appid;
        app.appname = name;
        app.appdate = date;
        return app;
    }

    // One install as a phone following the public page's install button records it.
    static void addInstall(const QString& appid, const QString& agent) {
        QNetworkAccessManager network;
        QNetworkRequest request(QUrl(s_server->localUrl() + QString(appid).remove("__android") + "/install"));
        request.setHeader(QNetworkRequest::UserAgentHeader, agent);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        std::unique_ptr<QNetworkReply> reply(network.get(request));
        ASSERT_TRUE(waitUntil([&] { return reply->isFinished(); }));
        EXPECT_EQ(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 302);
    }

    // The details of an app once its installs are loaded.
    static std::unique_ptr<AppDetailView> loadedDetails(const Zapp& app) {
        auto details = std::make_unique<AppDetailView>(app, api(), quietSeams());
        QSignalSpy loaded(details.get(), &AppDetailView::installsLoaded);
        EXPECT_TRUE(loaded.wait(10000));
        return details;
    }

    static inline VantryServer* s_server = nullptr;
};

} // namespace

// The owner's apps (only theirs: HandlersTest) newest first, an Android app under its link without
// the suffix; the chosen app's details with and without installs.
TEST_F(HistoryWidgets, ListsNewestFirstAndShowsTheChosenAppsDetails) {
    const QString owner = "order-user";
    const QString appid = "Droid00001__android";
    addApp(owner, zapp("JanApp0001", "January", "2023/01/05 10:00"));
    addApp(owner, zapp(appid, "Droid", "2024/03/02 11:15"));
    const QMap<QString, QString> agents = corpusAgents();
    for (const QString& agent : agents)
        addInstall(appid, agent);
    addInstall(appid, agents.value("iOS 16.6"));

    HistoryPane pane(api(), userSource(owner));
    pane.resize(320, 420);
    pane.show();
    QSignalSpy shown(&pane, &HistoryPane::recordsShown);
    pane.refresh();
    EXPECT_TRUE(pane.isLoading());
    ASSERT_TRUE(shown.wait(10000));
    EXPECT_TRUE(!pane.isLoading() && currentUser().id == owner);
    const QAbstractItemModel* model = pane.listView()->model();
    ASSERT_EQ(model->rowCount(), 2);
    EXPECT_EQ(model->index(0, 0).data().toString() + ' ' + model->index(1, 0).data().toString(),
              "Droid January");
    const QString link = server().localUrl() + "Droid00001";
    EXPECT_EQ(model->index(0, 0).data(Qt::UserRole + 2).toString(), link);
    EXPECT_EQ(pane.messageText(), QString());

    QSignalSpy chosen(&pane, &HistoryPane::appChosen);
    QTest::mouseClick(pane.listView()->viewport(), Qt::LeftButton, {},
                      pane.listView()->visualRect(model->index(1, 0)).center());
    ASSERT_EQ(chosen.size(), 1);
    const Zapp app = chosen.at(0).at(0).value<Zapp>();
    EXPECT_EQ(app.appname, "January");
    EXPECT_FALSE(pane.listView()->selectionModel()->selectedIndexes().isEmpty());
    EXPECT_TRUE(
        waitUntil([&] { return pane.listView()->selectionModel()->selectedIndexes().isEmpty(); }, 2000));

    // Without installs the figures say so and there is nothing to break down.
    const auto january = loadedDetails(app);
    EXPECT_EQ(january->link(), server().localUrl() + "JanApp0001");
    EXPECT_TRUE(january->installsText() == "No of installs : 0" && january->installedStr().isEmpty());
    EXPECT_FALSE(january->infoButton()->isVisibleTo(january.get()));

    const auto details = loadedDetails(pane.apps().at(0));
    details->resize(760, 520);
    details->show();
    EXPECT_EQ(details->link(), link);
    EXPECT_EQ(QRCode::DetectQRCodes(details->qrView()->grab().toImage()), QStringList{link});
    const auto installs = agents.size() + 1;
    EXPECT_EQ(details->installsText() + '/' + details->recentText(),
              QStringLiteral("No of installs : %1/Last 30 days : %1").arg(installs));
    EXPECT_TRUE(details->installedStr().startsWith("iOS 16.6  \u2192  2 device(s)\n"));
    EXPECT_EQ(details->chart()->bars().size(), InstallChart::MaxBars);
    EXPECT_EQ(details->chart()->bars().first().count, 2);
    EXPECT_EQ(details->timeline()->days().last(), installs);

    InstallDetailButton* info = details->infoButton();
    ASSERT_TRUE(info->isVisibleTo(details.get()));
    QTest::mouseClick(info, Qt::LeftButton);
    EXPECT_TRUE(info->isPopoverShown());
    EXPECT_EQ(info->popoverText(), details->installedStr());
    QTest::mouseClick(info, Qt::LeftButton);
    EXPECT_FALSE(info->isPopoverShown());
}

// The details hand the build link on and write the code in every format; the stable link sits
// under the build link with a copy button of its own; notes edited in the details are saved on the
// server.
TEST_F(HistoryWidgets, DetailsShareTheLinksAndSaveTheNotes) {
    Zapp app = zapp("Share00001", "Share & Tell");
    app.bundleID = "com.example.noted";
    app.appdescription = "First notes";
    const QString latest = addApp("sharing-user", app);
    ASSERT_FALSE(latest.isEmpty());
    app.latestUrl = latest; // as the app list brings it (pinned in the server and client tests)
    QList<QUrl> opened;
    QString nextPath;
    DesktopSeams seams = quietSeams();
    seams.openUrl = [&](const QUrl& url) { opened << url; };
    seams.saveFileName = [&](QWidget*, const QString&, const QString&) { return nextPath; };
    seams.editNotes = [](QWidget*, const QString& current) -> std::optional<QString> {
        return current + "\nSecond line";
    };
    AppDetailView details(app, api(), seams);
    const QString link = server().localUrl() + "Share00001";

    details.copyTo();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), link);
    details.openInBrowser();
    details.sendByMail();
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened.at(0), QUrl(link));
    const QUrlQuery mail(opened.at(1));
    EXPECT_EQ((QStringList{opened.at(1).scheme(), mail.queryItemValue("body", QUrl::FullyDecoded),
                           mail.queryItemValue("subject", QUrl::FullyDecoded)}),
              (QStringList{"mailto", link, app.appname}));

    const QString dir = testsupport::makeTempDir();
    for (const char* magic : {"png", "svg", "pdf"}) {
        nextPath = dir + "/code." + magic;
        details.saveQRCodeAs(QLatin1String(magic));
        const QByteArray bytes = testsupport::readFile(nextPath);
        EXPECT_TRUE(bytes.startsWith("\x89PNG") || bytes.contains("<svg") || bytes.startsWith("%PDF"))
            << magic;
    }
    EXPECT_EQ(QRCode::DetectQRCodes(QImage(dir + "/code.png")), QStringList{link});
    EXPECT_FALSE(details.saveQRCode(dir + "/missing/folder/code.png"));

    ASSERT_NE(details.latestLabel(), nullptr);
    EXPECT_EQ(details.latestLabel()->text(), latest);
    QTest::mouseClick(details.copyLatestButton(), Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), latest);
    EXPECT_EQ(AppDetailView(zapp("Plain00001"), api(), quietSeams()).latestLabel(), nullptr);

    EXPECT_EQ(details.notesBox()->shownText(), "First notes");
    QSignalSpy saved(details.notesBox(), &ReleaseNotesBox::saved);
    QTest::mouseClick(details.notesBox()->editButton(), Qt::LeftButton);
    ASSERT_TRUE(saved.wait(10000)) << details.statusText().toStdString();
    EXPECT_EQ(details.notesBox()->shownText(), "First notes\nSecond line");
    EXPECT_EQ(server().database().app(app.appid)->appdescription, "First notes\nSecond line");
}

// The details of a development or ad hoc build count the devices testers checked, each once,
// and copy those the build lacks in Apple's upload form; other builds have no such row.
TEST_F(HistoryWidgets, DeviceChecksOfAnAdHocBuild) {
    addApp("device-user", zapp("AdHoc00001", "Ad Hoc", "2024/05/06 07:08"));
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    // The list and summary formats themselves are pinned in the records tests.
    const StoredDeviceCheck checks[] = {
        {"c1", "AdHoc00001", "00008030-001A35E11A88802E", "iPhone15,2", "21F90", "Ann", false, now - 30},
        {"c2", "AdHoc00001", "00008101-000A1B2C3D4E5F60", "iPhone13,1", "21E236", "Bob", true, now - 20}};
    for (const StoredDeviceCheck& c : checks)
        ASSERT_EQ(server().database().insertDeviceCheck(c, 0), Database::Insert::Added);
    Zapp app = zapp("AdHoc00001");
    app.profileKind = "ad-hoc";
    app.provisionedDevices = "12";
    AppDetailView details(app, api(), quietSeams());
    ASSERT_TRUE(details.devicesRow());
    QSignalSpy loaded(details.devicesRow(), &DeviceChecksRow::checksLoaded);
    ASSERT_TRUE(loaded.wait(10000));
    EXPECT_EQ(details.devicesRow()->text(), "Devices: 2 checked, 1 not in this build");
    details.devicesRow()->copyButton()->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              "Device ID\tDevice Name\tDevice Platform\n00008030-001A35E11A88802E\tAnn\tios\n");

    for (const char* kind : {"enterprise", "app-store", "", "android"}) {
        app.profileKind = QLatin1String(kind) == "android" ? "development" : kind;
        app.appid = QLatin1String(kind) == "android" ? "AdHoc00001__android" : "AdHoc00001";
        EXPECT_FALSE(AppDetailView(app, api(), quietSeams()).devicesRow()) << kind;
    }
}

// A silent server gives the retry line, and retrying onto an empty history says so; a failed profile
// says which side failed. (A refused answer: ZelkoAnswersTest.)
TEST_F(HistoryWidgets, UnreachableServerOrProfile) {
    Config::instance().set(ConfigKey::BackendRequestTimeoutSeconds, "1");
    CannedServer silent;
    silent.setAnswer(200, QByteArray(), false);
    HistoryPane pane(BackendApi(silent.baseUrl()), userSource("patient-user"));
    QSignalSpy unreachable(&pane, &HistoryPane::serverUnreachable);
    pane.refresh();
    ASSERT_TRUE(unreachable.wait(10000));
    EXPECT_FALSE(pane.isLoading());
    EXPECT_EQ(pane.messageText(), "The Vantry server could not be reached.");
    EXPECT_TRUE(pane.retryButton()->isVisibleTo(&pane));

    silent.setAnswer(200, R"({"isSuccess": true, "response": []})");
    QSignalSpy shown(&pane, &HistoryPane::recordsShown);
    QTest::mouseClick(pane.retryButton(), Qt::LeftButton);
    ASSERT_TRUE(shown.wait(10000));
    EXPECT_EQ(pane.messageText(), "No Previous Records");
    EXPECT_EQ(pane.listView()->model()->rowCount(), 0);
    Config::instance().reload();

    HistoryPane failed(api(), [](QObject* context, auto, std::function<void(const QString&)> onFailure) {
        QTimer::singleShot(0, context, [onFailure] { onFailure("token expired"); });
    });
    QSignalSpy failedProfile(&failed, &HistoryPane::serverUnreachable);
    failed.refresh();
    ASSERT_TRUE(failedProfile.wait(5000));
    EXPECT_EQ(failed.messageText(), "Your storage account could not be reached.");
}
