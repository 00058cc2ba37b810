#include "InspectionRun.h"
#include "backend/WorkingFolder.h"
#include "inspect/PackageFactory.h"
#include "inspect/ParseAPK.h"
#include "inspect/ParseIPA.h"

#include <QDir>
#include <QFile>
#include <QProcess>

using namespace testsupport;

namespace {
QString validIpa() {
    return packages::zipFiles(homeDir() + QStringLiteral("/pkgs/valid.ipa"),
                              {{QStringLiteral("Payload/X.app/Info.plist"),
                                packages::xmlPlist(QVariantMap{{"CFBundleIdentifier", "x.y"}})}});
}
QString validApk() {
    return packages::buildApk(homeDir() + QStringLiteral("/pkgs/valid.apk"), {});
}

// Rewrites entry names in place ("aa/" -> "../"), which zip itself refuses to store.
QString escaping(const QString& package, const QString& name, const QString& ext) {
    const QString dir = makeTempDir(QStringLiteral("esc"));
    writeFile(dir + QStringLiteral("/aa/aa/escaped.txt"), "outside");
    const QString out = homeDir() + QStringLiteral("/pkgs/") + name + ext;
    QFile::remove(out);
    QFile::copy(package, out);
    QFile::setPermissions(out, QFile::ReadOwner | QFile::WriteOwner);
    QProcess zip;
    zip.setWorkingDirectory(dir);
    zip.start(QStringLiteral("zip"), {QStringLiteral("-q"), out, QStringLiteral("aa/aa/escaped.txt")});
    zip.waitForFinished();
    QByteArray bytes = readFile(out);
    bytes.replace("aa/aa/escaped.txt", "../../escaped.txt");
    writeFile(out, bytes);
    return out;
}
} // namespace

TEST(HostileInput, EndsInFailureOrRecordAndWritesNothingOutside) {
    const QString pkgs = homeDir() + QStringLiteral("/pkgs/");
    const QString ipa = validIpa();
    const QString apk = validApk();
    const QByteArray ipaBytes = readFile(ipa);
    const QString cwd = makeTempDir(QStringLiteral("cwd"));
    QDir::setCurrent(cwd);
    const QString quoted = QStringLiteral("a b \"c\" $(touch INJECTED) `touch INJECTED2` 'd'");
    QFile::copy(apk, pkgs + quoted + QStringLiteral(".apk"));
    QFile::copy(ipa, pkgs + quoted + QStringLiteral(".ipa"));

    struct Case {
        QString path;
        bool apk;
        bool record;
    };
    const Case cases[] = {
        {writeFile(pkgs + QStringLiteral("empty.ipa"), {}), false, false},
        {writeFile(pkgs + QStringLiteral("empty.apk"), {}), true, false},
        {writeFile(pkgs + QStringLiteral("truncated.ipa"), ipaBytes.left(ipaBytes.size() / 2)), false, false},
        {writeFile(pkgs + QStringLiteral("truncated.apk"), readFile(apk).left(300)), true, false},
        {packages::zipFiles(pkgs + QStringLiteral("readme.ipa"), {{QStringLiteral("README"), "hi"}}), false,
         false},
        {packages::zipFiles(pkgs + QStringLiteral("readme.apk"), {{QStringLiteral("README"), "hi"}}), true,
         false},
        {packages::zipFiles(pkgs + QStringLiteral("array.ipa"), {{QStringLiteral("Payload/X.app/Info.plist"),
                                                                  packages::xmlPlist(QVariantList{1, 2})}}),
         false, false},
        {packages::zipFiles(pkgs + QStringLiteral("noplist.ipa"), {{QStringLiteral("Payload/X.app/"), {}}}),
         false, false},
        {pkgs + quoted + QStringLiteral(".apk"), true, true},
        {pkgs + quoted + QStringLiteral(".ipa"), false, true},
        {escaping(apk, QStringLiteral("escape"), QStringLiteral(".apk")), true, true},
        {escaping(ipa, QStringLiteral("escape"), QStringLiteral(".ipa")), false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        const Outcome out =
            inspectPackage(c.apk ? static_cast<Inspector*>(new ParseAPK) : new ParseIPA, c.path);
        EXPECT_EQ(out.record.has_value(), c.record) << out.failure.toStdString();
    }
    EXPECT_EQ(QDir(cwd).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList()) << "a command ran";
    // "../../escaped.txt" from the working folder would land in HOME.
    EXPECT_FALSE(QFile::exists(homeDir() + QStringLiteral("/escaped.txt")));
    EXPECT_FALSE(QFile::exists(documentsFolder() + QStringLiteral("/escaped.txt")));
}

TEST(HostileInput, WorkingFolderCannotBeMade) {
    const QString docs = documentsFolder();
    QDir(docs).removeRecursively();
    writeFile(docs, "a file where the folder should be");
    EXPECT_EQ(inspectPackage(new ParseIPA, validIpa()).failure,
              QStringLiteral("The working folder could not be created."));
    QFile::remove(docs);
    QDir().mkpath(docs);
}
