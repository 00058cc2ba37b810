#include "core/Crash.h"
#include "core/RandomString.h"
#include "records/DeviceCheck.h"
#include "records/ZUserData.h"
#include "records/Zapp.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>
#include <QSet>

namespace {

QByteArray installsWith(const QByteArray& element) {
    return "{\"isSuccess\": true, \"response\": [" + element + "]}";
}
const QByteArray kInstall = R"({"id":"1","appid":"a","platform":"ios","name":"App","useragent":"UA")";

} // namespace

TEST(Zapp, ReadMappingUsesBackendKeysAndIgnoresWriteKeys) {
    const Zapp read(QVariantMap{{"minOS", "14.0"}, {"QRLink", "https://q/1"}, {"appname", "Demo"}});
    EXPECT_EQ((QStringList{read.appMinOS, read.qrLink, read.appname}),
              (QStringList{"14.0", "https://q/1", "Demo"}));
    const Zapp written(QVariantMap{{"minos", "14.0"}, {"qrLink", "https://q/1"}});
    EXPECT_TRUE(written.appMinOS.isEmpty() && written.qrLink.isEmpty());
    EXPECT_EQ(Zapp(QVariantMap{{"unknown", "x"}}), Zapp());
}

TEST(Zapp, FromPackageCopiesFieldsAndFormatsTheDate) {
    const PackageRecord ipa{"x.y.z", "1.2", "My App", "/tmp/icon.png", "12 MB", "15.0", "https://q"};
    const QDateTime newYearsEve(QDate(2024, 12, 31), QTime(23, 59, 41), Qt::LocalTime);
    const Zapp app(ipa, newYearsEve);
    EXPECT_EQ(app.appdate, QStringLiteral("2024/12/31 23:59"));
    EXPECT_EQ((QStringList{app.appname, app.appicon, app.appversion, app.appsize, app.appMinOS, app.qrLink}),
              (QStringList{ipa.name, ipa.icon, ipa.version, ipa.size, ipa.minOS, ipa.QR}));
    EXPECT_TRUE(app.appid.isEmpty() && app.appurl.isEmpty() && app.userid.isEmpty());

    const Zapp morning(ipa, QDateTime(QDate(2025, 1, 2), QTime(7, 5), Qt::LocalTime));
    EXPECT_EQ(morning.appdate, QStringLiteral("2025/01/02 07:05"));
}

TEST(ZUserData, StrictDecoding) {
    struct Case {
        const char* what;
        QByteArray json;
        bool decodes;
        const char* error = nullptr;
    };
    const Case cases[] = {
        {"null udid", installsWith(kInstall + ",\"udid\":null}"), true},
        {"all three null",
         installsWith(kInstall + ",\"udid\":null,\"devicename\":null,\"deviceversion\":null}"), true},
        {"text udid", installsWith(kInstall + ",\"udid\":\"abc\"}"), false, "Wrong type for JSONNull"},
        {"number devicename", installsWith(kInstall + ",\"devicename\":0}"), false,
         "Wrong type for JSONNull"},
        {"install time", installsWith(kInstall + ",\"installedAt\":1700000000}"), true},
        {"install time as text", installsWith(kInstall + ",\"installedAt\":\"1700000000\"}"), false},
        {"empty response", "{\"isSuccess\": false, \"response\": []}", true},
        {"missing response", "{\"isSuccess\": true}", false},
        {"missing isSuccess", "{\"response\": []}", false},
        {"isSuccess as text", "{\"isSuccess\": \"true\", \"response\": []}", false},
        {"isSuccess as number", "{\"isSuccess\": 1, \"response\": []}", false},
        {"response as object", "{\"isSuccess\": true, \"response\": {}}", false},
        {"missing platform", installsWith(R"({"id":"1","appid":"a","name":"n","useragent":"u"})"), false},
        {"numeric id", installsWith(R"({"id":1,"appid":"a","platform":"p","name":"n","useragent":"u"})"),
         false},
        {"null useragent",
         installsWith(R"({"id":"1","appid":"a","platform":"p","name":"n","useragent":null})"), false},
        {"element not an object", installsWith("\"x\""), false},
        {"not JSON", "<html>", false},
        {"top-level array", "[]", false},
    };
    for (const Case& c : cases) {
        QString error;
        const std::optional<ZUserData> data = ZUserData::fromJson(c.json, &error);
        EXPECT_EQ(data.has_value(), c.decodes) << c.what;
        if (!c.decodes) {
            EXPECT_FALSE(error.isEmpty()) << c.what;
        }
        if (c.error) {
            EXPECT_EQ(error, QString::fromLatin1(c.error)) << c.what;
        }
    }
}

TEST(ZUserData, RoundTripKeepsOrderAndWritesNullOnlyWhenPresent) {
    const QByteArray json = "{\"isSuccess\":true,\"response\":[" + kInstall +
                            ",\"udid\":null,\"installedAt\":17}," +
                            R"({"id":"2","appid":"a","platform":"android","name":"App","useragent":"U2"}]})";
    const std::optional<ZUserData> data = ZUserData::fromJson(json);
    ASSERT_TRUE(data);
    ASSERT_EQ(data->response.size(), 2);
    EXPECT_EQ(data->response[0].id, QStringLiteral("1"));
    EXPECT_EQ(data->response[1].platform, QStringLiteral("android"));
    EXPECT_TRUE(data->response[0].udid.has_value());
    EXPECT_FALSE(data->response[1].udid.has_value());
    EXPECT_EQ(data->response[0].installedAt, 17);
    EXPECT_FALSE(data->response[1].installedAt.has_value());

    EXPECT_FALSE(data->response[1].toJson().contains(QStringLiteral("udid")));
    EXPECT_TRUE(data->response[0].toJson().value(QStringLiteral("udid")).isNull());
    EXPECT_EQ(ZUserData::fromJson(data->toJson()), data);
}

