// vantry-cli publish as a user runs it: the program against vantry-server (and a Dropbox
// emulator), its exit status, its output and what ends up on the server.
#include "DropBoxEmulator.h"
#include "core/Config.h"
#include "core/WorkingFolder.h"
#include "inspect/PackageFactory.h"
#include "server/Database.h"
#include "server/InProcessServer.h"
#include "server/VantryServer.h"
#include "storage/KeychainHelper.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>

#include <gtest/gtest.h>
#include <httplib.h>

#include <csignal>

namespace {

using CliRun = testsupport::ProgramRun;

// The real program; during() sees standard error as it grows and may act on the process.
CliRun runCli(const QStringList& args, const QProcessEnvironment& env,
              const std::function<void(QProcess&, const QByteArray&)>& during = {}) {
    return testsupport::runProgram(testsupport::binaryDir() + QStringLiteral("/src/cli/vantry-cli"), args,
                                   env, {}, during);
}

QByteArray httpGet(const QString& url) {
    const QUrl u(url);
    httplib::Client client(u.host().toStdString(), u.port());
    auto res = client.Get(u.path(QUrl::FullyEncoded).toStdString());
    return res && res->status == 200 ? QByteArray::fromStdString(res->body) : QByteArray();
}

// Signed with an in-house profile unless profileKind names another kind or is empty (unsigned).
QString makeIpa(const QString& path, const QString& profileKind = QStringLiteral("enterprise"),
                qint64 bigSize = 0) {
    const QVariantMap info{{QStringLiteral("CFBundleIdentifier"), QStringLiteral("com.example.cli")},
                           {QStringLiteral("CFBundleShortVersionString"), QStringLiteral("3.0")},
                           {QStringLiteral("CFBundleDisplayName"), QStringLiteral("Cli App")},
                           {QStringLiteral("MinimumOSVersion"), QStringLiteral("16.0")}};
    QMap<QString, QByteArray> files{{QStringLiteral("Payload/Cli.app/Info.plist"), packages::xmlPlist(info)}};
    if (!profileKind.isEmpty()) {
        packages::Profile profile;
        profile.kind = profileKind;
        files.insert(QStringLiteral("Payload/Cli.app/embedded.mobileprovision"),
                     packages::signedProfile(profile));
        files.insert(QStringLiteral("Payload/Cli.app/_CodeSignature/CodeResources"), "<plist/>");
    }
    return packages::zipFiles(path, files, bigSize ? QStringLiteral("Payload/Cli.app/big.bin") : QString(),
                              bigSize);
}

// What the preflight says of a build without profile and signature.
const QStringList unsignedFindings = {
    "This build has neither a provisioning profile nor a signature, like a simulator build: it installs on "
    "no iPhone or iPad.",
    "This build is not signed: iPhones and iPads refuse to install it."};

class Publish : public ::testing::Test {
protected:
    void SetUp() override {
        ServerOptions options;
        server = startServer(options);
        ASSERT_TRUE(server);
        dir = testsupport::makeTempDir(QStringLiteral("publish"));
        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VANTRY_BACKEND_BASE_URL"), server->localUrl());
        env.insert(QStringLiteral("VANTRY_SELFHOSTED_URL"), server->localUrl());
        env.insert(QStringLiteral("VANTRY_SELFHOSTED_TOKEN"), server->storageToken());
    }
    int appCount() {
        return int(
            server->database().appsOf(QStringLiteral("dbid:AAH4f99T0taONIb-OurWxbNQ6ywGRopQngc"))->size() +
            server->database().appsOf(selfOwner())->size());
    }
    QString selfOwner() {
        ServerOptions defaults;
        ServerOptions::setOwnerDefaults(defaults);
        return defaults.ownerId;
    }

