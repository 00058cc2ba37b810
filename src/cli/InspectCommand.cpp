#include "cli/InspectCommand.h"

#include "core/Log.h"
#include "inspect/ParseAPK.h"
#include "inspect/ParseIPA.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <optional>

int InspectCommand::run(const QStringList& args, QTextStream& out, QTextStream& err) {
    QCommandLineParser parser;
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("Print the record as one JSON object."));
    const QCommandLineOption verbose(
        QStringLiteral("verbose"),
        QStringLiteral("Show the inspection's diagnostic lines on standard error."));
    parser.addOptions({json, verbose});
    parser.addPositionalArgument(QStringLiteral("PACKAGE"), QStringLiteral("The .ipa or .apk file."));
    int status = 0;
    if (!parse(parser, args, out, err, &status))
        return status;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1) {
        err << "vantry-cli inspect: " << (positional.isEmpty() ? "missing PACKAGE" : "more than one PACKAGE")
            << Qt::endl;
        return 2;
    }
    const QString path = QFileInfo(positional.constFirst()).absoluteFilePath();

    // Diagnostic lines (unzip, the badging dump) would mix with the record and break --json:
    // they go to stderr, and only when asked for.
    const bool showDiagnostics = parser.isSet(verbose);
    setLogSink([&err, showDiagnostics](const QString& line) {
        if (showDiagnostics)
            err << line << Qt::endl;
    });
    QEventLoop loop;
    std::optional<PackageRecord> record;
    QString failure;
    Inspector* inspector = nullptr;
    if (QFileInfo(path).suffix().toLower() == QLatin1String("apk"))
        inspector = new ParseAPK;
    else
        inspector = new ParseIPA;
    inspector->onComplete = [&](const PackageRecord& r) {
        record = r;
        loop.quit();
    };
    inspector->onFailure = [&](const QString& message) {
        failure = message;
        loop.quit();
    };
    inspector->inspect(QUrl::fromLocalFile(path));
    loop.exec();
    setLogSink({});

    if (!record) {
        err << "vantry-cli inspect: " << failure << Qt::endl;
        return 1;
    }
    const std::pair<const char*, QString> fields[] = {
        {"bundleID", record->bundleID}, {"version", record->version}, {"name", record->name},
        {"icon", record->icon},         {"size", record->size},       {"minOS", record->minOS},
    };
    if (parser.isSet(json)) {
        QJsonObject object;
        for (const auto& [key, value] : fields)
            object.insert(QLatin1String(key), value);
        out << QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) << Qt::endl;
    } else {
        for (const auto& [key, value] : fields)
            out << QLatin1String(key) << ": " << value << '\n';
        out.flush();
    }
    return 0;
}
