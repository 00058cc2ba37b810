// The job's own rules, driven through scripted storage clients, a fake backend and, where the
// package itself does not matter, a fake inspector.
#include "JobSupport.h"

#include "app/JobFormat.h"
#include "core/Config.h"
#include "core/WorkingFolder.h"
#include "qrcode/QRCode.h"

#include <QDir>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace {

class ScriptedJob : public ::testing::Test {
protected:
    void SetUp() override {
        dir = testsupport::makeTempDir(QStringLiteral("job"));
        QDir().mkpath(workingFolder());
        Config::instance().set(ConfigKey::BackendBaseUrl, QStringLiteral("https://v.example"));
        reset();
    }
    void TearDown() override { Config::instance().reload(); }

    template <class Job>
    std::unique_ptr<Job> job(const QString& fileName, bool fakeInspector = true,
                             const Preflight& found = {}) {
        const QString package = testsupport::writeFile(dir + QLatin1Char('/') + fileName, "package bytes");
        auto j = std::make_unique<Job>(QUrl::fromLocalFile(package), sink);
        j->setClientFactory([this] { return std::make_unique<ScriptedClient>(script); });
        j->setBackend(backend);
        j->setClock(jobTime);
        j->setCancelDelays(10, 10);
        if (fakeInspector)
            j->setInspectorFactory(
                [this, found] { return new FakeInspector(record, found, &inspectorDestroyed); });
        return j;
    }
    // A fresh script, sink and backend for the next job of a table.
    void reset() {
        record = bigGame(dir + QStringLiteral("/AppIcon.png"));
        inspectorDestroyed = false;
        script = Script();
        sink = RecordingSink();
        backend = std::make_shared<FakeBackend>(script);
    }
    // Uploads as "upload REMOTE" without the local path.
    QStringList remoteCalls() const {
        QStringList out;
        for (const QString& call : script.calls)
            out << (call.startsWith(QLatin1String("upload "))
                        ? QStringLiteral("upload ") + call.section(" -> ", 1)
                        : call);
        return out;
    }

    // The calls of an iOS job, uploads by their remote path: the generated files go to the
    // lowercased folder, the links keep its case.
    static QStringList iosCalls(const QString& name, const QString& package) {
        const QString folder = QStringLiteral("/Vantry/") + name + QLatin1Char('_') + kStamp;
        QStringList calls{"folder /Vantry", "folder " + folder, "upload " + folder + "/" + package,
                          "link " + folder + "/" + package};
        for (const char* file : {"/manifest.plist", "/icon.png", "/qr.png"})
            calls << "upload " + folder.toLower() + QLatin1String(file)
                  << "link " + folder + QLatin1String(file);
        return calls << "createapp";
    }

    QString dir;
    Script script;
    std::shared_ptr<FakeBackend> backend;
    RecordingSink sink;
    std::optional<PackageRecord> record; // what the fake inspector delivers; none: it never answers
    bool inspectorDestroyed = false;
};

