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
    // A package's app is dated to the minute.
    const Zapp packaged(PackageRecord{"x.y.z", "1.2", "My App", "/i.png", "12 MB", "15.0", "q"},
                        QDateTime(QDate(2025, 1, 2), QTime(7, 5, 41), Qt::LocalTime));
    EXPECT_EQ((QStringList{packaged.appdate, packaged.appname, packaged.appicon, packaged.appversion,
                           packaged.appsize, packaged.appMinOS, packaged.qrLink, packaged.bundleID}),
              (QStringList{"2025/01/02 07:05", "My App", "/i.png", "1.2", "12 MB", "15.0", "q", "x.y.z"}));
}

TEST(ZUserData, StrictDecoding) {
    const struct {
        const char* what;
        QByteArray json;
        bool decodes;
        const char* error = "";
    } cases[] = {
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
    for (const auto& c : cases) {
        QString error;
        EXPECT_EQ(ZUserData::fromJson(c.json, &error).has_value(), c.decodes) << c.what;
        EXPECT_EQ(error.isEmpty(), c.decodes) << c.what;
        EXPECT_TRUE(!*c.error || error == c.error) << c.what << ": " << error.toStdString();
    }
}

TEST(ZUserData, RoundTripKeepsOrderAndWritesNullOnlyWhenPresent) {
    const QByteArray json = "{\"isSuccess\":true,\"response\":[" + kInstall +
                            ",\"udid\":null,\"installedAt\":17}," +
                            R"({"id":"2","appid":"a","platform":"android","name":"App","useragent":"U2"}]})";
    const std::optional<ZUserData> data = ZUserData::fromJson(json);
    ASSERT_TRUE(data);
    ASSERT_EQ(data->response.size(), 2);
    EXPECT_TRUE(data->response[0].id == "1" && data->response[1].platform == "android");
    EXPECT_TRUE(data->response[0].udid && !data->response[1].udid);
    EXPECT_TRUE(data->response[0].installedAt == 17 && !data->response[1].installedAt);

    EXPECT_FALSE(data->response[1].toJson().contains("udid"));
    EXPECT_TRUE(data->response[0].toJson().value("udid").isNull());
    EXPECT_EQ(ZUserData::fromJson(data->toJson()), data);
}

TEST(Crash, StoredFormRoundTripsAndFillsGaps) {
    Crash crash;
    crash.name = "std::runtime_error";
    crash.reason = "disk \"full\"\nretry";
    crash.callStackSymbols = {"0 vantry main", "1 libc \\ start"};
    EXPECT_EQ(Crash(crash.toDictionary()), crash);
    EXPECT_EQ(crash.callStackText(), R"(["0 vantry main", "1 libc \\ start"])");
    const Crash sparse(QVariantMap{{"name", 42}});
    EXPECT_TRUE(sparse.name.isEmpty() && sparse.reason.isEmpty());
    EXPECT_EQ(sparse.callStackText(), "[\"\"]");
    crash.callStackSymbols = {"a\"b\nc\x01"};
    EXPECT_EQ(crash.callStackText(), R"(["a\"b\nc\u0001"])");
}

TEST(RandomString, LengthAlphabetAndSpread) {
    EXPECT_TRUE(randomString(0).isEmpty());
    const QString s = randomString(6200);
    ASSERT_EQ(s.size(), 6200);
    QSet<QChar> seen;
    for (QChar c : s) {
        ASSERT_TRUE(c.isDigit() || ((c.isLower() || c.isUpper()) && c.unicode() < 128)) << int(c.unicode());
        seen.insert(c);
    }
    // 6,200 draws from 62 letters miss one with probability ~62·e^-100.
    EXPECT_EQ(seen.size(), 62);
}

TEST(DeviceIds, OnlyTheTwoFormsInSensibleNumbers) {
    const QString one = "00008030-001A35E11A88802E", old = QString(40, 'f');
    for (const QString& id : {one, one.toLower(), old})
        EXPECT_TRUE(DeviceIds::isValid(id)) << id.toStdString();
    for (const QString& id :
         QStringList{one.chopped(1), QString(one).replace('-', ':'), "0000803-0001A35E11A88802E",
                     old.chopped(1), QString(40, 'g'), QString(), one + ','})
        EXPECT_FALSE(DeviceIds::isValid(id)) << id.toStdString();
    EXPECT_EQ(DeviceIds::parse(one + ',' + old), (QStringList{one, old}));
    EXPECT_FALSE(DeviceIds::parse(one + ','));
    EXPECT_TRUE(DeviceIds::parse(QStringList(1000, one).join(',')));
    EXPECT_FALSE(DeviceIds::parse(QStringList(1001, one).join(',')));
    EXPECT_TRUE(DeviceIds::contains({one.toLower()}, one));
    EXPECT_EQ(DeviceIds::join({one, old}), one + ',' + old);
    for (const QStringList& bad :
         {QStringList{one, "x"}, QStringList{one, {}}, QStringList(1001, one), QStringList()})
        EXPECT_EQ(DeviceIds::join(bad), QString()) << bad.size();
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
    EXPECT_EQ(deviceSummary(newestFirst), "4 checked, 3 not in this build");
    QJsonArray wire;
    for (const DeviceCheck& c : newestFirst)
        wire.append(c.toJson());
    EXPECT_EQ(DeviceCheck::listFromJson(wire), newestFirst);
    QJsonObject broken = wire.at(0).toObject();
    broken.insert("included", "no");
    EXPECT_FALSE(DeviceCheck::listFromJson(QJsonArray{broken}));
}
