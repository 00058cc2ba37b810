#include "cli/Command.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

using namespace testsupport;

TEST(InspectCommand, PrintsRecordJsonAndFailures) {
    struct Case {
        QStringList args;
        int status;
        const char* inOut;
        const char* inErr;
    };
    const QString apk = dataPath(QStringLiteral("apk/com.politedroid_6.apk"));
    const Case cases[] = {
        {{apk}, 0, "name: Polite Droid\n", ""},
        {{QStringLiteral("--verbose"), apk}, 0, "name: Polite Droid\n", "Unzipping done"},
        {{dataPath(QStringLiteral("ipa/fastlane_not-an-ipa.ipa"))},
         1,
         "",
         "This file is not a valid iOS app package."},
        {{}, 2, "", "missing PACKAGE"},
        {{QStringLiteral("--bogus"), apk}, 2, "", "bogus"},
    };
    for (const Case& c : cases) {
        QString out, err;
        QTextStream o(&out), e(&err);
        EXPECT_EQ(runCli(QStringList{QStringLiteral("vantry-cli"), QStringLiteral("inspect")} + c.args, o, e),
                  c.status);
        EXPECT_TRUE(out.contains(QLatin1String(c.inOut))) << out.toStdString();
        EXPECT_TRUE(err.contains(QLatin1String(c.inErr))) << err.toStdString();
        if (c.status == 0 && !c.args.contains(QStringLiteral("--verbose"))) {
            EXPECT_TRUE(err.isEmpty()) << "diagnostics only with --verbose: " << err.toStdString();
        }
    }
    QString out, err;
    QTextStream o(&out), e(&err);
    ASSERT_EQ(runCli({QStringLiteral("vantry-cli"), QStringLiteral("inspect"), QStringLiteral("--json"), apk},
                     o, e),
              0);
    const QJsonObject json = QJsonDocument::fromJson(out.toUtf8()).object();
    EXPECT_EQ(json.keys(), (QStringList{"bundleID", "icon", "minOS", "name", "size", "version"}))
        << out.toStdString();
    EXPECT_EQ(json.value(QStringLiteral("minOS")).toString(), QStringLiteral("6"));
}