TEST_F(ScriptedJob, PathsKeepThePackageNameAndLowercaseOnlyGeneratedFiles) {
    auto j = job<IosJob>(QStringLiteral("My.ipa.ipa"));
    script.link = [](const QString& path) {
        return path.endsWith(QLatin1String("manifest.plist")) ? QStringLiteral("a/b c?d=e~*'()") : path;
    };
    j->start();
    ASSERT_TRUE(waitForEnd(*j));
    const QString folder = QStringLiteral("/Vantry/My_") + kStamp;
    EXPECT_EQ(remoteCalls(), iosCalls(QStringLiteral("My"), QStringLiteral("My.ipa.ipa")));
    const QString link = j->outcome().resultLink;
    const QString minutes = QStringLiteral("This takes few minutes."), seconds("This takes few seconds.");
    using S = ProcessState;
    const std::vector<Status> steps = {
        {"Making your project ready", "This takes few minutes", S::preparing},
        {"Setting basic configuration", "This takes few minutes. \n current file name My", S::preparing},
        {"Setting basic configuration", "Current file name -  My", S::preparing},
        {"Created", "There is a folder already been created!", S::preparing},
        {"Processing your .ipa", minutes, S::transferring},
        {"Creating url for the file", minutes, S::transferring},
        {"Creating export plist configuration", "", S::processing},
        {"Creating export plist configuration",
         "project - Big Game\nBundleID - com.example.big\nversion - 2.1", S::processing},
        {"Uploading configurations", "", S::transferring},
        {"Creating URL", minutes, S::processing},
        {"Finalising Details", seconds, S::processing},
        {"Hosting the app", "", S::hosting},
        {"Finalising Details", seconds, S::processing},
        {"Hosting the app", "Use this url - \n" + link, S::hosting},
        {"Process Complete", "The app is hosted here\n" + link, S::completed},
    };
    EXPECT_EQ(sink.statuses, steps);
    EXPECT_EQ(sink.notifications, (QList<QPair<QString, QString>>{{"My", "Task Completed"}}));
    EXPECT_EQ(j->outcome().currentFileName, QStringLiteral("My"));
    EXPECT_EQ(j->outcome().installUrl,
              JobFormat::installUrlPrefix + QStringLiteral("a%2Fb%20c%3Fd%3De~*'()"));
    ASSERT_EQ(backend->apps.size(), 1);
    const Zapp& app = backend->apps.constFirst();
    EXPECT_EQ(app.appurl, j->outcome().installUrl);
    EXPECT_EQ(app.appicon, folder + "/icon.png");
    EXPECT_EQ(app.qrLink, folder + "/qr.png");
    EXPECT_EQ(app.appid.size(), 10);
    EXPECT_EQ(app.appdate, QStringLiteral("2024/12/31 23:59")) << "the job's clock";
    EXPECT_EQ(j->outcome().qrLink, QStringLiteral("https://v.example/") + app.appid)
        << "production base, never local";
    // The code shown with the result leads to the app's page, not to the install URL.
    ASSERT_TRUE(sink.resultImage);
    EXPECT_EQ(QRCode::DetectQRCodes(*sink.resultImage), QStringList{j->outcome().qrLink});
    EXPECT_EQ(sink.dismissals, 0);
    j->leftAction();
    j->rightAction();
    EXPECT_EQ(sink.copied, QStringList{j->outcome().resultLink});
    EXPECT_EQ(sink.dismissals, 1);
}

TEST_F(ScriptedJob, ProgressExistingFolderAndIconRules) {
    script.foldersExist = true;
    script.progress = {0.0, 0.12345, 0.5, 1.0};
    script.notice =
        QStringLiteral("The connection dropped at 50 %; resuming the upload in 1 s (try 2 of 3).");
    record->icon = QStringLiteral("data:image/png;base64,iVBORw0KGgo=");
    auto j = job<IosJob>(QStringLiteral("Game.ipa"));
    j->start();
    ASSERT_TRUE(waitForEnd(*j));
    EXPECT_EQ(sink.statuses.at(3), (Status{"Already Created", "There is a folder already been created!",
                                           ProcessState::preparing}));
    // A resumed upload says so in its step's detail; the step goes on.
    EXPECT_EQ(sink.statuses.at(5),
              (Status{"Processing your .ipa", script.notice, ProcessState::transferring}));
    EXPECT_EQ(sink.statuses.at(6).title, QStringLiteral("Creating url for the file"));
    EXPECT_EQ(sink.percentages.mid(0, 4), (QStringList{"0.0 %", "12.35 %", "50.0 %", "100.0 %"}));
    EXPECT_DOUBLE_EQ(sink.values.at(1), 12.345);
    EXPECT_EQ(script.indexOf(QStringLiteral("upload ") + workingFolder() + QStringLiteral("/icon.png")), -1);
    ASSERT_EQ(backend->apps.size(), 1);
    EXPECT_EQ(backend->apps.constFirst().appicon, record->icon) << "the data URL goes to the backend";
}

TEST_F(ScriptedJob, AndroidSkipsXmlIconsAndRegistersThePackageLink) {
    record->icon = dir + QStringLiteral("/res/mipmap-anydpi-v26/ic_launcher.xml");
    auto j = job<AndroidJob>(QStringLiteral("game.apk"));
    j->start();
    ASSERT_TRUE(waitForEnd(*j));
    const QString folder = QStringLiteral("/Vantry/game_") + kStamp;
    EXPECT_EQ(sink.statuses.at(4),
              (Status{"Processing your .apk", "This takes few minutes.", ProcessState::transferring}));
    EXPECT_EQ(script.indexOf(QStringLiteral("upload ")),
              script.indexOf(QStringLiteral("upload ") + workingFolder()) - 2)
        << "package upload, its link, then straight to the QR image";
    ASSERT_EQ(backend->apps.size(), 1);
    const Zapp& app = backend->apps.constFirst();
    EXPECT_EQ(app.appicon, record->icon);
    EXPECT_EQ(app.appurl, QStringLiteral("https://files.example") + folder + QStringLiteral("/game.apk"));
    EXPECT_TRUE(app.appid.endsWith(QLatin1String("__android")));
    EXPECT_EQ(j->outcome().qrLink, QStringLiteral("https://v.example/") + app.appid);
}

