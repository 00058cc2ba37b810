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

    // Diagnostic lines (the entries read, the badging dump) would mix with the record and break --json:
    // they go to stderr, and only when asked for.
    const bool showDiagnostics = parser.isSet(verbose);
    setLogSink([&err, showDiagnostics](const QString& line) {
        if (showDiagnostics)
            err << line << Qt::endl;
    });
    const Result result = inspect(path);
    setLogSink({});
    const std::optional<PackageRecord>& record = result.record;

    if (!record) {
        err << "vantry-cli inspect: " << result.failure << Qt::endl;
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
        object.insert(QStringLiteral("preflight"), result.preflight.toJson());
        out << QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) << Qt::endl;
    } else {
        for (const auto& [key, value] : fields)
            out << QLatin1String(key) << ": " << value << '\n';
        printPreflight(result.preflight, out);
        out.flush();
    }
    return 0;
}

InspectCommand::Result InspectCommand::inspect(const QString& path) {
    QEventLoop loop;
    Result result;
    Inspector* inspector = nullptr;
    if (QFileInfo(path).suffix().toLower() == QLatin1String("apk"))
        inspector = new ParseAPK;
    else
        inspector = new ParseIPA;
    inspector->onComplete = [&, inspector](const PackageRecord& r) {
        result.record = r;
        result.preflight = inspector->preflight();
        loop.quit();
    };
    inspector->onFailure = [&](const QString& message) {
        result.failure = message;
        loop.quit();
    };
    inspector->inspect(QUrl::fromLocalFile(path));
    loop.exec();
    return result;
}

void InspectCommand::printPreflight(const Preflight& preflight, QTextStream& out) {
    out << "\nPreflight: "
        << (preflight.blocking()           ? "blocking, this build cannot be installed from a link"
            : preflight.findings.isEmpty() ? "nothing to report"
                                           : "can be installed from a link")
        << '\n';
    for (const PreflightFinding& f : preflight.findings)
        out << "  " << qSetFieldWidth(10) << Qt::left << PreflightFinding::verdictName(f.verdict)
            << qSetFieldWidth(0) << f.message << " [" << f.code << "]\n";
    if (const auto& p = preflight.profile) {
        const auto line = [&out](const char* label, const QString& value) {
            if (!value.isEmpty())
                out << "  " << qSetFieldWidth(10) << Qt::left << label << qSetFieldWidth(0) << value << '\n';
        };
        line("profile", ProvisioningProfile::kindKey(p->kind) +
                            (p->name.isEmpty() ? QString() : QStringLiteral(" \"%1\"").arg(p->name)));
        line("team",
             p->teamName +
                 (p->teamIdentifier.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(p->teamIdentifier)));
        line("app id", p->appIdentifier);
        line("created", Preflight::dateText(p->creationDate.toUTC().date()));
        line("expires", Preflight::dateText(p->expirationDate.toUTC().date()));
        if (!preflight.recordProvisionedDevices().isEmpty())
            line("devices", preflight.recordProvisionedDevices());
    }
}
