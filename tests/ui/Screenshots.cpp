// Renders the README's pictures: the whole window, with a sheet or a popover where one is open, in
// the light and the dark palette, against a vantry-server in this process that holds a few apps
// and their installs. Writes into SCREENSHOT_DIR (docs/screenshots when run by
// `cmake --build build --target screenshots`); without it into the build folder. A program of
// its own: the test suite does not run it.
#include "UiTestSupport.h"

#include "backend/Zelko.h"
#include "core/Config.h"
#include "core/Preferences.h"
#include "qrcode/QRCodeDocument.h"
#include "server/InProcessServer.h"
#include "support/TestSupport.h"
#include "ui/JobSheet.h"
#include "ui/LoginView.h"
#include "ui/MainPanes.h"
#include "ui/MainWindow.h"
#include "ui/ProcessView.h"
#include "ui/RightView.h"
#include "ui/SettingsView.h"
#include "ui/Theme.h"
#include "ui/history/AppDetailView.h"
#include "ui/history/HistoryPane.h"
#include "ui/history/InstallDetailButton.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPainter>
#include <QPainterPath>
#include <QSet>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

QString outputDir() {
    QString dir = qEnvironmentVariable("SCREENSHOT_DIR");
    if (dir.isEmpty())
        dir = testsupport::binaryDir() + QStringLiteral("/screenshots");
    QDir().mkpath(dir);
    return dir;
}

// The window, and the windows standing over it (a job sheet) where they stand, with a shadow.
QImage shot(QWidget* window) {
    QCoreApplication::sendPostedEvents();
    QImage image = uitest::render(window);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top == window || !top->isVisible() || !top->parentWidget() ||
            top->parentWidget()->window() != window)
            continue;
        const QRect area = top->geometry().translated(-window->geometry().topLeft());
        for (int spread = 14; spread > 0; spread -= 2) {
            QPainterPath halo;
            halo.addRoundedRect(QRectF(area).adjusted(-spread, -spread + 6, spread, spread + 6), 10 + spread,
                                10 + spread);
            p.fillPath(halo, QColor(0, 0, 0, 10));
        }
        p.drawImage(area.topLeft(), uitest::render(top));
    }
    return image;
}

void save(QWidget* window, const QString& name) {
    const QImage image = shot(window);
    const QString scheme =
        Theme::current() == Theme::Scheme::Dark ? QStringLiteral("dark") : QStringLiteral("light");
    const QString path =
        outputDir() + QLatin1Char('/') + name + QLatin1Char('-') + scheme + QStringLiteral(".png");
    ASSERT_TRUE(image.save(path)) << path.toStdString();
    // A capture of few colours would mean the window never painted.
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 7)
        for (int x = 0; x < image.width(); x += 7)
            colours.insert(image.pixel(x, y));
    EXPECT_GT(colours.size(), 8) << name.toStdString();
}

QString iconDataUrl(QColor from, QColor to, const QString& letter) {
    QImage image(128, 128, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 128, 128);
    fill.setColorAt(0, from);
    fill.setColorAt(1, to);
    p.fillRect(image.rect(), fill);
    QFont f;
    f.setPixelSize(72);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(image.rect(), Qt::AlignCenter, letter);
    p.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return QStringLiteral("data:image/png;base64,") + QString::fromLatin1(png.toBase64());
}

// Ada's apps and the installs of the first, from the real agents the history tests use.
void fillServer(VantryServer& server) {
    const BackendApi api(server.localUrl());
    currentUser() = ZUser{
        QStringLiteral("Ada Lovelace"), QStringLiteral("ada@example.com"), QStringLiteral("self:ada"), {}};
    bool registered = false;
    api.addNewUser(currentUser(), [&] { registered = true; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return registered; }));
    const struct {
        const char *id, *name, *date;
        QColor from, to;
    } apps[] = {
        {"Orbit00001", "Orbit Notes", "2024/06/11 13:20", QColor(0x8e, 0x6c, 0xd8), QColor(0x4b, 0x2a, 0x8c)},
        {"Brew000001", "Morning Brew", "2024/08/27 07:30", QColor(0xf2, 0x99, 0x4a),
         QColor(0xa0, 0x4a, 0x12)},
        {"Trail00001__android", "Trailhead", "2024/10/02 09:05", QColor(0x27, 0xae, 0x60),
         QColor(0x0e, 0x5e, 0x35)},
        {"Ledger0001", "Pocket Ledger", "2024/11/18 16:42", QColor(0x2f, 0x80, 0xed),
         QColor(0x1b, 0x3a, 0x8c)}};
    for (const auto& a : apps) {
        Zapp app;
        app.appid = QLatin1String(a.id);
        app.appname = QLatin1String(a.name);
        app.appdate = QLatin1String(a.date);
        app.appicon = iconDataUrl(a.from, a.to, app.appname.left(1));
        app.appversion = QStringLiteral("1.4.2");
        app.appsize = QStringLiteral("12 MB");
        app.appurl = QStringLiteral("https://files.example.com/") + app.appid;
        QString link;
        api.createApp(app, [&](const QString& url, const QString&) { link = url; });
        ASSERT_TRUE(testsupport::waitUntil([&] { return !link.isEmpty(); }));
    }
    QFile agents(testsupport::sourceDir() + QStringLiteral("/tests/data/history-agents.tsv"));
    ASSERT_TRUE(agents.open(QIODevice::ReadOnly));
    QMap<QString, QString> byKey;
    for (const QByteArray& line : agents.readAll().split('\n')) {
        const QList<QByteArray> cols = line.split('\t');
        if (cols.size() == 2 && !line.startsWith('#'))
            byKey.insert(QString::fromUtf8(cols.at(0)), QString::fromUtf8(cols.at(1)));
    }
    QNetworkAccessManager network;
    for (const auto& [key, n] :
         {std::pair{"iOS 18.7", 5}, {"iOS 16.6", 3}, {"Android 14", 2}, {"mac os ", 1}}) {
        for (int i = 0; i < n; ++i) {
            QNetworkRequest request(QUrl(server.localUrl() + QStringLiteral("Ledger0001/install")));
            request.setHeader(QNetworkRequest::UserAgentHeader, byKey.value(QLatin1String(key)));
            request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                                 QNetworkRequest::ManualRedirectPolicy);
            std::unique_ptr<QNetworkReply> reply(network.get(request));
            ASSERT_TRUE(testsupport::waitUntil([&] { return reply->isFinished(); }));
        }
    }
}

