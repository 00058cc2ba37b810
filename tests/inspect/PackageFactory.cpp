#include "inspect/PackageFactory.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>

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

QString buildApk(const QString& apkPath, const AndroidApp& app) {
    const QString dir = testsupport::makeTempDir(QStringLiteral("apk"));
    const QString res = dir + QStringLiteral("/res");
    testsupport::writeFile(
        dir + QStringLiteral("/AndroidManifest.xml"),
        QStringLiteral(
            "<manifest xmlns:android=\"http://schemas.android.com/apk/res/android\" package=\"%1\" "
            "android:versionCode=\"%2\" android:versionName=\"%3\"><uses-sdk android:minSdkVersion=\"21\"/>"
            "<application android:label=\"@string/app_name\" android:icon=\"@mipmap/ic_launcher\"/>"
            "</manifest>")
            .arg(app.package, app.versionCode, app.versionName)
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
    const bool ok = run(QStringLiteral("aapt"), args);
    QDir(dir).removeRecursively();
    return ok ? apkPath : QString();
}

} // namespace packages
