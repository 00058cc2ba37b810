#pragma once

#include "cli/Command.h"

// vantry-cli devices APPID [--json | --csv]: the devices testers checked against a development
// or ad hoc build from its install page, and which of them the build does not include.
class DevicesCommand : public Command {
public:
    QString name() const override { return QStringLiteral("devices"); }
    QString summary() const override {
        return QStringLiteral("List the devices testers checked against a build.");
    }
    int run(const QStringList& args, QTextStream& out, QTextStream& err) override;
};
