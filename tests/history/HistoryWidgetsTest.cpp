// The history pane and the details pane against a vantry-server running in this process.
#include "core/Config.h"
#include "qrcode/QRCode.h"
#include "server/Database.h"
#include "server/VantryServer.h"
#include "ui/history/AppDetailView.h"
#include "ui/history/DeviceChecksRow.h"
#include "ui/history/HistoryPane.h"
#include "ui/history/InstallChart.h"
#include "ui/history/InstallDetailButton.h"
#include "ui/history/InstallTimeline.h"

#include "../backend/CannedServer.h"
#include "HistoryFixture.h"

#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using testsupport::waitUntil;

namespace {

class HistoryWidgets : public HistoryFixture {};

QStringList rowNames(const HistoryPane& pane) {
    QStringList names;
    const auto* model = pane.listView()->model();
    for (int row = 0; row < model->rowCount(); ++row)
        names << model->index(row, 0).data().toString();
    return names;
}

void clickRow(HistoryPane& pane, int row) {
    QListView* list = pane.listView();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualRect(list->model()->index(row, 0)).center());
}

} // namespace

TEST_F(HistoryWidgets, ListsNewestFirstAndShowsTheChosenAppsDetails) {
    const QString owner = QStringLiteral("order-user");
    addApp(owner, QStringLiteral("JanApp0001"), QStringLiteral("January"),
           QStringLiteral("2023/01/05 10:00"));
    addApp(owner, QStringLiteral("NovApp0001"), QStringLiteral("November"),
           QStringLiteral("2023/11/20 09:30"));
    addApp(QStringLiteral("someone-else"), QStringLiteral("OtherApp01"), QStringLiteral("Not mine"),
           QStringLiteral("2024/01/01 00:00"));

    HistoryPane pane(api(), userSource(owner));
    pane.resize(320, 420);
    pane.show();
    QSignalSpy shown(&pane, &HistoryPane::recordsShown);
    pane.refresh();
    EXPECT_TRUE(pane.isLoading());
    ASSERT_TRUE(shown.wait(10000));
    EXPECT_FALSE(pane.isLoading());
    EXPECT_EQ(currentUser().id, owner);
    EXPECT_EQ(rowNames(pane), QStringList({QStringLiteral("November"), QStringLiteral("January")}));
    EXPECT_EQ(pane.messageText(), QString());

    QSignalSpy chosen(&pane, &HistoryPane::appChosen);
    clickRow(pane, 1);
    ASSERT_EQ(chosen.size(), 1);
    const Zapp app = chosen.at(0).at(0).value<Zapp>();
    EXPECT_EQ(app.appname, QStringLiteral("January"));
    EXPECT_FALSE(pane.listView()->selectionModel()->selectedIndexes().isEmpty());
    EXPECT_TRUE(
        waitUntil([&] { return pane.listView()->selectionModel()->selectedIndexes().isEmpty(); }, 2000));

    AppDetailView details(app, api(), quietSeams());
    EXPECT_EQ(details.link(), server().localUrl() + QStringLiteral("JanApp0001"));
    EXPECT_EQ(details.findChild<QLabel*>(QStringLiteral("title"))->text(), QStringLiteral("January"));
}

TEST_F(HistoryWidgets, EmptyHistorySaysSo) {
    const auto pane = shownPane(QStringLiteral("empty-user"));
    EXPECT_EQ(pane->messageText(), QStringLiteral("No Previous Records"));
    EXPECT_EQ(pane->listView()->model()->rowCount(), 0);
}

