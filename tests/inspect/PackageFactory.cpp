#include "inspect/PackageFactory.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>

#include <zlib.h>

namespace packages {

namespace {
bool run(const QString& program, const QStringList& args, const QString& dir = {}) {
    QProcess p;
    p.setWorkingDirectory(dir);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(program, args);
    return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QString xmlValue(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::QVariantMap: {
        QString out = QStringLiteral("<dict>");
        const QVariantMap map = v.toMap();
        for (auto it = map.begin(); it != map.end(); ++it)
            out += QStringLiteral("<key>%1</key>").arg(it.key().toHtmlEscaped()) + xmlValue(it.value());
        return out + QStringLiteral("</dict>");
    }
    case QMetaType::QVariantList: {
        QString out = QStringLiteral("<array>");
        for (const QVariant& e : v.toList())
            out += xmlValue(e);
        return out + QStringLiteral("</array>");
    }
    case QMetaType::Int:
    case QMetaType::LongLong:
        return QStringLiteral("<integer>%1</integer>").arg(v.toLongLong());
    case QMetaType::Bool:
        return v.toBool() ? QStringLiteral("<true/>") : QStringLiteral("<false/>");
    case QMetaType::QDateTime:
        return QStringLiteral("<date>%1</date>").arg(v.toDateTime().toUTC().toString(Qt::ISODate));
    case QMetaType::QByteArray:
        return QStringLiteral("<data>%1</data>").arg(QString::fromLatin1(v.toByteArray().toBase64()));
    default:
        return QStringLiteral("<string>%1</string>").arg(v.toString().toHtmlEscaped());
    }
}

} // namespace

QByteArray xmlPlist(const QVariant& root) {
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">%1</plist>\n")
        .arg(xmlValue(root))
        .toUtf8();
}

QByteArray binaryPlist(const QVariant& root) {
    const QString dir = testsupport::makeTempDir(QStringLiteral("plist"));
    testsupport::writeFile(dir + QStringLiteral("/in.plist"), xmlPlist(root));
    run(QStringLiteral("plistutil"), {"-i", dir + "/in.plist", "-o", dir + "/out.plist", "-f", "bin"});
    return testsupport::readFile(dir + QStringLiteral("/out.plist"));
}

void sparseFile(const QString& path, qint64 size) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.resize(size);
}

QString zipFiles(const QString& zipPath, const QMap<QString, QByteArray>& files, const QString& bigEntry,
                 qint64 bigSize) {
    const QString dir = testsupport::makeTempDir(QStringLiteral("zip"));
    if (!bigEntry.isEmpty())
        sparseFile(dir + QLatin1Char('/') + bigEntry, bigSize);
    for (auto it = files.begin(); it != files.end(); ++it) {
        if (it.key().endsWith(QLatin1Char('/')))
            QDir().mkpath(dir + QLatin1Char('/') + it.key());
        else
            testsupport::writeFile(dir + QLatin1Char('/') + it.key(), it.value());
    }
    QFile::remove(zipPath);
    QDir().mkpath(QFileInfo(zipPath).absolutePath());
    // -0 keeps large test assets fast to write.
    const bool ok = run(QStringLiteral("zip"), {"-q", "-r", "-0", zipPath, "."}, dir);
    QDir(dir).removeRecursively();
    return ok ? zipPath : QString();
}

namespace {
void bigEndian(QByteArray& out, quint64 v, int width) {
    for (int i = width - 1; i >= 0; --i)
        out.append(char((v >> (8 * i)) & 0xff));
}
void little(QByteArray& out, quint64 v, int width) {
    for (int i = 0; i < width; ++i)
        out.append(char((v >> (8 * i)) & 0xff));
}
} // namespace

