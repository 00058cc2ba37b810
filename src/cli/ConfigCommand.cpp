#include "cli/ConfigCommand.h"

#include "core/Config.h"

int ConfigCommand::run(const QStringList& args, QTextStream& out, QTextStream& err) {
    QCommandLineParser parser;
    int status = 0;
    if (!parse(parser, args, out, err, &status))
        return status;
    if (!parser.positionalArguments().isEmpty()) {
        err << "vantry-cli config: unexpected argument '" << parser.positionalArguments().constFirst() << "'"
            << Qt::endl;
        return 2;
    }
    const Config& config = Config::instance();
    out << "# file: " << Config::filePath() << '\n';
    for (const Config::Key& key : Config::keys()) {
        const QString name = QString::fromLatin1(key.name);
        const Config::Source source = config.source(key.id);
        const QString from = source == Config::Source::Environment ? Config::environmentName(key.id)
                             : source == Config::Source::File      ? QStringLiteral("file")
                                                                   : QStringLiteral("default");
        // Secrets are never printed, only whether one is set.
        QString value = config.value(key.id);
        if (key.secret)
            value = value.isEmpty() ? QStringLiteral("(not set)") : QStringLiteral("(set)");
        out << name << " = " << value << "  [" << from << "]\n";
    }
    out.flush();
    return 0;
}
