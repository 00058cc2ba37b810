#include "inspect/PackageFactory.h"

#include "support/TestSupport.h"

#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>

#include <zlib.h>

namespace packages {

namespace {
// The program's standard output, or nothing when it failed.
std::optional<QByteArray> run(const QString& program, const QStringList& args, const QString& dir = {}) {
    QProcess p;
    p.setWorkingDirectory(dir);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return std::nullopt;
    return p.readAllStandardOutput();
}

QString xmlValue(const QVariant& v) {
    const auto element = [](const char* tag, const QString& text) {
        return QStringLiteral("<%1>%2</%1>").arg(QLatin1String(tag), text);
    };
    QString out;
    switch (v.typeId()) {
    case QMetaType::QVariantMap:
        for (auto [key, value] : v.toMap().asKeyValueRange())
            out += element("key", key.toHtmlEscaped()) + xmlValue(value);
        return element("dict", out);
    case QMetaType::QVariantList:
        for (const QVariant& e : v.toList())
            out += xmlValue(e);
        return element("array", out);
    case QMetaType::Int:
    case QMetaType::LongLong:
        return element("integer", v.toString());
    case QMetaType::Bool:
        return v.toBool() ? QStringLiteral("<true/>") : QStringLiteral("<false/>");
    case QMetaType::QDateTime:
        return element("date", v.toDateTime().toUTC().toString(Qt::ISODate));
    case QMetaType::QByteArray:
        return element("data", QString::fromLatin1(v.toByteArray().toBase64()));
    default:
        return element("string", v.toString().toHtmlEscaped());
    }
}

} // namespace

QByteArray xmlPlist(const QVariant& root) {
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">%1</plist>\n")
        .arg(xmlValue(root))
        .toUtf8();
}

QByteArray binaryPlist(const QVariant& root) {
    const QString in = testsupport::writeFile(testsupport::makeTempDir(QStringLiteral("plist")) + "/in.plist",
                                              xmlPlist(root));
    return run("plistutil", {"-i", in, "-o", "-", "-f", "bin"}).value_or(QByteArray());
}

QString zipFiles(const QString& zipPath, const QMap<QString, QByteArray>& files, const QString& bigEntry,
                 qint64 bigSize) {
    const QString dir = testsupport::makeTempDir(QStringLiteral("zip"));
    if (!bigEntry.isEmpty())
        QFile::resize(testsupport::writeFile(dir + '/' + bigEntry, {}), bigSize); // sparse
    for (auto [name, bytes] : files.asKeyValueRange())
        name.endsWith('/') ? void(QDir().mkpath(dir + '/' + name))
                           : void(testsupport::writeFile(dir + '/' + name, bytes));
    QFile::remove(zipPath);
    QDir().mkpath(QFileInfo(zipPath).absolutePath());
    // -0 keeps large test assets fast to write.
    const bool ok = run("zip", {"-q", "-r", "-0", zipPath, "."}, dir).has_value();
    QDir(dir).removeRecursively();
    return ok ? zipPath : QString();
}

QString withEntries(const QString& package, const QString& out, const QStringList& entries,
                    const std::function<void(const QString&)>& prepare) {
    const QString dir = testsupport::makeTempDir();
    for (const QString& entry : entries)
        QDir().mkpath(QFileInfo(dir + '/' + entry).absolutePath());
    prepare(dir);
    QFile::remove(out);
    QFile::copy(package, out);
    QFile::setPermissions(out, QFile::ReadOwner | QFile::WriteOwner);
    if (!entries.isEmpty())
        run("zip", QStringList{"-q", "-y", out} + entries, dir);
    return out;
}

namespace {
// A stream into bytes, little-endian as ZIP records are.
struct Le : QDataStream {
    explicit Le(QByteArray* bytes) : QDataStream(bytes, QIODevice::WriteOnly) { setByteOrder(LittleEndian); }
};
} // namespace

QByteArray bplist(const QList<QByteArray>& objects, quint64 top, quint8 referenceSize) {
    QByteArray out("bplist00");
    QByteArray table;
    QDataStream offsets(&table, QIODevice::WriteOnly);
    for (const QByteArray& object : objects) {
        offsets << quint32(out.size());
        out += object;
    }
    const auto tableOffset = quint64(out.size());
    out += table;
    // Trailer: six unused bytes, offset and reference widths, object count, top object, table offset.
    QDataStream(&out, QIODevice::Append) << quint32(0) << quint16(0) << quint8(4) << referenceSize
                                         << quint64(objects.size()) << top << tableOffset;
    return out;
}

