#include "history/HistoryModel.h"
#include "history/AppIcon.h"
#include "history/InstallBreakdown.h"

#include "../backend/CannedServer.h"
#include "HistoryAgents.h"
#include "support/TestSupport.h"

#include <QBuffer>
#include <QImage>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <numeric>

namespace {

Zapp dated(const QString& name, const QString& date) {
    Zapp app;
    app.appname = name;
    app.appdate = date;
    return app;
}

Response install(const QString& agent) {
    Response r;
    r.useragent = agent;
    return r;
}

QByteArray pngOf(QColor colour) {
    QImage image(2, 2, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace

TEST(HistoryModel, SortsByDateTextNewestFirstKeepingTies) {
    QList<Zapp> apps;
    for (const char* app : {"jan@2023/01/05 10:00", "tie-a@2022/06/01 08:00", "nov@2023/11/20 09:30",
                            "tie-b@2022/06/01 08:00", "undated@"})
        apps << dated(QString::fromLatin1(app).section(u'@', 0, 0),
                      QString::fromLatin1(app).section(u'@', 1));
    QStringList names;
    for (const Zapp& app : history::sortedNewestFirst(apps))
        names << app.appname;
    EXPECT_EQ(names.join(QLatin1Char(' ')), QStringLiteral("nov jan tie-a tie-b undated"));
}

TEST(HistoryModel, PublicLinkDropsEveryAndroidSuffix) {
    const QString base = QStringLiteral("https://get.example.com/");
    const struct {
        const char* appid;
        const char* link;
    } cases[] = {
        {"Ab12Cd34Ef", "https://get.example.com/Ab12Cd34Ef"},
        {"Ab12Cd34Ef__android", "https://get.example.com/Ab12Cd34Ef"},
        {"a__androidb__android", "https://get.example.com/ab"},
        {"", "https://get.example.com/"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(history::publicLink(base, QLatin1String(c.appid)), QLatin1String(c.link)) << c.appid;
}

TEST(HistoryModel, DateShownInTheGivenLocaleOrAsItStands) {
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    // CLDR releases differ in the blank before "AM".
    EXPECT_TRUE(history::displayDate(QStringLiteral("2023/11/20 09:30"), us)
                    .contains(QRegularExpression(QStringLiteral("^11/20/23 9:30\\sAM$"))));
    EXPECT_EQ(history::displayDate(QStringLiteral("2023/11/20 09:30"), QLocale(QLocale::German)),
              QStringLiteral("20.11.23 09:30"));
    EXPECT_EQ(history::displayDate(QStringLiteral("20 Nov 2023"), us), QStringLiteral("20 Nov 2023"));
}

TEST(AppIcon, InlineRule) {
    const QByteArray base64 = pngOf(Qt::red).toBase64();
    QByteArray broken; // a line break every 16 characters, as mail-style encoders write it
    for (qsizetype i = 0; i < base64.size(); i += 16)
        broken += base64.mid(i, 16) + "\r\n";
    const struct {
        const char* name;
        QString text;
        bool decodes;
    } cases[] = {
        {"data URL with line breaks", QStringLiteral("data:image/png;base64,") + QString::fromLatin1(broken),
         true},
        {"bare Base64 without a comma", QString::fromLatin1(base64), true},
        {"only the text after the last comma", QStringLiteral("x,y,") + QString::fromLatin1(base64), true},
        {"empty", QString(), false},
        {"nothing after the comma", QStringLiteral("data:image/png;base64,\n"), false},
        {"garbage", QStringLiteral("%%% not an image %%%"), false},
        {"Base64 of something else", QString::fromLatin1(QByteArray("just text").toBase64()), false},
    };
    for (const auto& c : cases) {
        const QImage image = AppIcon::decodeInline(c.text);
        if (c.decodes) {
            EXPECT_EQ(image.size(), QSize(2, 2)) << c.name;
            EXPECT_EQ(image.pixelColor(1, 1), QColor(Qt::red)) << c.name;
        } else {
            EXPECT_EQ(image, AppIcon::placeholder()) << c.name;
        }
    }
}

TEST(AppIcon, WebAddressesAreDownloadedEverythingElseIsInline) {
    for (const char* web :
         {"https://dl.example.com/s/abc/icon.png?raw=1", "http://127.0.0.1:8027/files/icon.png"})
        EXPECT_TRUE(AppIcon::isWebAddress(QString::fromLatin1(web))) << web;
    for (const char* other : {"data:image/png;base64,iVBORw0KGgo=", "https://x.example/data:image/png",
                              "iVBORw0KGgoAAAANSUhEUgAAAAEAAAAB", "", "file:///etc/passwd"})
        EXPECT_FALSE(AppIcon::isWebAddress(QString::fromLatin1(other))) << other;
}

TEST(AppIcon, DownloadsOnceLimitedAndKeepsTheViewOnEmptyAnswers) {
    CannedServer server;
    IconLoader& loader = IconLoader::instance();
    loader.clearCache();
    QObject context;
    const QString url = server.baseUrl() + QStringLiteral("icon.png");

    server.setAnswer(200, pngOf(Qt::blue));
    QList<QImage> got;
    loader.load(url, &context, [&](const QImage& i) { got << i; });
    loader.load(url, &context, [&](const QImage& i) { got << i; }); // joins the request in flight
    ASSERT_TRUE(testsupport::waitUntil([&] { return got.size() == 2; }));
    EXPECT_EQ(got.at(0).pixelColor(0, 0), QColor(Qt::blue));
    loader.load(url, &context, [&](const QImage& i) { got << i; }); // from the session cache
    EXPECT_EQ(got.size(), 3);
    EXPECT_EQ(server.requests().size(), 1);

    // No bytes, bytes that are no image, and an image over the size limit change nothing.
    int delivered = 0;
    loader.setMaxBytes(64);
    const struct {
        const char* path;
        QByteArray body;
    } silent[] = {{"empty.png", QByteArray()},
                  {"text.png", "not an image"},
                  {"big.png", pngOf(Qt::green).repeated(20)}};
    for (const auto& s : silent) {
        server.setAnswer(200, s.body);
        loader.load(server.baseUrl() + QLatin1String(s.path), &context, [&](const QImage&) { ++delivered; });
        ASSERT_TRUE(testsupport::waitUntil([&] { return loader.pendingCount() == 0; })) << s.path;
    }
    loader.setMaxBytes(IconLoader::DefaultMaxBytes);
    EXPECT_EQ(delivered, 0);
    EXPECT_EQ(loader.cachedCount(), 1);
}

TEST(InstallBreakdown, CountsSortsAndFormatsTheKeysOfRealAgents) {
    const QMap<QString, QString> agentOf = corpusAgents();
    ASSERT_EQ(agentOf.size(), 5);
    for (auto it = agentOf.cbegin(); it != agentOf.cend(); ++it)
        EXPECT_EQ(InstallBreakdown::osKey(it.value()), it.key()) << it.value().toStdString();
    QList<Response> installs;
    for (const char* key :
         {"Android 14", "iOS 16.6", "mac os ", " ", "iOS 16.6", "iOS 18.7", "Android 14", "iOS 16.6"})
        installs << install(agentOf.value(QString::fromLatin1(key)));
    const InstallBreakdown b = InstallBreakdown::fromInstalls(installs);
    EXPECT_EQ(b.total, 8);
    EXPECT_EQ(b.text(), QStringLiteral("iOS 16.6  \u2192  3 device(s)\n"
                                       "Android 14  \u2192  2 device(s)\n"
                                       "   \u2192  1 device(s)\n"
                                       "iOS 18.7  \u2192  1 device(s)\n"
                                       "mac os   \u2192  1 device(s)\n"));
    ASSERT_EQ(b.entries().size(), 5);
    EXPECT_EQ(b.entries().at(1),
              (QMap<QString, QString>{{QStringLiteral("version"), QStringLiteral("Android 14")},
                                      {QStringLiteral("number"), QStringLiteral("2")}}));
    EXPECT_EQ(InstallBreakdown::fromInstalls({}).text(), QString());
}

TEST(InstallBreakdown, DailyCountsCoverTheLastThirtyLocalDays) {
    const QDateTime now(QDate(2024, 3, 31), QTime(12, 0));
    auto at = [](const QDateTime& when) {
        Response r;
        r.installedAt = when.toSecsSinceEpoch();
        return r;
    };
    const QList<Response> installs = {at(now),
                                      at(QDateTime(QDate(2024, 3, 31), QTime(0, 1))),
                                      at(now.addDays(-1)),
                                      at(QDateTime(QDate(2024, 3, 2), QTime(0, 0))),
                                      at(QDateTime(QDate(2024, 3, 1), QTime(23, 59))),
                                      install(QStringLiteral("no time"))};
    const std::optional<QList<int>> days = InstallBreakdown::daily(installs, now);
    ASSERT_TRUE(days);
    ASSERT_EQ(days->size(), 30);
    EXPECT_EQ(days->at(29), 2);
    EXPECT_EQ(days->at(28), 1);
    EXPECT_EQ(days->at(0), 1);
    EXPECT_EQ(std::accumulate(days->cbegin(), days->cend(), 0), 4);

    EXPECT_EQ(InstallBreakdown::daily({}, now), QList<int>(30, 0));
    EXPECT_FALSE(InstallBreakdown::daily({install(QStringLiteral("no time"))}, now));
}
