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

namespace {

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
                            "tie-b@2022/06/01 08:00", "undated@"}) {
        apps << Zapp();
        apps.last().appname = QString(app).section('@', 0, 0);
        apps.last().appdate = QString(app).section('@', 1);
    }
    QStringList names;
    for (const Zapp& app : history::sortedNewestFirst(apps))
        names << app.appname;
    EXPECT_EQ(names.join(' '), "nov jan tie-a tie-b undated");
}

TEST(HistoryModel, PublicLinkDropsEveryAndroidSuffixAndDatesFollowTheLocale) {
    const std::pair<const char*, const char*> cases[] = {{"Ab12Cd34Ef", "Ab12Cd34Ef"},
                                                         {"Ab12Cd34Ef__android", "Ab12Cd34Ef"},
                                                         {"a__androidb__android", "ab"},
                                                         {"", ""}};
    for (const auto& [appid, path] : cases)
        EXPECT_EQ(history::publicLink("https://get.example.com/", appid),
                  QString("https://get.example.com/") + path);
    // Dates show in the given locale, or as they stand when they are not ours.
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    // CLDR releases differ in the blank before "AM".
    EXPECT_TRUE(
        history::displayDate("2023/11/20 09:30", us).contains(QRegularExpression("^11/20/23 9:30\\sAM$")));
    EXPECT_EQ(history::displayDate("2023/11/20 09:30", QLocale(QLocale::German)), "20.11.23 09:30");
    EXPECT_EQ(history::displayDate("20 Nov 2023", us), "20 Nov 2023");
}

TEST(AppIcon, InlineRuleAndWebAddresses) {
    const QByteArray base64 = pngOf(Qt::red).toBase64();
    QByteArray broken; // a line break every 16 characters, as mail-style encoders write it
    for (qsizetype i = 0; i < base64.size(); i += 16)
        broken += base64.mid(i, 16) + "\r\n";
    QImage red(2, 2, QImage::Format_RGB32);
    red.fill(Qt::red);
    const std::pair<QByteArray, bool> cases[] = {
        // text, whether it decodes
        {"data:image/png;base64," + broken, true},
        {base64, true},          // bare, without a comma
        {"x,y," + base64, true}, // only the text after the last comma counts
        {"", false},
        {"data:image/png;base64,\n", false},
        {"%%% not an image %%%", false},
        {QByteArray("just text").toBase64(), false},
    };
    for (const auto& [text, decodes] : cases) {
        EXPECT_FALSE(AppIcon::isWebAddress(QString::fromLatin1(text))) << text.constData();
        EXPECT_EQ(AppIcon::decodeInline(QString::fromLatin1(text)).convertToFormat(QImage::Format_RGB32),
                  decodes ? red : AppIcon::placeholder().convertToFormat(QImage::Format_RGB32))
            << text.constData();
    }
    // Only http and https addresses are downloaded.
    for (const char* web :
         {"https://dl.example.com/s/abc/icon.png?raw=1", "http://127.0.0.1:8027/files/icon.png"})
        EXPECT_TRUE(AppIcon::isWebAddress(web)) << web;
    for (const char* other : {"https://x.example/data:image/png", "file:///etc/passwd"})
        EXPECT_FALSE(AppIcon::isWebAddress(other)) << other;
}

TEST(AppIcon, DownloadsOnceLimitedAndKeepsTheViewOnEmptyAnswers) {
    CannedServer server;
    IconLoader& loader = IconLoader::instance();
    loader.clearCache();
    QObject context;
    const QString url = server.baseUrl() + "icon.png";

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
    const std::pair<const char*, QByteArray> silent[] = {{"empty.png", QByteArray()},
                                                         {"text.png", "not an image"},
                                                         {"big.png", pngOf(Qt::green).repeated(20)}};
    for (const auto& [path, body] : silent) {
        server.setAnswer(200, body);
        loader.load(server.baseUrl() + path, &context, [&](const QImage&) { ++delivered; });
        ASSERT_TRUE(testsupport::waitUntil([&] { return loader.pendingCount() == 0; })) << path;
    }
    loader.setMaxBytes(IconLoader::DefaultMaxBytes);
    EXPECT_EQ(delivered, 0);
    EXPECT_EQ(loader.cachedCount(), 1);
}

TEST(InstallBreakdown, CountsSortsAndFormatsTheKeysOfRealAgents) {
    const QMap<QString, QString> agentOf = corpusAgents();
    ASSERT_EQ(agentOf.size(), 5);
    for (const auto& [key, agent] : agentOf.asKeyValueRange())
        EXPECT_EQ(InstallBreakdown::osKey(agent), key) << agent.toStdString();
    QList<Response> installs;
    for (const char* key :
         {"Android 14", "iOS 16.6", "mac os ", " ", "iOS 16.6", "iOS 18.7", "Android 14", "iOS 16.6"})
        installs << install(agentOf.value(key));
    const InstallBreakdown b = InstallBreakdown::fromInstalls(installs);
    EXPECT_EQ(b.total, 8);
    EXPECT_EQ(b.text(),
              "iOS 16.6  \u2192  3 device(s)\nAndroid 14  \u2192  2 device(s)\n   \u2192  1 device(s)\n"
              "iOS 18.7  \u2192  1 device(s)\nmac os   \u2192  1 device(s)\n");
    ASSERT_EQ(b.entries().size(), 5);
    EXPECT_EQ(b.entries().at(1), (QMap<QString, QString>{{"version", "Android 14"}, {"number", "2"}}));
    EXPECT_EQ(InstallBreakdown::fromInstalls({}).text(), QString());
}

TEST(InstallBreakdown, DailyCountsCoverTheLastThirtyLocalDays) {
    const QDateTime now(QDate(2024, 3, 31), QTime(12, 0));
    QList<Response> installs = {install("no time")};
    for (const QDateTime& when :
         {now, QDateTime(QDate(2024, 3, 31), QTime(0, 1)), now.addDays(-1),
          QDateTime(QDate(2024, 3, 2), QTime(0, 0)), QDateTime(QDate(2024, 3, 1), QTime(23, 59))}) {
        installs << Response();
        installs.last().installedAt = when.toSecsSinceEpoch();
    }
    QList<int> expected(30, 0); // oldest day first
    expected[29] = 2, expected[28] = 1, expected[0] = 1;
    EXPECT_EQ(InstallBreakdown::daily(installs, now), expected);

    EXPECT_EQ(InstallBreakdown::daily({}, now), QList<int>(30, 0));
    EXPECT_FALSE(InstallBreakdown::daily({install("no time")}, now));
}