QByteArray deepBinaryPlist(int depth) {
    QByteArray out("bplist00");
    QList<quint64> offsets;
    for (int i = 0; i < depth; ++i) {
        offsets.append(quint64(out.size()));
        if (i + 1 < depth) {
            out.append(char(0xA1));
            bigEndian(out, quint64(i + 1), 4);
        } else {
            out.append(char(0xA0));
        }
    }
    const quint64 table = quint64(out.size());
    for (const quint64 offset : offsets)
        bigEndian(out, offset, 4);
    out.append(QByteArray(6, '\0'));
    out.append(char(4)); // offset width
    out.append(char(4)); // reference width
    bigEndian(out, quint64(depth), 8);
    bigEndian(out, 0, 8);
    bigEndian(out, table, 8);
    return out;
}

QString zipBomb(const QString& zipPath, const QByteArray& entry, quint64 realSize, quint64 claimedSize) {
    constexpr quint64 block = 1 << 20;
    const QByteArray zeros(block, '\0');
    // A full flush resets the compressor, so every block of zeros compresses to the same bytes.
    const auto deflateRaw = [](const QByteArray& in, int flush) {
        z_stream z{};
        deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
        QByteArray out(int(deflateBound(&z, uLong(in.size()))) + 64, '\0');
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.constData()));
        z.avail_in = uInt(in.size());
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = uInt(out.size());
        deflate(&z, flush);
        out.truncate(qsizetype(z.total_out));
        deflateEnd(&z);
        return out;
    };
    const QByteArray repeated = deflateRaw(zeros, Z_FULL_FLUSH);
    const QByteArray last = deflateRaw(QByteArray(qsizetype(realSize % block), '\0'), Z_FINISH);
    const uLong blockCrc = crc32(0, reinterpret_cast<const Bytef*>(zeros.constData()), uInt(block));
    uLong crc = 0;
    for (quint64 i = 0; i < realSize / block; ++i)
        crc = crc32_combine(crc, blockCrc, z_off_t(block));
    crc = crc32_combine(crc,
                        crc32(0, reinterpret_cast<const Bytef*>(zeros.constData()), uInt(realSize % block)),
                        z_off_t(realSize % block));
    const quint64 compressed = quint64(repeated.size()) * (realSize / block) + quint64(last.size());

    QFile file(zipPath);
    QDir().mkpath(QFileInfo(zipPath).absolutePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    const auto header = [&](quint32 signature, bool central) {
        QByteArray h;
        little(h, signature, 4);
        if (central)
            little(h, 0x031E, 2); // made on Unix
        little(h, 45, 2);         // ZIP64
        little(h, 0, 2);
        little(h, 8, 2); // deflated
        little(h, 0, 2);
        little(h, 0x21, 2);
        little(h, crc, 4);
        little(h, 0xFFFFFFFF, 4);
        little(h, 0xFFFFFFFF, 4);
        little(h, quint64(entry.size()), 2);
        little(h, central ? 28 : 20, 2);
        if (central) {
            little(h, 0, 2);
            little(h, 0, 2);
            little(h, 0, 2);
            little(h, quint64(0100644) << 16, 4);
            little(h, 0xFFFFFFFF, 4);
        }
        h.append(entry);
        little(h, 1, 2);
        little(h, central ? 24 : 16, 2);
        little(h, claimedSize, 8);
        little(h, compressed, 8);
        if (central)
            little(h, 0, 8); // local header offset
        return h;
    };
    file.write(header(0x04034b50, false));
    for (quint64 i = 0; i < realSize / block; ++i)
        file.write(repeated);
    file.write(last);
    const quint64 directoryOffset = quint64(file.pos());
    const QByteArray central = header(0x02014b50, true);
    file.write(central);
    const quint64 end64Offset = quint64(file.pos());
    QByteArray end;
    little(end, 0x06064b50, 4);
    little(end, 44, 8);
    little(end, 0x031E, 2);
    little(end, 45, 2);
    little(end, 0, 8); // this disk, directory disk
    little(end, 1, 8);
    little(end, 1, 8);
    little(end, quint64(central.size()), 8);
    little(end, directoryOffset, 8);
    little(end, 0x07064b50, 4);
    little(end, 0, 4);
    little(end, end64Offset, 8);
    little(end, 1, 4);
    little(end, 0x06054b50, 4);
    little(end, 0, 4);
    little(end, 0xFFFF, 2);
    little(end, 0xFFFF, 2);
    little(end, 0xFFFFFFFF, 4);
    little(end, 0xFFFFFFFF, 4);
    little(end, 0, 2);
    file.write(end);
    return file.error() == QFile::NoError ? zipPath : QString();
}

