#include "cli/ManifestCommand.h"

#include "manifest/PlistManager.h"

#include <QDir>
#include <QFileInfo>

int ManifestCommand::run(const QStringList& args, QTextStream& out, QTextStream& err) {
    QCommandLineParser parser;
    const QCommandLineOption url(QStringLiteral("url"), QStringLiteral("Direct download link of the .ipa."),
                                 QStringLiteral("URL"));
    const QCommandLineOption title(QStringLiteral("title"), QStringLiteral("The app's display name."),
                                   QStringLiteral("TITLE"));
    const QCommandLineOption version(QStringLiteral("bundle-version"), QStringLiteral("The app's version."),
                                     QStringLiteral("VERSION"));
    const QCommandLineOption identifier(QStringLiteral("bundle-identifier"),
                                        QStringLiteral("The app's bundle identifier."), QStringLiteral("ID"));
    const QCommandLineOption output(
        QStringLiteral("output"),
        QStringLiteral("Where to write the manifest (default: %1).").arg(PlistManager::defaultManifestPath()),
        QStringLiteral("FILE"));
    parser.addOptions({url, title, version, identifier, output});
    int status = 0;
    if (!parse(parser, args, out, err, &status))
        return status;
    if (!parser.positionalArguments().isEmpty()) {
        err << "vantry-cli manifest: unexpected argument '" << parser.positionalArguments().constFirst()
            << "'" << Qt::endl;
        return 2;
    }
    for (const QCommandLineOption* required : {&url, &title, &version, &identifier}) {
        if (!parser.isSet(*required)) {
            err << "vantry-cli manifest: missing --" << required->names().constFirst() << Qt::endl;
            return 2;
        }
    }

    const QString path = parser.isSet(output) ? parser.value(output) : PlistManager::defaultManifestPath();
    const std::optional<QString> written = PlistManager::writeManifestTo(
        path, parser.value(url), parser.value(title), parser.value(version), parser.value(identifier));
    if (!written) {
        const QString folder = QFileInfo(path).absolutePath();
        const QString why = QDir(folder).exists() ? QStringLiteral("the folder is not writable")
                                                  : QStringLiteral("the folder does not exist");
        err << "vantry-cli manifest: Couldn't write to file " << path << " (" << why << ")" << Qt::endl;
        return 1;
    }
    out << *written << Qt::endl;
    return 0;
}
