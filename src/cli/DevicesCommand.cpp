#include "cli/DevicesCommand.h"

#include "backend/Zelko.h"
#include "core/Log.h"
#include "core/Preferences.h"
#include "session/AccountReady.h"

#include <QDateTime>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimeZone>
#include <QTimer>
#include <QUrl>

namespace {

constexpr int kAnswerTimeoutMs = 60000;

// The app id, also from the app's link ("https://host/AbC123" or "…/AbC123?device=…").
QString appIdOf(const QString& argument) {
    const QUrl url(argument);
    if (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http"))
        return url.path().section(QLatin1Char('/'), -1);
    return argument;
}

// The account that publishes is the one whose apps these are: as publish chooses it.
StorageProvider accountProvider() {
    const bool anySignedIn =
        Preferences::flag(Preferences::isDrive) || Preferences::flag(Preferences::isDropBox) ||
        Preferences::flag(Preferences::isSelfHosted) || Preferences::flag(Preferences::isZoho);
    return anySignedIn ? selectedProvider() : StorageProvider::SelfHosted;
}

void printTable(const QList<DeviceCheck>& checks, QTextStream& out) {
    const QList<DeviceCheck> devices = latestPerDevice(checks);
    if (devices.isEmpty()) {
        out << "No tester has checked a device against this build yet.\n";
        return;
    }
    out << QStringLiteral("%1  %2  %3  %4  %5  %6\n")
               .arg(QStringLiteral("Device ID").leftJustified(40), QStringLiteral("In build"),
                    QStringLiteral("Model").leftJustified(12), QStringLiteral("Build").leftJustified(8),
                    QStringLiteral("Checked (UTC)").leftJustified(16), QStringLiteral("Name"));
    for (const DeviceCheck& c : devices) {
        const QString when = QDateTime::fromSecsSinceEpoch(c.checkedAt, QTimeZone::utc())
                                 .toString(QStringLiteral("yyyy-MM-dd HH:mm"));
        out << QStringLiteral("%1  %2  %3  %4  %5  %6\n")
                   .arg(c.udid.leftJustified(40),
                        (c.included ? QStringLiteral("yes") : QStringLiteral("no")).leftJustified(8),
                        c.product.leftJustified(12), c.version.leftJustified(8), when.leftJustified(16),
                        c.deviceName)
                   .trimmed()
            << '\n';
    }
    out << "Devices: " << deviceSummary(checks) << '\n';
}

} // namespace

int DevicesCommand::run(const QStringList& args, QTextStream& out, QTextStream& err) {
    QCommandLineParser parser;
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print every check as JSON."));
    const QCommandLineOption csv(
        QStringLiteral("csv"),
        QStringLiteral("Print the devices not in the build in the tab-separated form Apple's developer site "
                       "takes for a multiple-device upload."));
    parser.addOptions({json, csv});
    parser.addPositionalArgument(QStringLiteral("APPID"), QStringLiteral("The app's id or its link."));
    int status = 0;
    if (!parse(parser, args, out, err, &status))
        return status;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1 || (parser.isSet(json) && parser.isSet(csv))) {
        err << "vantry-cli devices: "
            << (positional.size() != 1 ? "name one APPID" : "--json and --csv exclude each other")
            << Qt::endl;
        return 2;
    }
    const QString appId = appIdOf(positional.constFirst());
    setLogSink([](const QString&) {});

    QEventLoop loop;
    int result = 1;
    QObject context;
    const auto fail = [&](const QString& reason) {
        err << "vantry-cli devices: " << reason << Qt::endl;
        loop.quit();
    };
    readAccount(
        accountProvider(), &context,
        [&](const ZUser& user) {
            currentUser() = user;
            Zelko::api().fetchDevices(
                appId,
                [&](const QList<DeviceCheck>& checks) {
                    if (parser.isSet(csv)) {
                        out << QString::fromUtf8(appleDeviceList(checks));
                    } else if (parser.isSet(json)) {
                        QJsonArray list;
                        for (const DeviceCheck& c : checks)
                            list.append(c.toJson());
                        out << QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact)) << '\n';
                    } else {
                        printTable(checks, out);
                    }
                    result = 0;
                    loop.quit();
                },
                &context, fail);
        },
        [&](const QString& reason) { fail(QStringLiteral("the account could not be read: ") + reason); });
    QTimer::singleShot(kAnswerTimeoutMs, &loop,
                       [&] { fail(QStringLiteral("no answer from the Vantry server")); });
    loop.exec();
    out.flush();
    return result;
}
