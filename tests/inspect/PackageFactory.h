#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QString>
#include <QTimeZone>
#include <QVariantMap>

#include <functional>

// Builds test packages in code: iOS packages with zip, Android packages with aapt against the
// distribution's Android framework resources.
namespace packages {

// An XML property list of strings, numbers, lists and nested dictionaries.
QByteArray xmlPlist(const QVariant& root);
// The same converted to the binary format (through plistutil).
QByteArray binaryPlist(const QVariant& root);

// Zips files (archive path -> bytes; a path ending in "/" is a folder) into zipPath with `zip`,
// stored uncompressed, plus an optional bigEntry of bigSize zero bytes created sparse.
// Returns zipPath, or "" on failure.
QString zipFiles(const QString& zipPath, const QMap<QString, QByteArray>& files, const QString& bigEntry = {},
                 qint64 bigSize = 0);

// A copy of package at out with the files of a folder added (or replaced) under their names by zip,
// links stored as links, after prepare(folder) made them; with no entries, a plain copy.
QString withEntries(const QString& package, const QString& out, const QStringList& entries,
                    const std::function<void(const QString& folder)>& prepare);

// A binary property list of the given encoded objects, with four-byte offsets and references of
// referenceSize bytes.
QByteArray bplist(const QList<QByteArray>& objects, quint64 top = 0, quint8 referenceSize = 1);
// A binary property list of arrays nested depth deep (an array holding one array, ...).
QByteArray deepBinaryPlist(int depth);

// A ZIP64 archive of one deflated entry whose contents are realSize zero bytes, while both
// directory records claim claimedSize (equal for an honest bomb). Written in seconds whatever
// the size: the deflate stream repeats one fully flushed block.
QString zipBomb(const QString& zipPath, const QByteArray& entry, quint64 realSize, quint64 claimedSize);

// A provisioning profile as Xcode embeds one: the property list signed into a CMS message,
// here with a throwaway key and certificate made by `openssl` for the test run.
struct Profile {
    QString kind = QStringLiteral("enterprise"); // development, ad-hoc, enterprise, app-store
    QString appIdentifier = QStringLiteral("ABCDE12345.*");
    QDateTime expiration = QDateTime(QDate(2035, 1, 1), QTime(0, 0), QTimeZone::utc());
    int devices = 3;              // development and ad hoc
    QVariantList deviceIds;       // set: listed instead of `devices` generated ones
    bool withCertificate = false; // list the signing certificate under DeveloperCertificates
    bool streamed = false;        // BER with indefinite lengths, as streaming signers write it
};
QByteArray profilePlist(const Profile& profile);
// The signed .mobileprovision bytes; empty when openssl failed.
QByteArray signedProfile(const Profile& profile);
// The notAfter of the certificate signedProfile signs with, as openssl prints it.
QString signingCertificateEnd();

struct AndroidApp {
    QString package = QStringLiteral("com.example.app");
    QString versionCode = QStringLiteral("7");
    QString versionName = QStringLiteral("1.7");
    QString label = QStringLiteral("Example");
    QMap<QString, QString> localisedLabels; // language -> label
    bool adaptiveIcon = false;
    qint64 assetSize = 0; // zero bytes stored as assets/blob.bin when not 0
    bool debuggable = false;
    QString split;          // set: a configuration split ("config.arm64_v8a") without its base
    QStringList nativeAbis; // lib/ABI/libnative.so for each
};
// Builds a real .apk with `aapt package`; returns apkPath or "" on failure.
QString buildApk(const QString& apkPath, const AndroidApp& app);

} // namespace packages
