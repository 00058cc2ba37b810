#include "InspectionRun.h"
#include "core/WorkingFolder.h"
#include "inspect/PackageFactory.h"
#include "inspect/ZipExtractor.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>

using namespace testsupport;

namespace {
QString validIpa() {
    return packages::zipFiles(
        homeDir() + "/pkgs/valid.ipa",
        {{"Payload/X.app/Info.plist", packages::xmlPlist(QVariantMap{{"CFBundleIdentifier", "x.y"}})}});
}
QString validApk() {
    return packages::buildApk(homeDir() + "/pkgs/valid.apk", {});
}

// A copy of package with entries of realSize zeros added, deflated, whose local headers and
// directory records then claim 100 bytes each.
QString withLyingEntries(const QString& package, const QString& name, const QStringList& entries,
                         qint64 realSize) {
    const QString out =
        packages::withEntries(package, homeDir() + "/pkgs/" + name, entries, [&](const QString& dir) {
            for (const QString& entry : entries)
                EXPECT_TRUE(QFile::resize(writeFile(dir + '/' + entry, {}), realSize));
        });
    QByteArray bytes = readFile(out);
    for (const QString& entry : entries) {
        int patched = 0;
        for (qsizetype at = bytes.indexOf(entry.toUtf8()); at >= 0;
             at = bytes.indexOf(entry.toUtf8(), at + 1)) {
            // The uncompressed size of a local header (name at 30) or a directory record (name at 46).
            for (const auto& [nameAt, signature, field] :
                 {std::tuple(30, "PK\3\4", 22), std::tuple(46, "PK\1\2", 24)})
                if (at >= nameAt && bytes.mid(at - nameAt, 4) == QByteArray(signature, 4) && ++patched)
                    bytes.replace(at - nameAt + field, 4, QByteArray("\x64\0\0\0", 4));
        }
        if (patched != 2)
            return {};
    }
    writeFile(out, bytes);
    return out;
}
} // namespace

TEST(HostileInput, EndsInFailureOrRecordAndWritesNothingOutside) {
    const QString pkgs = homeDir() + "/pkgs/";
    const QString ipa = validIpa();
    const QString apk = validApk();
    const QByteArray ipaBytes = readFile(ipa);
    const QString cwd = makeTempDir("cwd");
    QDir::setCurrent(cwd);
    const QString quoted = pkgs + "a b \"c\" $(touch INJECTED) `touch INJECTED2` 'd'";
    QFile::copy(apk, quoted + ".apk");
    QFile::copy(ipa, quoted + ".ipa");
    // An entry named "../../escaped.txt", which zip itself refuses to store: written under another
    // name of the same length, then renamed in place.
    const auto escaping = [&](const QString& package) {
        const QString out = packages::withEntries(
            package, pkgs + "escape." + QFileInfo(package).suffix(), {"aa/aa/escaped.txt"},
            [](const QString& dir) { writeFile(dir + "/aa/aa/escaped.txt", "outside"); });
        return writeFile(out, readFile(out).replace("aa/aa/escaped.txt", "../../escaped.txt"));
    };
    // An entry that is a symbolic link to a private file, named like the icon inspection picks.
    const QString secret =
        writeFile(homeDir() + "/private.png", readFile(dataPath("ipa/cgbi/icon96.standard.png")));
    const auto linking = [&](const QString& package, const QString& entry) {
        return packages::withEntries(package, pkgs + "link." + QFileInfo(package).suffix(), {entry},
                                     [&](const QString& dir) { QFile::link(secret, dir + '/' + entry); });
    };
    const std::pair<QString, bool> cases[] = {
        // package, whether it gives a record
        {writeFile(pkgs + "empty.ipa", {}), false},
        {writeFile(pkgs + "empty.apk", {}), false},
        {writeFile(pkgs + "truncated.ipa", ipaBytes.left(ipaBytes.size() / 2)), false},
        {writeFile(pkgs + "truncated.apk", readFile(apk).left(300)), false},
        {packages::zipFiles(pkgs + "readme.ipa", {{"README", "hi"}}), false},
        {packages::zipFiles(pkgs + "readme.apk", {{"README", "hi"}}), false},
        {packages::zipFiles(pkgs + "array.ipa",
                            {{"Payload/X.app/Info.plist", packages::xmlPlist(QVariantList{1, 2})}}),
         false},
        {packages::zipFiles(pkgs + "noplist.ipa", {{"Payload/X.app/", {}}}), false},
        {quoted + ".apk", true},
        {quoted + ".ipa", true},
        {escaping(apk), true},
        {escaping(ipa), true},
        {linking(apk, "res/link.png"), true},
        {linking(ipa, "Payload/X.app/Icon.png"), true},
        // A stub in front of the archive (self-extracting) shifts every offset; a changed byte
        // of a stored Info.plist no longer matches its CRC.
        {writeFile(pkgs + "prefixed.ipa", QByteArray(1000, '#') + ipaBytes), true},
        {writeFile(pkgs + "badcrc.ipa", QByteArray(ipaBytes).replace(">x.y<", ">x.z<")), false},
    };
    for (const auto& [package, record] : cases) {
        SCOPED_TRACE(package.toStdString());
        const Outcome out = inspectPackage(inspectorFor(package), package);
        EXPECT_EQ(out.record.has_value(), record) << out.failure.toStdString();
        for (const char* link : {"/res/link.png", "/Payload/X.app/Icon.png"})
            EXPECT_FALSE(QFileInfo(workingFolder() + link).isSymLink());
    }
    EXPECT_EQ(QDir(cwd).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList()) << "a command ran";
    // "../../escaped.txt" from the working folder would land in HOME.
    EXPECT_FALSE(QFile::exists(homeDir() + "/escaped.txt"));
    EXPECT_FALSE(QFile::exists(documentsFolder() + "/escaped.txt"));
}