    std::unique_ptr<VantryServer> server;
    QString dir;
    QProcessEnvironment env;
};

TEST_F(Publish, JsonResultInstallPageAndTheVeryBytes) {
    const QString package = makeIpa(dir + QStringLiteral("/CliApp.ipa"));
    // As many characters as notes may have, each two UTF-16 units, and the editor's final line break.
    const QString emoji = QString::fromUtf8("🚀").repeated(4000);
    const QString notes = testsupport::writeFile(dir + QStringLiteral("/notes.txt"), emoji.toUtf8() + "\n");
    const CliRun run = runCli({"publish", package, "--json", "--quiet", "--notes-file", notes}, env);
    ASSERT_EQ(run.status, 0) << run.err.constData();
    EXPECT_TRUE(run.err.isEmpty()) << run.err.constData();
    const QJsonObject result = QJsonDocument::fromJson(run.out).object();
    EXPECT_EQ(result.keys(), (QStringList{"appId", "bundleID", "iconLink", "installUrl", "latestLink", "link",
                                          "manifestLink", "minOS", "name", "packageLink", "provider",
                                          "qrLink", "size", "version"}));
    EXPECT_EQ(server->database().app(result.value("appId").toString())->appdescription, emoji);
    const QString latest = result.value("latestLink").toString();
    EXPECT_EQ(result.value("link").toString(), server->publicUrl() + result.value("appId").toString());
    EXPECT_EQ(httpGet(result.value("packageLink").toString()), testsupport::readFile(package));
    EXPECT_TRUE(httpGet(result.value("manifestLink").toString())
                    .contains("<string>" + result.value("packageLink").toString().toUtf8() + "</string>"));

    // Without --json, into a pipe as in a CI log: the steps on standard error, where every line
    // says something new, an upload shows at most its quarters and each preflight finding is one
    // line (--force publishes the unsigned build); the link, install URL and QR code on standard
    // output.
    const CliRun plain = runCli({"publish", makeIpa(dir + QStringLiteral("/Log.ipa"), QString(), 4 << 20),
                                 "--force", "--notes", "Second <build>"},
                                env);
    ASSERT_EQ(plain.status, 0) << plain.err.constData();
    EXPECT_TRUE(plain.err.contains("Processing your .ipa\n  This takes few minutes.\n"));
    EXPECT_TRUE(plain.err.contains("Process Complete\n"));
    const QStringList lines = QString::fromUtf8(plain.err).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    static const QRegularExpression progressLine(QStringLiteral("^  (\\S+) \\d+\\.\\d+ %( |$)"));
    QMap<QString, int> progress; // lines per uploaded file
    for (qsizetype i = 0; i < lines.size(); ++i) {
        EXPECT_NE(lines[i], lines.value(i + 1)) << "twice in a row:\n" << plain.err.constData();
        if (const auto match = progressLine.match(lines[i]); match.hasMatch())
            ++progress[match.captured(1)];
    }
    EXPECT_EQ(progress.keys(), (QStringList{"Log.ipa", "manifest.plist", "qr.png"})) << plain.err.constData();
    for (const int n : progress)
        EXPECT_LE(n, 4) << plain.err.constData();
    for (const QString& finding : unsignedFindings)
        EXPECT_EQ(lines.filter(finding).size(), 1) << plain.err.constData();
    EXPECT_TRUE(plain.out.startsWith("Link:        " + server->publicUrl().toUtf8()));
    // The second build of the bundle id has the first one's stable link, and its own notes.
    EXPECT_TRUE(plain.out.contains("\nLatest link: " + latest.toUtf8() + "\n")) << plain.out.constData();
    const QString second = QString::fromUtf8(plain.out.left(plain.out.indexOf('\n'))).section(u'/', -1);
    EXPECT_EQ(server->database().app(second)->appdescription, QStringLiteral("Second <build>"));
    EXPECT_TRUE(plain.out.contains("\nInstall URL: itms-services://"));
    EXPECT_TRUE(plain.out.contains("\u2588")) << "the QR code, drawn with block characters";
}

// Usage errors exit 2 with one line. Refusals exit 1 with their reason, and a package that
// cannot install from a link reaches no storage (--force publishes it:
// JsonResultInstallPageAndTheVeryBytes).
TEST_F(Publish, UsageErrorsExitWith2AndRefusalsWith1) {
    const QString zip = testsupport::writeFile(dir + QStringLiteral("/App.zip"), "PK");
    const QString ipa = makeIpa(dir + QStringLiteral("/App.ipa"));
    const QString notText = testsupport::writeFile(dir + QStringLiteral("/binary.txt"), "caf\xe9 \xff\xfe");
    for (const QStringList& args :
         {QStringList{"publish"}, QStringList{"publish", zip}, QStringList{"publish", dir + "/Missing.ipa"},
          QStringList{"publish", ipa, "--provider", "ftp"}, QStringList{"publish", ipa, "--timeout", "soon"},
          QStringList{"publish", ipa, ipa},
          QStringList{"publish", ipa, "--notes", QString(4001, QLatin1Char('x'))},
          QStringList{"publish", ipa, "--notes-file", notText},
          QStringList{"publish", ipa, "--notes-file", dir + "/missing.txt"},
          QStringList{"publish", ipa, "--notes-file", dir},
          QStringList{"publish", ipa, "--notes", "a", "--notes-file", notText}}) {
        const CliRun run = runCli(args, env);
        EXPECT_EQ(run.status, 2) << args.join(' ').toStdString();
        EXPECT_EQ(run.err.count('\n'), 1) << run.err.constData();
    }

    QTcpServer silent; // a storage server that takes the connection and never answers
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    QProcessEnvironment stuck = env;
    stuck.insert(QStringLiteral("VANTRY_SELFHOSTED_URL"),
                 QStringLiteral("http://127.0.0.1:%1/").arg(silent.serverPort()));
    const std::pair<QString, QByteArray> refusals[] = {
        {testsupport::writeFile(dir + QStringLiteral("/Broken.ipa"), "not a package"),
         "vantry-cli publish: This file is not a valid iOS app package.\n"},
        {makeIpa(dir + QStringLiteral("/Store.ipa"), QStringLiteral("app-store")),
         "Preflight: This build uses an App Store profile: it can only be installed through the App Store, "
         "not from a link.\nvantry-cli publish: this package cannot be installed from a link; nothing was "
         "uploaded (--force publishes it all the same)\n"}};
    for (const auto& [package, err] : refusals) {
        const CliRun run = runCli({"publish", package, "--quiet"}, stuck);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, err);
        EXPECT_TRUE(run.out.isEmpty());
    }
    EXPECT_FALSE(silent.hasPendingConnections() || silent.waitForNewConnection(0));
    const CliRun run = runCli({"publish", ipa, "--timeout", "1", "--quiet"}, stuck);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "vantry-cli publish: timed out after 1 s in the step \"Reading the self-hosted server "
                       "account\"; the job was cancelled\n");
    EXPECT_EQ(appCount(), 0);
}