namespace {
// One key and certificate per test run, valid for 30 days from now.
QString signingDir() {
    static const QString dir = [] {
        const QString d = testsupport::makeTempDir(QStringLiteral("signer"));
        run(QStringLiteral("openssl"),
            {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
             d + "/key.pem", "-out", d + "/cert.pem", "-subj", "/CN=Vantry Test Signer", "-days", "30"});
        run(QStringLiteral("openssl"),
            {"x509", "-in", d + "/cert.pem", "-outform", "DER", "-out", d + "/cert.der"});
        return d;
    }();
    return dir;
}
} // namespace

QByteArray signingCertificate() {
    return testsupport::readFile(signingDir() + QStringLiteral("/cert.der"));
}

QString signingCertificateEnd() {
    QProcess p;
    p.start(QStringLiteral("openssl"), {"x509", "-in", signingDir() + "/cert.pem", "-noout", "-enddate"});
    p.waitForFinished(30000);
    return QString::fromLatin1(p.readAllStandardOutput()).trimmed().section(QLatin1Char('='), 1);
}

QByteArray profilePlist(const Profile& profile) {
    const QString team = profile.appIdentifier.section(QLatin1Char('.'), 0, 0);
    QVariantMap entitlements{{QStringLiteral("application-identifier"), profile.appIdentifier},
                             {QStringLiteral("com.apple.developer.team-identifier"), team}};
    QVariantMap plist{
        {QStringLiteral("AppIDName"), QStringLiteral("Example")},
        {QStringLiteral("Name"), QStringLiteral("Example ") + profile.kind},
        {QStringLiteral("TeamName"), QStringLiteral("Example Corp")},
        {QStringLiteral("TeamIdentifier"), QVariantList{team}},
        {QStringLiteral("CreationDate"), QDateTime(QDate(2025, 2, 1), QTime(9, 30), QTimeZone::utc())},
        {QStringLiteral("ExpirationDate"), profile.expiration},
        {QStringLiteral("Version"), 1}};
    QVariantList devices = profile.deviceIds;
    for (int i = 0; profile.deviceIds.isEmpty() && i < profile.devices; ++i)
        devices << QStringLiteral("00008101-%1").arg(i, 16, 10, QLatin1Char('0'));
    if (profile.kind == QLatin1String("development")) {
        entitlements.insert(QStringLiteral("get-task-allow"), true);
        plist.insert(QStringLiteral("ProvisionedDevices"), devices);
    } else if (profile.kind == QLatin1String("ad-hoc")) {
        entitlements.insert(QStringLiteral("get-task-allow"), false);
        plist.insert(QStringLiteral("ProvisionedDevices"), devices);
    } else if (profile.kind == QLatin1String("enterprise")) {
        plist.insert(QStringLiteral("ProvisionsAllDevices"), true);
    }
    plist.insert(QStringLiteral("Entitlements"), entitlements);
    if (profile.withCertificate)
        plist.insert(QStringLiteral("DeveloperCertificates"), QVariantList{signingCertificate()});
    return xmlPlist(plist);
}

QByteArray signedProfile(const Profile& profile) {
    const QString signer = signingDir();
    const QString dir = testsupport::makeTempDir(QStringLiteral("profile"));
    testsupport::writeFile(dir + QStringLiteral("/in.plist"), profilePlist(profile));
    QStringList args = {"cms",       "-sign",
                        "-nodetach", "-binary",
                        "-outform",  "DER",
                        "-in",       dir + "/in.plist",
                        "-out",      dir + "/out.der",
                        "-signer",   signer + "/cert.pem",
                        "-inkey",    signer + "/key.pem"};
    if (profile.streamed)
        args << QStringLiteral("-stream");
    const bool ok = run(QStringLiteral("openssl"), args);
    const QByteArray bytes = ok ? testsupport::readFile(dir + QStringLiteral("/out.der")) : QByteArray();
    QDir(dir).removeRecursively();
    return bytes;
}