TEST_F(HistoryWidgets, AndroidLinkAndCodeHaveNoSuffixAndThePopoverToggles) {
    const QString owner = QStringLiteral("android-user");
    const QString appid = QStringLiteral("Droid00001__android");
    addApp(owner, appid, QStringLiteral("Droid"), QStringLiteral("2024/03/02 11:15"));
    const QStringList agents = corpusAgents().values();
    for (const QString& agent : agents)
        addInstall(appid, agent);
    addInstall(appid, corpusAgents().value(QStringLiteral("iOS 16.6")));

    const auto pane = shownPane(owner);
    const QString link = server().localUrl() + QStringLiteral("Droid00001");
    EXPECT_EQ(pane->listView()->model()->index(0, 0).data(Qt::UserRole + 2).toString(), link);

    const auto details = loadedDetails(pane->apps().at(0));
    details->resize(760, 520);
    details->show();
    EXPECT_EQ(details->link(), link);
    const QList<QRCodeDetection> found = QRCode::DetectQRCodeDetails(details->qrImage());
    ASSERT_EQ(found.size(), 1);
    EXPECT_EQ(found.at(0).text, link);
    const auto installs = agents.size() + 1;
    EXPECT_EQ(details->installsText(), QStringLiteral("No of installs : %1").arg(installs));
    EXPECT_TRUE(details->installedStr().startsWith(QStringLiteral("iOS 16.6  \u2192  2 device(s)\n")));
    EXPECT_EQ(details->chart()->bars().size(), InstallChart::MaxBars);
    EXPECT_EQ(details->chart()->bars().first().count, 2);
    EXPECT_EQ(details->recentText(), QStringLiteral("Last 30 days : %1").arg(installs));
    EXPECT_EQ(details->timeline()->days().last(), installs);

    InstallDetailButton* info = details->infoButton();
    ASSERT_TRUE(info->isVisibleTo(details.get()));
    QTest::mouseClick(info, Qt::LeftButton);
    EXPECT_TRUE(info->isPopoverShown());
    EXPECT_EQ(info->popoverText(), details->installedStr());
    QTest::mouseClick(info, Qt::LeftButton);
    EXPECT_FALSE(info->isPopoverShown());
}

TEST_F(HistoryWidgets, ZeroInstallsHideTheInfoButton) {
    addApp(QStringLiteral("quiet-user"), QStringLiteral("Quiet00001"), QStringLiteral("Quiet"),
           QStringLiteral("2024/05/06 07:08"));
    Zapp app;
    app.appid = QStringLiteral("Quiet00001");
    const auto details = loadedDetails(app);
    EXPECT_EQ(details->installsText(), QStringLiteral("No of installs : 0"));
    EXPECT_EQ(details->installedStr(), QString());
    EXPECT_FALSE(details->infoButton()->isVisibleTo(details.get()));
}

TEST_F(HistoryWidgets, SharingHandsTheLinkOnAndWritesEveryFormat) {
    Zapp app;
    app.appid = QStringLiteral("Share00001__android");
    app.appname = QStringLiteral("Share & Tell");
    QList<QUrl> opened;
    QString nextPath;
    DesktopSeams seams = quietSeams();
    seams.openUrl = [&](const QUrl& url) { opened << url; };
    seams.saveFileName = [&](QWidget*, const QString&, const QString&) { return nextPath; };
    AppDetailView details(app, api(), seams);
    const QString link = server().localUrl() + QStringLiteral("Share00001");

    details.copyTo();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), link);
    details.openInBrowser();
    details.sendByMail();
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened.at(0), QUrl(link));
    EXPECT_EQ(opened.at(1).scheme(), QStringLiteral("mailto"));
    EXPECT_EQ(QUrlQuery(opened.at(1)).queryItemValue(QStringLiteral("body"), QUrl::FullyDecoded), link);
    EXPECT_EQ(QUrlQuery(opened.at(1)).queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded),
              app.appname);

    const QString dir = testsupport::makeTempDir(QStringLiteral("qr"));
    for (const char* magic : {"png", "svg", "pdf"}) {
        nextPath = dir + QStringLiteral("/code.") + QLatin1String(magic);
        details.saveQRCodeAs(QLatin1String(magic));
        const QByteArray bytes = testsupport::readFile(nextPath);
        EXPECT_TRUE(bytes.startsWith("\x89PNG") || bytes.contains("<svg") || bytes.startsWith("%PDF"))
            << magic;
    }
    QImage png(dir + QStringLiteral("/code.png"));
    ASSERT_FALSE(QRCode::DetectQRCodeDetails(png).isEmpty());
    EXPECT_EQ(QRCode::DetectQRCodeDetails(png).at(0).text, link);
    EXPECT_FALSE(details.saveQRCode(dir + QStringLiteral("/missing/folder/code.png")));
}