// The owner reads the devices testers checked: a table, every check as JSON (the app named by its
// link), and the devices missing from the build in Apple's upload form (pinned in the records tests).
TEST_F(Publish, DevicesOfAnAdHocBuild) {
    const CliRun published =
        runCli({"publish", makeIpa(dir + "/AdHoc.ipa", "ad-hoc"), "--json", "--quiet"}, env);
    ASSERT_EQ(published.status, 0) << published.err.constData();
    const QJsonObject result = QJsonDocument::fromJson(published.out).object();
    const QString appId = result.value("appId").toString();
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    for (const StoredDeviceCheck& check : {StoredDeviceCheck{"c1", appId, "00008101-0000000000000001",
                                                             "iPhone13,1", "21E236", "Bob", true, now - 60},
                                           StoredDeviceCheck{"c2", appId, "00008030-001A35E11A88802E",
                                                             "iPhone15,2", "21F90", "Ann", false, now}})
        ASSERT_EQ(server->database().insertDeviceCheck(check, 0), Database::Insert::Added);

    const CliRun csv = runCli({"devices", appId, "--csv"}, env);
    EXPECT_EQ(csv.status, 0) << csv.err.constData();
    EXPECT_EQ(csv.out, "Device ID\tDevice Name\tDevice Platform\n00008030-001A35E11A88802E\tAnn\tios\n");
    const CliRun json = runCli({"devices", result.value("link").toString(), "--json"}, env);
    const QJsonArray checks = QJsonDocument::fromJson(json.out).array();
    EXPECT_EQ(checks.size(), 2) << json.out.constData() << json.err.constData();
    const CliRun table = runCli({"devices", appId}, env);
    EXPECT_TRUE(table.out.endsWith("Devices: 2 checked, 1 not in this build\n")) << table.out.constData();

    for (const QStringList& args : {QStringList{"devices"}, QStringList{"devices", appId, "--json", "--csv"}})
        EXPECT_EQ(runCli(args, env).status, 2);
    const CliRun unknown = runCli({"devices", "NoSuchApp1"}, env);
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.err, "vantry-cli devices: The Vantry server refused the request: Unknown app\n");
}

