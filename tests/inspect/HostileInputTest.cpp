#include "InspectionRun.h"
#include "core/WorkingFolder.h"
#include "inspect/PackageFactory.h"
#include "inspect/ParseAPK.h"
#include "inspect/ParseIPA.h"
#include "inspect/ZipExtractor.h"
#include "plist/PlistReader.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
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

// A copy of package with more entries added (or replaced) by zip from dir (links stored as links).
QString withEntry(const QString& package, const QString& name, const QString& dir,
                  const QStringList& entries) {
    const QString out = homeDir() + QStringLiteral("/pkgs/") + name;
    QFile::remove(out);
    QFile::copy(package, out);
    QFile::setPermissions(out, QFile::ReadOwner | QFile::WriteOwner);
    QProcess zip;
    zip.setWorkingDirectory(dir);
    zip.start(QStringLiteral("zip"), QStringList{QStringLiteral("-q"), QStringLiteral("-y"), out} + entries);
    zip.waitForFinished();
    return out;
}

// A copy of package with entries of realSize zeros added, deflated, whose local headers and
// directory records then claim 100 bytes each.
QString withLyingEntries(const QString& package, const QString& name, const QStringList& entries,
                         qint64 realSize) {
    const QString dir = makeTempDir(QStringLiteral("lie"));
    for (const QString& entry : entries) {
        QDir().mkpath(QFileInfo(dir + QLatin1Char('/') + entry).absolutePath());
        QFile file(dir + QLatin1Char('/') + entry);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(realSize))
            return {};
    }
    const QString out = withEntry(package, name, dir, entries);
    QByteArray bytes = readFile(out);
    const auto signatureAt = [&bytes](qsizetype pos, const char* signature) {
        return pos >= 0 && bytes.mid(pos, 4) == QByteArray(signature, 4);
    };
    for (const QString& entry : entries) {
        const QByteArray stored = entry.toUtf8();
        int patched = 0;
        for (qsizetype at = bytes.indexOf(stored); at >= 0; at = bytes.indexOf(stored, at + 1)) {
            const qsizetype field = signatureAt(at - 30, "PK\3\4")   ? at - 30 + 22
                                    : signatureAt(at - 46, "PK\1\2") ? at - 46 + 24
                                                                     : -1;
            if (field >= 0 && ++patched)
                bytes.replace(field, 4, QByteArray("\x64\0\0\0", 4));
        }
        if (patched != 2)
            return {};
    }
    writeFile(out, bytes);
    return out;
}

// An entry named "../../escaped.txt", which zip itself refuses to store: written as
// "aa/aa/escaped.txt", then renamed in place.
QString escaping(const QString& package, const QString& name) {
    const QString dir = makeTempDir(QStringLiteral("esc"));
    writeFile(dir + QStringLiteral("/aa/aa/escaped.txt"), "outside");
    const QString out = withEntry(package, name, dir, {QStringLiteral("aa/aa/escaped.txt")});
    QByteArray bytes = readFile(out);
    bytes.replace("aa/aa/escaped.txt", "../../escaped.txt");
    writeFile(out, bytes);
    return out;
}