// Every step a job can fail in, and the reason it shows.
TEST_F(ScriptedJob, EveryFailureEndsInFailedWithItsMessageAndRegistersNothing) {
    struct Case {
        const char* step;
        QString failingKind; // the scripted call that fails: its kind and the end of its path
        QString failingPath;
        bool brokenPackage;   // inspection fails on a real, broken package
        bool manifestBlocked; // a folder stands where manifest.plist is written
        QString reason;
    };
    const Case cases[] = {
        {"application folder", "folder", "/Vantry", false, false,
         "The Internet connection appears to be offline."},
        {"job folder", "folder", kStamp, false, false, "Could not connect to the server."},
        {"package upload", "upload", "/Game.ipa", false, false, "Dropbox refused the upload (HTTP 507)."},
        {"package link", "link", "/Game.ipa", false, false, "No response"},
        {"manifest upload", "upload", "/manifest.plist", false, false, "Sign in again."},
        {"manifest link", "link", "/manifest.plist", false, false, "share Data is not formatted"},
        {"manifest written", {}, {}, false, true, "Couldn't write to file"},
        {"inspection", {}, {}, true, false, "This file is not a valid iOS app package."},
        {"registration", "createapp", "", false, false,
         "The Vantry server refused the request: Invalid app id"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.step);
        reset();
        script.failure = [c](const QString& call) -> std::optional<QString> {
            if (!c.failingKind.isEmpty() && call.startsWith(c.failingKind) && call.endsWith(c.failingPath))
                return c.reason;
            return std::nullopt;
        };
        if (c.manifestBlocked)
            sink.onStatus = [](const Status& s) {
                if (s.detail.startsWith(QLatin1String("project - ")))
                    QDir().mkpath(workingFolder() + QStringLiteral("/manifest.plist"));
            };
        auto j = job<IosJob>(QStringLiteral("Game.ipa"), !c.brokenPackage);
        j->start();
        ASSERT_TRUE(waitForEnd(*j));
        EXPECT_EQ(sink.statuses.back(), (Status{"Error", c.reason, ProcessState::failed}));
        // Under this package's name, also when the job ends before any storage step.
        EXPECT_EQ(sink.notifications.constLast(),
                  qMakePair(QStringLiteral("Game"), QStringLiteral("Task done with error")));
        EXPECT_EQ(backend->apps.size(), c.failingKind == "createapp" ? 1 : 0);
        // Nothing is held here, so nothing may follow the end.
        const size_t shown = sink.statuses.size();
        const int calls = script.calls.size();
        testsupport::waitUntil([] { return false; }, 50);
        EXPECT_EQ(sink.statuses.size(), shown);
        EXPECT_EQ(script.calls.size(), calls);
        QDir(workingFolder()).removeRecursively();
        QDir().mkpath(workingFolder());
    }
}

// Cancel during each step: the step's client is cancelled, the cancelled texts follow, the
// working folder goes, nothing more is uploaded or registered, and late answers are ignored.
TEST_F(ScriptedJob, CancelDuringEachStepLeavesNothingBehind) {
    const QStringList steps =
        QStringList{"inspection"} + iosCalls(QStringLiteral("Game"), QStringLiteral("Game.ipa"));
    for (const QString& step : steps) {
        SCOPED_TRACE(step.toStdString());
        reset();
        script.hold = [step](const QString& call) {
            return step.startsWith(QLatin1String("upload "))
                       ? call.endsWith(QLatin1String(" -> ") + step.mid(7))
                       : call == step;
        };
        auto j = job<IosJob>(QStringLiteral("Game.ipa"));
        if (step == QLatin1String("inspection"))
            record.reset(); // the inspector never answers
        j->start();
        ASSERT_TRUE(testsupport::waitUntil([&] {
            return !script.held.empty() ||
                   (step == QLatin1String("inspection") &&
                    sink.statuses.back().title == QLatin1String("Making your project ready"));
        }));
        testsupport::writeFile(workingFolder() + QStringLiteral("/leftover"), "x");
        const int callsBefore = script.calls.size();
        j->cancelAction();
        EXPECT_EQ(sink.statuses.back(), (Status{"Cancelling the task", "", ProcessState::cancelled}));
        EXPECT_EQ(sink.notifications.constLast(),
                  qMakePair(QStringLiteral("Game"), QStringLiteral("Task Cancelled")));
        EXPECT_FALSE(QFileInfo::exists(workingFolder()));
        if (step == QLatin1String("createapp"))
            EXPECT_EQ(backend->cancels, 1);
        else if (step == QLatin1String("inspection"))
            EXPECT_TRUE(inspectorDestroyed);
        else
            EXPECT_EQ(script.calls.mid(callsBefore), QStringList{"cancel"});

        script.releaseHeld();
        ASSERT_TRUE(testsupport::waitUntil([&] { return sink.dismissals == 1; }));
        EXPECT_EQ(sink.statuses.back(),
                  (Status{"Task Cancelled",
                          "\nThis task given to me has been cancelled :/ \nPress finish and give me one more",
                          ProcessState::cancelled}));
        EXPECT_EQ(sink.statuses.at(sink.statuses.size() - 2).title, QStringLiteral("Cancelling the task"));
        EXPECT_EQ(script.calls.size(), callsBefore + (step == "createapp" || step == "inspection" ? 0 : 1));
        EXPECT_EQ(backend->apps.size(), step == QLatin1String("createapp") ? 1 : 0);
        EXPECT_EQ(j->outcome().resultLink, QString());
        QDir().mkpath(workingFolder());
    }
}

