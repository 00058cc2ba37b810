#pragma once

#include "cli/Command.h"

// vantry-cli config: every configuration key with its value and where the value comes from.
class ConfigCommand : public Command {
public:
    QString name() const override { return QStringLiteral("config"); }
    QString summary() const override {
        return QStringLiteral("Show the configuration and where each value comes from.");
    }
    int run(const QStringList& args, QTextStream& out, QTextStream& err) override;
};
