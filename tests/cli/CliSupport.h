#pragma once

#include "cli/Command.h"

#include <QString>
#include <QStringList>
#include <QTextStream>

// One run of vantry-cli's entry point in this process: its status and what it printed.
struct CliRun {
    int status = -1;
    QString out, err;
};

inline CliRun cli(const QStringList& args) {
    CliRun run;
    QTextStream out(&run.out), err(&run.err);
    run.status = runCli(QStringList{QStringLiteral("vantry-cli")} + args, out, err);
    return run;
}