class Screenshots : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        ServerOptions options;
        options.ownerId = QStringLiteral("self:ada");
        options.ownerName = QStringLiteral("Ada Lovelace");
        options.ownerEmail = QStringLiteral("ada@example.com");
        options.installRepeatWindow = 0; // every install from this one address counts
        options.installsPerMinute = 0;
        s_server = startServer(options).release();
        ASSERT_NE(s_server, nullptr);
        Config& config = Config::instance();
        config.set(ConfigKey::BackendBaseUrl, s_server->localUrl());
        config.set(ConfigKey::SelfHostedUrl, s_server->localUrl());
        config.set(ConfigKey::SelfHostedToken, s_server->storageToken());
        Preferences::setFlag(Preferences::isSelfHosted, true);
        fillServer(*s_server);
    }
    static void TearDownTestSuite() {
        delete s_server;
        s_server = nullptr;
    }
    void SetUp() override { uitest::useTestLook(); }

    // Each scene once in either palette.
    template <class Scene> void inBothPalettes(Scene scene) {
        for (const Theme::Scheme scheme : {Theme::Scheme::Light, Theme::Scheme::Dark}) {
            Theme::apply(*qApp, scheme);
            scene();
        }
    }
    // The window with the main panes, once the history shows Ada's apps.
    static std::unique_ptr<MainWindow> windowWithPanes() {
        auto window = std::make_unique<MainWindow>();
        auto* panes = new MainPanes;
        QSignalSpy shown(panes->history(), &HistoryPane::recordsShown);
        window->setContent(panes);
        window->show();
        EXPECT_TRUE(shown.wait(20000));
        return window;
    }
    static MainPanes* panes(MainWindow& window) { return qobject_cast<MainPanes*>(window.content()); }

    static inline VantryServer* s_server = nullptr;
};

TEST_F(Screenshots, SignIn) {
    inBothPalettes([] {
        MainWindow window;
        auto* login = new LoginView;
        login->setShouldStopAnimation(true);
        window.setContent(login);
        save(&window, QStringLiteral("sign-in"));
    });
}

TEST_F(Screenshots, CreatePaneWithTheHistory) {
    inBothPalettes([] { save(windowWithPanes().get(), QStringLiteral("create-pane")); });
}

TEST_F(Screenshots, SheetTransferringAndCompleted) {
    inBothPalettes([] {
        const auto window = windowWithPanes();
        JobSheet sheet(window.get());
        sheet.present();
        ProcessView* view = sheet.processView();
        view->setStatus(QStringLiteral("Processing your .ipa"), QStringLiteral("This takes few minutes."),
                        ProcessState::transferring);
        view->setProgress(QStringLiteral("42.17 %"), 42.17);
        save(window.get(), QStringLiteral("sheet-transferring"));

        const QString link = s_server->localUrl() + QStringLiteral("aB3dE5gH7j");
        view->setStatus(QStringLiteral("Process Complete"), QStringLiteral("The app is hosted here\n") + link,
                        ProcessState::completed);
        view->setResultImage(*QRCodeDocument::forLink(link).imageWithDimension(300, 1));
        save(window.get(), QStringLiteral("sheet-completed"));
    });
}

TEST_F(Screenshots, Settings) {
    inBothPalettes([] {
        const auto window = windowWithPanes();
        panes(*window)->settingsAction();
        SettingsView* settings = panes(*window)->rightView()->settingsView();
        ASSERT_TRUE(testsupport::waitUntil([&] { return !settings->mailLabel()->text().isEmpty(); }));
        save(window.get(), QStringLiteral("settings"));
    });
}

TEST_F(Screenshots, AppDetailsWithInstalls) {
    inBothPalettes([] {
        const auto window = windowWithPanes();
        MainPanes* main = panes(*window);
        auto* details = new AppDetailView(main->history()->apps().at(0));
        QSignalSpy loaded(details, &AppDetailView::installsLoaded);
        main->showDetail(details);
        ASSERT_TRUE(loaded.wait(10000));
        QCoreApplication::sendPostedEvents(); // lay out the install figures before the popover is placed
        details->infoButton()->click();
        save(window.get(), QStringLiteral("app-details"));
    });
}

} // namespace