TEST(HostileInput, WorkingFolderCannotBeMade) {
    const QString docs = documentsFolder();
    QDir(docs).removeRecursively();
    writeFile(docs, "a file where the folder should be");
    EXPECT_EQ(inspectPackage(new ParseIPA, validIpa()).failure, "The working folder could not be created.");
    QFile::remove(docs);
    QDir().mkpath(docs);
}

namespace {
qint64 bytesUnder(const QString& folder) {
    qint64 total = 0;
    for (QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();)
        total += it.nextFileInfo().size();
    return total;
}
} // namespace

// Archives whose entries expand far beyond anything real, honestly declared or not, and an
// Info.plist nested 100,000 deep: nothing larger than its claim is written, whatever the number of
// such entries, and a failure leaves nothing behind.
TEST(HostileInput, ExpandingEntriesAreNotWritten) {
    const QString pkgs = homeDir() + "/pkgs/";
    const QByteArray plist = "Payload/X.app/Info.plist";
    constexpr quint64 GiB = 1ull << 30;
    const QString longer = QStringLiteral("The package holds more data than it declares.");
    const QString damaged = QStringLiteral("The app's Info.plist is damaged or too complex");
    const QString notApk = QStringLiteral("This file is not a valid Android app package.");
    // Ten icons of 12 MiB that each claim 100 bytes, the first the one the Info.plist names.
    QStringList icons = {"Payload/X.app/AppIcon.png"};
    for (int i = 1; i < 10; ++i)
        icons << QStringLiteral("Payload/X.app/i%1.png").arg(i);
    const QVariantMap info{
        {"CFBundleIdentifier", "x.y"},
        {"CFBundleIcons",
         QVariantMap{{"CFBundlePrimaryIcon", QVariantMap{{"CFBundleIconFiles", QVariantList{"AppIcon"}}}}}}};
    const QString named = packages::zipFiles(pkgs + "named.ipa", {{plist, packages::xmlPlist(info)}});
    const std::pair<QString, QString> cases[] = {
        // package, failure
        {packages::zipBomb(pkgs + "bomb.ipa", plist, 6 * GiB, 6 * GiB), damaged},
        {packages::zipBomb(pkgs + "lying.ipa", plist, GiB / 4, 4096), longer},
        {withLyingEntries(named, "icons.ipa", icons, 12 << 20), longer},
        {packages::zipFiles(pkgs + "deep.ipa", {{plist, packages::deepBinaryPlist(100000)}}), damaged},
        {packages::zipBomb(pkgs + "bomb.apk", "res/raw/a.bin", GiB, GiB), notApk},
        {packages::zipBomb(pkgs + "lying.apk", "res/raw/a.bin", GiB / 4, 4096), notApk},
        {withLyingEntries(validApk(), "icon.apk", {"res/mipmap-xhdpi-v4/ic_launcher.png"}, 12 << 20), longer},
    };
    for (const auto& [package, expected] : cases) {
        SCOPED_TRACE(package.toStdString());
        ASSERT_FALSE(package.isEmpty());
        qint64 largest = 0;
        const Outcome out = inspectPackage(inspectorFor(package), package,
                                           [&] { largest = std::max(largest, bytesUnder(workingFolder())); });
        EXPECT_EQ(out.failure, expected);
        EXPECT_LT(largest, 20 * 1000 * 1000);
        EXPECT_FALSE(QFileInfo::exists(workingFolder()));
    }
    // Not a byte past the claim reaches the output.
    QFile archive(pkgs + "lying.ipa");
    QBuffer out;
    ASSERT_TRUE(archive.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly));
    EXPECT_EQ(ZipExtractor::extract(archive, ZipDirectory::read(archive.fileName())->constFirst(), out),
              ZipExtractor::Result::Longer);
    EXPECT_LE(out.size(), 4096);
}