// The details of a development or ad hoc build count the devices testers checked, each once,
// and copy those the build lacks in Apple's upload form; other builds have no such row.
TEST_F(HistoryWidgets, DeviceChecksOfAnAdHocBuild) {
    const QString owner = QStringLiteral("device-user");
    addApp(owner, QStringLiteral("AdHoc00001"), QStringLiteral("Ad Hoc"), QStringLiteral("2024/05/06 07:08"));
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const StoredDeviceCheck checks[] = {
        {"c1", "AdHoc00001", "00008030-001A35E11A88802E", "iPhone15,2", "21F90", "Ann", false, now - 30},
        {"c2", "AdHoc00001", "00008101-000A1B2C3D4E5F60", "iPhone13,1", "21E236", "Bob", true, now - 20},
        {"c3", "AdHoc00001", "00008101-000A1B2C3D4E5F61", "iPad13,4", "21E236", "Cy", true, now - 10},
        {"c4", "AdHoc00001", "00008030-001A35E11A88802E", "iPhone15,2", "21F90", "Ann", false, now}};
    for (const StoredDeviceCheck& c : checks)
        ASSERT_EQ(server().database().insertDeviceCheck(c, 0), Database::Insert::Added);
    Zapp app;
    app.appid = QStringLiteral("AdHoc00001");
    app.profileKind = QStringLiteral("ad-hoc");
    app.provisionedDevices = QStringLiteral("12");
    AppDetailView details(app, api(), quietSeams());
    ASSERT_TRUE(details.devicesRow());
    QSignalSpy loaded(details.devicesRow(), &DeviceChecksRow::checksLoaded);
    ASSERT_TRUE(loaded.wait(10000));
    EXPECT_EQ(details.devicesRow()->text(), QStringLiteral("Devices: 3 checked, 1 not in this build"));
    details.devicesRow()->copyButton()->click();
    EXPECT_EQ(
        QGuiApplication::clipboard()->text(),
        QStringLiteral("Device ID\tDevice Name\tDevice Platform\n00008030-001A35E11A88802E\tAnn\tios\n"));

    for (const char* kind : {"enterprise", "app-store", ""}) {
        app.profileKind = QLatin1String(kind);
        EXPECT_FALSE(AppDetailView(app, api(), quietSeams()).devicesRow()) << kind;
    }
    app.profileKind = QStringLiteral("development");
    app.appid = QStringLiteral("AdHoc00001__android");
    EXPECT_FALSE(AppDetailView(app, api(), quietSeams()).devicesRow());
}