TEST(Crash, StoredFormRoundTripsAndFillsGaps) {
    Crash crash;
    crash.name = QStringLiteral("std::runtime_error");
    crash.reason = QStringLiteral("disk \"full\"\nretry");
    crash.callStackSymbols = {QStringLiteral("0 vantry main"), QStringLiteral("1 libc \\ start")};
    EXPECT_EQ(Crash(crash.toDictionary()), crash);

    const Crash sparse(QVariantMap{{QStringLiteral("name"), 42}});
    EXPECT_TRUE(sparse.name.isEmpty());
    EXPECT_TRUE(sparse.reason.isEmpty());
    EXPECT_EQ(sparse.callStackSymbols, QStringList{QString()});
    EXPECT_EQ(sparse.callStackText(), QStringLiteral("[\"\"]"));
    EXPECT_EQ(crash.callStackText(), QStringLiteral(R"(["0 vantry main", "1 libc \\ start"])"));

    Crash control;
    control.callStackSymbols = {QStringLiteral("a\"b\nc\x01")};
    EXPECT_EQ(control.callStackText(), QStringLiteral(R"(["a\"b\nc\u0001"])"));
}

TEST(RandomString, LengthAlphabetAndSpread) {
    EXPECT_TRUE(randomString(0).isEmpty());
    const QString s = randomString(6200);
    ASSERT_EQ(s.size(), 6200);
    QSet<QChar> seen;
    for (QChar c : s) {
        ASSERT_TRUE((c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                    (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                    (c >= QLatin1Char('0') && c <= QLatin1Char('9')))
            << int(c.unicode());
        seen.insert(c);
    }
    // 6,200 draws from 62 letters miss one with probability ~62·e^-100.
    EXPECT_EQ(seen.size(), 62);
    EXPECT_NE(randomString(10), randomString(10));
}

TEST(DeviceIds, OnlyTheTwoFormsInSensibleNumbers) {
    const struct {
        QString id;
        bool valid;
    } ids[] = {{"00008030-001A35E11A88802E", true},
               {"00008030-001a35e11a88802e", true},
               {QString(40, 'f'), true},
               {"00008030-001A35E11A88802", false},
               {"00008030:001A35E11A88802E", false},
               {"0000803-0001A35E11A88802E", false},
               {QString(39, 'f'), false},
               {QString(40, 'g'), false},
               {"", false},
               {"00008030-001A35E11A88802E,", false}};
    for (const auto& c : ids)
        EXPECT_EQ(DeviceIds::isValid(c.id), c.valid) << c.id.toStdString();
    const QString one = ids[0].id;
    EXPECT_EQ(DeviceIds::parse(one + ',' + ids[2].id), (QStringList{one, ids[2].id}));
    EXPECT_FALSE(DeviceIds::parse(one + ','));
    EXPECT_TRUE(DeviceIds::parse(QStringList(1000, one).join(',')));
    EXPECT_FALSE(DeviceIds::parse(QStringList(1001, one).join(',')));
    EXPECT_TRUE(DeviceIds::contains({ids[1].id}, one));
}

// The upload form, byte for byte: devices not in the build, each once at its newest check, names
// made safe for a tab-separated line.
TEST(DeviceCheck, AppleUploadListAndSummary) {
    const QList<DeviceCheck> newestFirst{
        {"00008030-001A35E11A88802E", "iPhone15,2", "21F90", "Ann's\tiPhone\n", 30, false},
        {"00008101-000A1B2C3D4E5F60", "iPhone13,1", "21E236", "Bob", 20, true},
        {"0123456789abcdef0123456789abcdef01234567", "iPad8,1", "20H19", "", 15, false},
        {"00008030-001a35e11a88802e", "iPhone15,2", "21E236", "Ann (old)", 10, false},
        {"00008020-0000000000000001", "iPhone14,5", "21F90", QString(60, 'n'), 5, false},
    };
    EXPECT_EQ(appleDeviceList(newestFirst), "Device ID\tDevice Name\tDevice Platform\n"
                                            "00008030-001A35E11A88802E\tAnn's iPhone\tios\n"
                                            "0123456789abcdef0123456789abcdef01234567\tiPad8,1\tios\n"
                                            "00008020-0000000000000001\t" +
                                                QByteArray(50, 'n') + "\tios\n");
    EXPECT_EQ(deviceSummary(newestFirst), QStringLiteral("4 checked, 3 not in this build"));
    QJsonArray wire;
    for (const DeviceCheck& c : newestFirst)
        wire.append(c.toJson());
    EXPECT_EQ(DeviceCheck::listFromJson(wire), newestFirst);
    QJsonObject broken = wire.at(0).toObject();
    broken.insert(QStringLiteral("included"), QStringLiteral("no"));
    EXPECT_FALSE(DeviceCheck::listFromJson(QJsonArray{broken}));
}
