#pragma once

#include "cli/Command.h"

// vantry-cli publish: runs the hosting job on one package and prints its install link.
// Exit status: 0 published, 1 the job failed or timed out, 2 bad usage, 130 interrupted.
class PublishCommand : public Command {
public:
    QString name() const override { return QStringLiteral("publish"); }
    QString summary() const override {
        return QStringLiteral("Publish an .ipa or .apk and print its install link.");
    }
    int run(const QStringList& args, QTextStream& out, QTextStream& err) override;

    static constexpr int interruptedStatus = 130;
};
