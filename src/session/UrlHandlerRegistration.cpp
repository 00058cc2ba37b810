#include "session/UrlHandlerRegistration.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

QString desktopEntryText(const QString& executable) {
    QString exec = executable;
    if (exec.contains(QLatin1Char(' ')))
        exec = QLatin1Char('"') + exec + QLatin1Char('"');
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Vantry\n"
                          "Comment=Share install links of iOS and Android app builds\n"
                          "Exec=%1 %u\n"
                          "Icon=vantry\n"
                          "Terminal=false\n"
                          "Categories=Development;\n"
                          "MimeType=x-scheme-handler/vantry;application/vnd.android.package-archive;"
                          "application/x-ios-app;\n")
        .arg(exec);
}

QString registerUrlHandler(const QString& executable) {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return QStringLiteral("no applications folder to write the desktop entry into");
    QSaveFile file(folder + QStringLiteral("/vantry.desktop"));
    if (!file.open(QIODevice::WriteOnly) || file.write(desktopEntryText(executable).toUtf8()) < 0 ||
        !file.commit())
        return QStringLiteral("cannot write %1").arg(file.fileName());
    QProcess mime;
    mime.start(QStringLiteral("xdg-mime"), {QStringLiteral("default"), QStringLiteral("vantry.desktop"),
                                            QStringLiteral("x-scheme-handler/vantry")});
    if (!mime.waitForFinished(10000) || mime.exitStatus() != QProcess::NormalExit || mime.exitCode() != 0)
        return QStringLiteral("wrote %1, but xdg-mime could not make it the vantry:// handler (is xdg-utils "
                              "installed?)")
            .arg(file.fileName());
    return QString();
}