// Ctrl-C while the package goes to Dropbox: the job is cancelled, nothing is registered and the
// working folder goes. The authorization is in the credential file, in the documented form.
TEST_F(Publish, InterruptDuringTheUploadToDropboxExitsWith130AndLeavesNothing) {
    DropBoxEmulator dropbox(testsupport::makeTempDir(QStringLiteral("dropbox")));
    ASSERT_TRUE(dropbox.start());
    dropbox.addAccessToken(QStringLiteral("sl.cli-access"));
    KeychainHelper().save(
        QStringLiteral("dropbox_auth"), KeychainHelper::accountName,
        QString::fromUtf8(
            QJsonDocument(QJsonObject{{"access_token", "sl.cli-access"},
                                      {"refresh_token", "r"},
                                      {"expires_at", double(QDateTime::currentSecsSinceEpoch() + 3600)}})
                .toJson(QJsonDocument::Compact)));
    QProcessEnvironment dropboxEnv = env;
    dropbox.pointConfigHere(); // this process's configuration, passed on to the program's
    for (ConfigKey key : {ConfigKey::DropboxApiUrl, ConfigKey::DropboxContentUrl, ConfigKey::DropboxTokenUrl,
                          ConfigKey::DropboxShareHost, ConfigKey::DropboxDirectHost})
        dropboxEnv.insert(Config::environmentName(key), Config::instance().value(key));
    Config::instance().reload();
    dropbox.setSlowBytesPerSecond(256 * 1024);
    dropbox.injectFault(QStringLiteral("files/upload"), DropBoxEmulator::Fault::Slow);
    bool interrupted = false;
    const QString big = makeIpa(dir + QStringLiteral("/Big.ipa"), QStringLiteral("enterprise"), 4 << 20);
    const CliRun run = runCli({"publish", big, "--provider", "dropbox"}, dropboxEnv,
                              [&](QProcess& p, const QByteArray& err) {
                                  if (!interrupted && err.contains("Processing your .ipa")) {
                                      interrupted = true;
                                      ::kill(pid_t(p.processId()), SIGINT);
                                  }
                              });
    EXPECT_TRUE(interrupted);
    EXPECT_EQ(run.status, 130) << run.err.constData();
    EXPECT_TRUE(run.err.endsWith("vantry-cli publish: interrupted; the job was cancelled\n"))
        << run.err.constData();
    EXPECT_EQ(appCount(), 0) << "nothing registered";
    EXPECT_FALSE(QFileInfo::exists(workingFolder()));
    EXPECT_LT(dropbox.bytesReceived(), qint64(4) << 20) << "the upload stopped half-way";
    KeychainHelper().save(QStringLiteral("dropbox_auth"), KeychainHelper::accountName, QString());
}

} // namespace