// The preflight comes first: a blocking finding ends the job before the storage sees a call;
// warnings go into the detail text and the profile's facts onto the registered record.
TEST_F(ScriptedJob, PreflightStopsOrAnnotatesTheJob) {
    const PreflightFinding store{QStringLiteral("profile-app-store"), PreflightFinding::Verdict::blocking,
                                 QStringLiteral("This build uses an App Store profile.")};
    const PreflightFinding devices{
        QStringLiteral("profile-ad-hoc"), PreflightFinding::Verdict::warning,
        QStringLiteral("This build installs only on the 12 devices listed in its profile.")};
    Preflight found;
    found.findings = {devices, store};
    ProvisioningProfile adHoc;
    adHoc.kind = ProvisioningProfile::Kind::AdHoc;
    adHoc.deviceCount = 12;
    adHoc.expirationDate = QDateTime(QDate(2026, 5, 3), QTime(23, 0), QTimeZone::utc());

    // Both kinds of job share this step.
    auto blocked = job<IosJob>(QStringLiteral("Game.ipa"), true, found);
    blocked->start();
    ASSERT_TRUE(waitForEnd(*blocked));
    EXPECT_EQ(blocked->state(), ProcessState::failed);
    EXPECT_EQ(sink.statuses.back(), (Status{"Error", store.message, ProcessState::failed}));
    EXPECT_EQ(sink.statuses.size(), 2u);
    EXPECT_EQ(sink.notifications.constLast().first, QStringLiteral("Game"));
    EXPECT_EQ(script.calls, QStringList());
    EXPECT_TRUE(backend->apps.isEmpty());

    // Forced: the job runs, and the detail of the record step names both findings. The icon's
    // upload and the QR image's link fail: the job completes without them.
    reset();
    script.failure = [](const QString& call) -> std::optional<QString> {
        if (call.endsWith(QLatin1String("icon.png")) ||
            (call.startsWith(QLatin1String("link")) && call.endsWith(QLatin1String("qr.png"))))
            return QStringLiteral("No response");
        return std::nullopt;
    };
    found.profile = adHoc;
    auto forced = job<IosJob>(QStringLiteral("Game.ipa"), true, found);
    forced->setAllowBlocking(true);
    forced->start();
    ASSERT_TRUE(waitForEnd(*forced));
    EXPECT_EQ(forced->state(), ProcessState::completed);
    const auto shown = std::find_if(sink.statuses.begin(), sink.statuses.end(), [](const Status& st) {
        return st.detail.startsWith(QLatin1String("project - "));
    });
    ASSERT_NE(shown, sink.statuses.end());
    EXPECT_EQ(shown->detail, "project - Big Game\nBundleID - com.example.big\nversion - 2.1\n\n" +
                                 store.message + "\n" + devices.message);
    EXPECT_TRUE(sink.statuses.back().detail.endsWith("\n\n" + store.message + "\n" + devices.message));
    ASSERT_EQ(backend->apps.size(), 1);
    EXPECT_EQ(backend->apps.constFirst().profileKind, QStringLiteral("ad-hoc"));
    EXPECT_EQ(backend->apps.constFirst().profileExpiry, QStringLiteral("2026-05-03"));
    EXPECT_EQ(backend->apps.constFirst().provisionedDevices, QStringLiteral("12"));
    EXPECT_EQ(backend->apps.constFirst().appicon, QString());
    EXPECT_EQ(backend->apps.constFirst().qrLink, QString());
}

} // namespace
