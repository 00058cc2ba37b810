#pragma once

#include <QCommandLineParser>
#include <QStringList>
#include <QTextStream>

#include <memory>
#include <vector>

// One subcommand of vantry-cli. Output streams are passed in so tests run commands end to end.
class Command {
public:
    virtual ~Command() = default;
    virtual QString name() const = 0;
    virtual QString summary() const = 0;
    // args are the command's own arguments (without program and command name).
    // Returns the exit status: 0 success, 1 the work failed, 2 bad usage.
    virtual int run(const QStringList& args, QTextStream& out, QTextStream& err) = 0;

protected:
    // Parses args with the command's options; on a bad option prints one line and returns false
    // with *status set to 2; on --help prints the help and returns false with *status 0.
    bool parse(QCommandLineParser& parser, const QStringList& args, QTextStream& out, QTextStream& err,
               int* status) const;
};

std::vector<std::unique_ptr<Command>> makeCommands();

// The whole command line: argv[0] is the program name.
int runCli(const QStringList& argv, QTextStream& out, QTextStream& err);