QString buildApk(const QString& apkPath, const AndroidApp& app) {
    const QString dir = testsupport::makeTempDir(QStringLiteral("apk"));
    const QString res = dir + QStringLiteral("/res");
    testsupport::writeFile(
        dir + QStringLiteral("/AndroidManifest.xml"),
        QStringLiteral(
            "<manifest xmlns:android=\"http://schemas.android.com/apk/res/android\" package=\"%1\" %4"
            "android:versionCode=\"%2\" android:versionName=\"%3\"><uses-sdk android:minSdkVersion=\"21\"/>"
            "<application android:label=\"@string/app_name\" android:icon=\"@mipmap/ic_launcher\"%5/>"
            "</manifest>")
            .arg(app.package, app.versionCode, app.versionName,
                 app.split.isEmpty() ? QString() : QStringLiteral("split=\"%1\" ").arg(app.split),
                 app.debuggable ? QStringLiteral(" android:debuggable=\"true\"") : QString())
            .toUtf8());
    const auto strings = [](const QString& label) {
        QString text = label.toHtmlEscaped();
        text.replace(QLatin1Char('\''), QLatin1String("\\'"));
        return QStringLiteral("<resources><string name=\"app_name\">%1</string></resources>")
            .arg(text)
            .toUtf8();
    };
    testsupport::writeFile(res + QStringLiteral("/values/strings.xml"), strings(app.label));
    for (auto it = app.localisedLabels.begin(); it != app.localisedLabels.end(); ++it)
        testsupport::writeFile(res + QStringLiteral("/values-%1/strings.xml").arg(it.key()),
                               strings(it.value()));
    QImage icon(48, 48, QImage::Format_ARGB32);
    icon.fill(Qt::darkGreen);
    QDir().mkpath(res + QStringLiteral("/mipmap-mdpi"));
    QDir().mkpath(res + QStringLiteral("/mipmap-xhdpi"));
    icon.scaled(24, 24).save(res + QStringLiteral("/mipmap-mdpi/ic_launcher.png"));
    icon.save(res + QStringLiteral("/mipmap-xhdpi/ic_launcher.png"));
    if (app.adaptiveIcon)
        testsupport::writeFile(res + QStringLiteral("/mipmap-anydpi-v26/ic_launcher.xml"),
                               "<adaptive-icon xmlns:android=\"http://schemas.android.com/apk/res/android\">"
                               "<background android:drawable=\"@android:color/white\"/></adaptive-icon>");
    QStringList args = {"package", "-f",   "-M", dir + "/AndroidManifest.xml",
                        "-S",      res,    "-I", "/usr/share/android-framework-res/framework-res.apk",
                        "-F",      apkPath};
    if (app.assetSize > 0) {
        sparseFile(dir + QStringLiteral("/assets/blob.bin"), app.assetSize);
        args << QStringLiteral("-A") << dir + QStringLiteral("/assets") << QStringLiteral("-0")
             << QStringLiteral("bin");
    }
    QFile::remove(apkPath);
    QDir().mkpath(QFileInfo(apkPath).absolutePath());
    bool ok = run(QStringLiteral("aapt"), args);
    // aapt adds files relative to the working folder under the names given.
    for (const QString& abi : app.nativeAbis) {
        const QString lib = QStringLiteral("lib/%1/libnative.so").arg(abi);
        testsupport::writeFile(dir + QLatin1Char('/') + lib, "\x7f"
                                                             "ELF");
        ok = ok && run(QStringLiteral("aapt"), {"add", QFileInfo(apkPath).absoluteFilePath(), lib}, dir);
    }
    QDir(dir).removeRecursively();
    return ok ? apkPath : QString();
}

} // namespace packages