QByteArray deepBinaryPlist(int depth) {
    QList<QByteArray> objects(depth, QByteArray("\xA0", 1));
    for (int i = 0; i + 1 < depth; ++i) // object i: an array holding object i + 1
        QDataStream(&objects[i], QIODevice::WriteOnly) << quint8(0xA1) << quint32(i + 1);
    return bplist(objects, 0, 4);
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
    const auto zerosCrc = [&](quint64 n) {
        return crc32(0, reinterpret_cast<const Bytef*>(zeros.data()), uInt(n));
    };
    const uLong blockCrc = zerosCrc(block);
    uLong crc = 0;
    for (quint64 i = 0; i < realSize / block; ++i)
        crc = crc32_combine(crc, blockCrc, z_off_t(block));
    crc = crc32_combine(crc, zerosCrc(realSize % block), z_off_t(realSize % block));
    const quint64 compressed = quint64(repeated.size()) * (realSize / block) + quint64(last.size());

    const auto header = [&](quint32 signature, bool central) {
        QByteArray h;
        Le s(&h);
        s << signature;
        if (central)
            s << quint16(0x031E); // made on Unix
        // ZIP64, no flags, deflated, time, date, CRC, both sizes in the extra field.
        s << quint16(45) << quint16(0) << quint16(8) << quint16(0) << quint16(0x21) << quint32(crc)
          << quint32(0xFFFFFFFF) << quint32(0xFFFFFFFF) << quint16(entry.size())
          << quint16(central ? 28 : 20);
        if (central)
            s << quint16(0) << quint16(0) << quint16(0) << quint32(0100644u << 16) << quint32(0xFFFFFFFF);
        s.writeRawData(entry.constData(), int(entry.size()));
        s << quint16(1) << quint16(central ? 24 : 16) << claimedSize << compressed;
        if (central)
            s << quint64(0); // local header offset
        return h;
    };
    QFile file(zipPath);
    QDir().mkpath(QFileInfo(zipPath).absolutePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    file.write(header(0x04034b50, false));
    for (quint64 i = 0; i < realSize / block; ++i)
        file.write(repeated);
    file.write(last);
    const auto directoryOffset = quint64(file.pos());
    const QByteArray central = header(0x02014b50, true);
    file.write(central);
    const auto end64Offset = quint64(file.pos());
    QByteArray end;
    // ZIP64 end record, its locator, and the classic end record pointing at them.
    Le(&end) << quint32(0x06064b50) << quint64(44) << quint16(0x031E) << quint16(45) << quint64(0)
             << quint64(1) << quint64(1) << quint64(central.size()) << directoryOffset << quint32(0x07064b50)
             << quint32(0) << end64Offset << quint32(1) << quint32(0x06054b50) << quint32(0)
             << quint16(0xFFFF) << quint16(0xFFFF) << quint32(0xFFFFFFFF) << quint32(0xFFFFFFFF)
             << quint16(0);
    file.write(end);
    return file.error() == QFile::NoError ? zipPath : QString();
}

namespace {
// One key and certificate per test run, valid for 30 days from now.
QString signingDir() {
    static const QString dir = [] {
        const QString d = testsupport::makeTempDir(QStringLiteral("signer"));
        run("openssl",
            QStringLiteral("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "
                           "%1/key.pem -out %1/cert.pem -subj /CN=VantryTestSigner -days 30")
                .arg(d)
                .split(' '));
        return d;
    }();
    return dir;
}
} // namespace

QString signingCertificateEnd() {
    const auto printed = run("openssl", {"x509", "-in", signingDir() + "/cert.pem", "-noout", "-enddate"});
    return QString::fromLatin1(printed.value_or("")).trimmed().section('=', 1);
}

QByteArray profilePlist(const Profile& profile) {
    const QString team = profile.appIdentifier.section('.', 0, 0);
    QVariantMap entitlements{{"application-identifier", profile.appIdentifier},
                             {"com.apple.developer.team-identifier", team}};
    QVariantMap plist{{"AppIDName", "Example"},
                      {"Name", "Example " + profile.kind},
                      {"TeamName", "Example Corp"},
                      {"TeamIdentifier", QVariantList{team}},
                      {"CreationDate", QDateTime(QDate(2025, 2, 1), QTime(9, 30), QTimeZone::utc())},
                      {"ExpirationDate", profile.expiration},
                      {"Version", 1}};
    QVariantList devices = profile.deviceIds;
    for (int i = 0; profile.deviceIds.isEmpty() && i < profile.devices; ++i)
        devices << QStringLiteral("00008101-%1").arg(i, 16, 10, QLatin1Char('0'));
    if (profile.kind == "development" || profile.kind == "ad-hoc") {
        entitlements.insert("get-task-allow", profile.kind == "development");
        plist.insert("ProvisionedDevices", devices);
    } else if (profile.kind == "enterprise") {
        plist.insert("ProvisionsAllDevices", true);
    }
    plist.insert("Entitlements", entitlements);
    if (profile.withCertificate) {
        const auto der = run("openssl", {"x509", "-in", signingDir() + "/cert.pem", "-outform", "DER"});
        plist.insert("DeveloperCertificates", QVariantList{der.value_or(QByteArray())});
    }
    return xmlPlist(plist);
}

QByteArray signedProfile(const Profile& profile) {
    const QString in = testsupport::writeFile(
        testsupport::makeTempDir(QStringLiteral("profile")) + "/in.plist", profilePlist(profile));
    QStringList args = QStringLiteral("cms -sign -nodetach -binary -outform DER -in").split(' ');
    args += {in, "-signer", signingDir() + "/cert.pem", "-inkey", signingDir() + "/key.pem"};
    if (profile.streamed)
        args << "-stream";
    return run("openssl", args).value_or(QByteArray());
}

QString buildApk(const QString& apkPath, const AndroidApp& app) {
    const QString dir = testsupport::makeTempDir(QStringLiteral("apk"));
    const QString res = dir + "/res";
    testsupport::writeFile(
        dir + "/AndroidManifest.xml",
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
        return QStringLiteral("<resources><string name=\"app_name\">%1</string></resources>")
            .arg(label.toHtmlEscaped().replace('\'', "\\'"))
            .toUtf8();
    };
    testsupport::writeFile(res + "/values/strings.xml", strings(app.label));
    for (auto [language, label] : app.localisedLabels.asKeyValueRange())
        testsupport::writeFile(res + "/values-" + language + "/strings.xml", strings(label));
    QImage icon(48, 48, QImage::Format_ARGB32);
    icon.fill(Qt::darkGreen);
    QDir().mkpath(res + "/mipmap-mdpi");
    QDir().mkpath(res + "/mipmap-xhdpi");
    icon.scaled(24, 24).save(res + "/mipmap-mdpi/ic_launcher.png");
    icon.save(res + "/mipmap-xhdpi/ic_launcher.png");
    if (app.adaptiveIcon)
        testsupport::writeFile(res + "/mipmap-anydpi-v26/ic_launcher.xml",
                               "<adaptive-icon xmlns:android=\"http://schemas.android.com/apk/res/android\">"
                               "<background android:drawable=\"@android:color/white\"/></adaptive-icon>");
    QStringList args =
        QStringLiteral("package -f -I /usr/share/android-framework-res/framework-res.apk -M").split(' ');
    args += {dir + "/AndroidManifest.xml", "-S", res, "-F", apkPath};
    if (app.assetSize > 0) {
        QFile::resize(testsupport::writeFile(dir + "/assets/blob.bin", {}), app.assetSize); // sparse
        args += {"-A", dir + "/assets", "-0", "bin"};
    }
    QFile::remove(apkPath);
    QDir().mkpath(QFileInfo(apkPath).absolutePath());
    bool ok = run(QStringLiteral("aapt"), args).has_value();
    // aapt adds files relative to the working folder under the names given.
    for (const QString& abi : app.nativeAbis) {
        const QString lib = "lib/" + abi + "/libnative.so";
        testsupport::writeFile(dir + '/' + lib, "\177ELF");
        ok = ok && run(QStringLiteral("aapt"), {"add", QFileInfo(apkPath).absoluteFilePath(), lib}, dir);
    }
    QDir(dir).removeRecursively();
    return ok ? apkPath : QString();
}

} // namespace packages
