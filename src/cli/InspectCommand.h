#pragma once

#include "cli/Command.h"

// vantry-cli inspect: prints what package inspection reads out of an .ipa or .apk.
class InspectCommand : public Command {
public:
    QString name() const override { return QStringLiteral("inspect"); }
    QString summary() const override {
        return QStringLiteral("Show the metadata of an .ipa or .apk package.");
    }
    int run(const QStringList& args, QTextStream& out, QTextStream& err) override;
};
