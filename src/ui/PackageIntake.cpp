#include "ui/PackageIntake.h"

#include <QFileInfo>

namespace PackageIntake {

Verdict judgePath(const QString& path) {
    Verdict v;
    v.path = path;
    const QFileInfo info(path);
    const QString name = info.fileName().isEmpty() ? path : info.fileName();
    if (info.isDir()) {
        v.reason = QStringLiteral("%1 is a folder; drop an .ipa or .apk file").arg(name);
        return v;
    }
    const auto kind = packageKindOf(name);
    if (!kind) {
        v.reason = QStringLiteral("%1 is not an .ipa or .apk file").arg(name);
        return v;
    }
    if (!info.isFile() || !info.isReadable()) {
        v.reason = QStringLiteral("%1 can't be read").arg(name);
        return v;
    }
    v.kind = kind;
    return v;
}

Verdict judge(const QList<QUrl>& urls) {
    QList<QUrl> files;
    for (const QUrl& url : urls) {
        if (url.isLocalFile())
            files.append(url);
    }
    if (files.isEmpty()) {
        Verdict v;
        v.reason = QStringLiteral("Only files from this computer can be dropped here");
        return v;
    }
    if (urls.size() > 1) {
        Verdict v;
        v.reason = QStringLiteral("Drop one package at a time (%1 items were dropped)").arg(urls.size());
        return v;
    }
    return judgePath(QFileInfo(files.constFirst().toLocalFile()).absoluteFilePath());
}

} // namespace PackageIntake
