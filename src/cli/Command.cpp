#include "cli/Command.h"

#include "cli/ConfigCommand.h"
#include "cli/DevicesCommand.h"
#include "cli/InspectCommand.h"
#include "cli/ManifestCommand.h"
#include "cli/PublishCommand.h"
#include "cli/QrCommand.h"
#include "cli/SignInCommands.h"
#include "cli/UaCommand.h"

bool Command::parse(QCommandLineParser& parser, const QStringList& args, QTextStream& out, QTextStream& err,
                    int* status) const {
    parser.setApplicationDescription(summary());
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    parser.addOption(help);
    QStringList full = args;
    full.prepend(QStringLiteral("vantry-cli ") + name());
    if (!parser.parse(full)) {
        err << "vantry-cli " << name() << ": " << parser.errorText() << Qt::endl;
        *status = 2;
        return false;
    }
    if (parser.isSet(help)) {
        // The parser names the program by its path; the usage line should name the command.
        QString text = parser.helpText();
        const qsizetype lineEnd = text.indexOf(QLatin1Char('\n'));
        const qsizetype options = text.indexOf(QLatin1String(" [options]"));
        if (text.startsWith(QLatin1String("Usage: ")) && options > 0 && options < lineEnd)
            text.replace(7, options - 7, QStringLiteral("vantry-cli ") + name());
        out << text;
        out.flush();
        *status = 0;
        return false;
    }
    return true;
}

std::vector<std::unique_ptr<Command>> makeCommands() {
    std::vector<std::unique_ptr<Command>> commands;
    commands.push_back(std::make_unique<PublishCommand>());
    commands.push_back(std::make_unique<DevicesCommand>());
    commands.push_back(std::make_unique<ManifestCommand>());
    commands.push_back(std::make_unique<InspectCommand>());
    commands.push_back(std::make_unique<UaCommand>());
    commands.push_back(std::make_unique<QrCommand>());
    commands.push_back(std::make_unique<ConfigCommand>());
    commands.push_back(std::make_unique<LoginCommand>());
    commands.push_back(std::make_unique<LogoutCommand>());
    commands.push_back(std::make_unique<WhoamiCommand>());
    return commands;
}

namespace {
void printUsage(QTextStream& out, const std::vector<std::unique_ptr<Command>>& commands) {
    out << "Usage: vantry-cli COMMAND [OPTIONS]\n\n"
        << "Publishes mobile app packages and works with their install links.\n\nCommands:\n";
    for (const auto& c : commands)
        out << "  " << c->name().leftJustified(12) << c->summary() << '\n';
    out << "\nRun 'vantry-cli COMMAND --help' for the options of one command.\n"
        << "Options:\n  --help     Show this help.\n  --version  Show the version.\n";
    out.flush();
}
} // namespace

int runCli(const QStringList& argv, QTextStream& out, QTextStream& err) {
    const auto commands = makeCommands();
    if (argv.size() < 2) {
        printUsage(err, commands);
        return 2;
    }
    const QString first = argv.at(1);
    if (first == QLatin1String("--help") || first == QLatin1String("-h") || first == QLatin1String("help")) {
        printUsage(out, commands);
        return 0;
    }
    if (first == QLatin1String("--version")) {
        out << "vantry-cli " << VANTRY_VERSION << Qt::endl;
        return 0;
    }
    for (const auto& c : commands) {
        if (c->name() == first) {
            const int status = c->run(argv.mid(2), out, err);
            out.flush();
            err.flush();
            return status;
        }
    }
    err << "vantry-cli: unknown command '" << first << "' (see 'vantry-cli --help')" << Qt::endl;
    return 2;
}