// An entry that is a symbolic link to a private file, named like the icon inspection picks.
QString linking(const QString& package, const QString& name, const QString& entry) {
    const QString dir = makeTempDir(QStringLiteral("link"));
    QDir().mkpath(QFileInfo(dir + QLatin1Char('/') + entry).absolutePath());
    QFile::link(writeFile(homeDir() + QStringLiteral("/private.png"),
                          readFile(dataPath(QStringLiteral("ipa/cgbi/icon96.standard.png")))),
                dir + QLatin1Char('/') + entry);
    return withEntry(package, name, dir, {entry});
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
        {escaping(apk, QStringLiteral("escape.apk")), true, true},
        {escaping(ipa, QStringLiteral("escape.ipa")), false, true},
        {linking(apk, QStringLiteral("link.apk"), QStringLiteral("res/link.png")), true, true},
        {linking(ipa, QStringLiteral("link.ipa"), QStringLiteral("Payload/X.app/Icon.png")), false, true},
        // A stub in front of the archive (self-extracting) shifts every offset; a changed byte
        // of a stored Info.plist no longer matches its CRC.
        {writeFile(pkgs + QStringLiteral("prefixed.ipa"), QByteArray(1000, '#') + ipaBytes), false, true},
        {writeFile(pkgs + QStringLiteral("badcrc.ipa"), QByteArray(ipaBytes).replace(">x.y<", ">x.z<")),
         false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        const Outcome out =
            inspectPackage(c.apk ? static_cast<Inspector*>(new ParseAPK) : new ParseIPA, c.path);
        EXPECT_EQ(out.record.has_value(), c.record) << out.failure.toStdString();
        for (const char* link : {"/res/link.png", "/Payload/X.app/Icon.png"})
            EXPECT_FALSE(QFileInfo(workingFolder() + QLatin1String(link)).isSymLink());
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

namespace {
const QString damagedPlist = QStringLiteral("The app's Info.plist is damaged or too complex");

qint64 bytesUnder(const QString& folder) {
    qint64 total = 0;
    for (QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
        it.next();
        total += it.fileInfo().size();
    }
    return total;
}
} // namespace

TEST(HostileInput, DeepBinaryPlistFailsCleanly) {
    const QByteArray deep = packages::deepBinaryPlist(100000);
    QElapsedTimer timer;
    timer.start();
    const PlistReader::Result read = PlistReader::fromBytes(deep);
    // A safety net against the recursive parse (seconds, then a stack overflow); the real
    // figure is the inspect benchmark's.
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_EQ(read.problem, PlistReader::Problem::Refused);

    const QString ipa = packages::zipFiles(homeDir() + QStringLiteral("/pkgs/deep.ipa"),
                                           {{QStringLiteral("Payload/X.app/Info.plist"), deep}});
    EXPECT_EQ(inspectPackage(new ParseIPA, ipa).failure, damagedPlist);
    EXPECT_FALSE(QFileInfo::exists(workingFolder())) << "a failed inspection leaves its files";
}

// Archives whose entries expand far beyond anything real, honestly declared or not: nothing
// larger than its claim is written, whatever the number of such entries, and a failure leaves
// nothing behind.
TEST(HostileInput, ExpandingEntriesAreNotWritten) {
    const QString pkgs = homeDir() + QStringLiteral("/pkgs/");
    const QByteArray plist = "Payload/X.app/Info.plist";
    constexpr quint64 GiB = 1ull << 30;
    const QString longer = QStringLiteral("The package holds more data than it declares.");
    // Ten icons of 12 MiB that each claim 100 bytes, the first the one the Info.plist names.
    QStringList icons = {QStringLiteral("Payload/X.app/AppIcon.png")};
    for (int i = 1; i < 10; ++i)
        icons << QStringLiteral("Payload/X.app/i%1.png").arg(i);
    const QVariantMap info{
        {"CFBundleIdentifier", "x.y"},
        {"CFBundleIcons",
         QVariantMap{{"CFBundlePrimaryIcon", QVariantMap{{"CFBundleIconFiles", QVariantList{"AppIcon"}}}}}}};
    const QString named = packages::zipFiles(pkgs + QStringLiteral("named.ipa"),
                                             {{QString::fromLatin1(plist), packages::xmlPlist(info)}});
    struct Case {
        QString package;
        QString failure;
    };
    const Case cases[] = {
        {packages::zipBomb(pkgs + QStringLiteral("bomb.ipa"), plist, 6 * GiB, 6 * GiB), damagedPlist},
        {packages::zipBomb(pkgs + QStringLiteral("lying.ipa"), plist, GiB / 4, 4096), longer},
        {withLyingEntries(named, QStringLiteral("icons.ipa"), icons, 12 << 20), longer},
        {packages::zipBomb(pkgs + QStringLiteral("bomb.apk"), "res/raw/a.bin", GiB, GiB),
         QStringLiteral("This file is not a valid Android app package.")},
        {packages::zipBomb(pkgs + QStringLiteral("lying.apk"), "res/raw/a.bin", GiB / 4, 4096),
         QStringLiteral("This file is not a valid Android app package.")},
        {withLyingEntries(validApk(), QStringLiteral("icon.apk"),
                          {QStringLiteral("res/mipmap-xhdpi-v4/ic_launcher.png")}, 12 << 20),
         longer},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.package.toStdString());
        ASSERT_FALSE(c.package.isEmpty());
        Inspector* inspector =
            c.package.endsWith(QLatin1String(".apk")) ? static_cast<Inspector*>(new ParseAPK) : new ParseIPA;
        std::optional<QString> failure;
        inspector->onFailure = [&](const QString& message) { failure = message; };
        inspector->onComplete = [&](const PackageRecord&) { failure = QString(); };
        inspector->inspect(QUrl::fromLocalFile(c.package));
        qint64 largest = 0;
        EXPECT_TRUE(waitUntil(
            [&] {
                largest = std::max(largest, bytesUnder(workingFolder()));
                return failure.has_value();
            },
            60000));
        EXPECT_EQ(failure.value_or(QStringLiteral("(no report)")), c.failure);
        EXPECT_LT(largest, 20 * 1000 * 1000);
        EXPECT_FALSE(QFileInfo::exists(workingFolder()));
    }
    // Not a byte past the claim reaches the output.
    const QString lying = pkgs + QStringLiteral("lying.ipa");
    QFile archive(lying);
    QBuffer out;
    ASSERT_TRUE(archive.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly));
    EXPECT_EQ(ZipExtractor::extract(archive, ZipDirectory::read(lying)->constFirst(), out),
              ZipExtractor::Result::Longer);
    EXPECT_LE(out.size(), 4096);
}