// The stable link sits under the build link with a copy button of its own; notes edited in the
// details are saved on the server.
TEST_F(HistoryWidgets, StableLinkAndNotesInTheDetails) {
    const QString owner = QStringLiteral("noting-user");
    currentUser() = ZUser{owner, QString(), owner, {}};
    bool registered = false;
    api().addNewUser(currentUser(), [&] { registered = true; });
    ASSERT_TRUE(waitUntil([&] { return registered; }));
    Zapp sent;
    sent.appid = QStringLiteral("Noted00001");
    sent.appurl = QStringLiteral("https://files.example.com/noted.ipa");
    sent.bundleID = QStringLiteral("com.example.noted");
    sent.appdescription = QStringLiteral("First notes");
    QString latest;
    api().createApp(sent, [&](const QString&, const QString& stable) { latest = stable; });
    ASSERT_TRUE(waitUntil([&] { return !latest.isEmpty(); }));
    QList<Zapp> apps;
    api().fetchApps(owner, [&](const QList<Zapp>& list) { apps = list; });
    ASSERT_TRUE(waitUntil([&] { return !apps.isEmpty(); }));
    EXPECT_EQ(apps.constFirst().latestUrl, latest);
    EXPECT_EQ(apps.constFirst().bundleID, sent.bundleID);

    DesktopSeams seams = quietSeams();
    seams.editNotes = [](QWidget*, const QString& current) -> std::optional<QString> {
        return current + QStringLiteral("\nSecond line");
    };
    AppDetailView details(apps.constFirst(), api(), seams);
    ASSERT_NE(details.latestLabel(), nullptr);
    EXPECT_EQ(details.latestLabel()->text(), latest);
    QTest::mouseClick(details.copyLatestButton(), Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), latest);
    EXPECT_EQ(details.notesBox()->shownText(), QStringLiteral("First notes"));
    QSignalSpy saved(details.notesBox(), &ReleaseNotesBox::saved);
    QTest::mouseClick(details.notesBox()->editButton(), Qt::LeftButton);
    ASSERT_TRUE(saved.wait(10000)) << details.statusText().toStdString();
    EXPECT_EQ(details.notesBox()->shownText(), QStringLiteral("First notes\nSecond line"));
    EXPECT_EQ(server().database().app(sent.appid)->appdescription,
              QStringLiteral("First notes\nSecond line"));

    Zapp plain;
    plain.appid = QStringLiteral("Plain00001");
    EXPECT_EQ(AppDetailView(plain, api(), quietSeams()).latestLabel(), nullptr);
}

TEST_F(HistoryWidgets, SilentServerShowsTheRetryLine) {
    Config::instance().set(ConfigKey::BackendRequestTimeoutSeconds, QStringLiteral("1"));
    CannedServer silent;
    silent.setAnswer(200, QByteArray(), false);
    HistoryPane pane(BackendApi(silent.baseUrl()), userSource(QStringLiteral("patient-user")));
    QSignalSpy unreachable(&pane, &HistoryPane::serverUnreachable);
    pane.refresh();
    ASSERT_TRUE(unreachable.wait(10000));
    EXPECT_FALSE(pane.isLoading());
    EXPECT_EQ(pane.messageText(), QStringLiteral("The Vantry server could not be reached."));
    EXPECT_TRUE(pane.retryButton()->isVisibleTo(&pane));

    silent.setAnswer(200, R"({"isSuccess": true, "response": []})");
    QSignalSpy shown(&pane, &HistoryPane::recordsShown);
    QTest::mouseClick(pane.retryButton(), Qt::LeftButton);
    ASSERT_TRUE(shown.wait(10000));
    EXPECT_EQ(pane.messageText(), QStringLiteral("No Previous Records"));
    Config::instance().reload();
}

TEST_F(HistoryWidgets, RefusedInstallsLeaveTheFiguresAndTheProfileFailureOffersRetry) {
    CannedServer refusing;
    refusing.setAnswer(200, R"({"isSuccess": false, "response": []})");
    testsupport::LogCapture log;
    Zapp app;
    app.appid = QStringLiteral("Refused001");
    AppDetailView details(app, BackendApi(refusing.baseUrl()), quietSeams());
    ASSERT_TRUE(waitUntil([&] { return log.lines().contains(QStringLiteral("not right!!")); }));
    EXPECT_EQ(details.installsText(), QString());
    EXPECT_TRUE(details.infoButton()->isVisibleTo(&details));

    HistoryPane pane(api(), [](QObject* context, auto, std::function<void(const QString&)> onFailure) {
        QTimer::singleShot(0, context, [onFailure] { onFailure(QStringLiteral("token expired")); });
    });
    QSignalSpy unreachable(&pane, &HistoryPane::serverUnreachable);
    pane.refresh();
    ASSERT_TRUE(unreachable.wait(5000));
    EXPECT_EQ(pane.messageText(), QStringLiteral("Your storage account could not be reached."));
}
