#pragma once

#include "cli/Command.h"

// vantry-cli ua: classifies user-agent texts (browser, CPU, device, engine, operating system) as JSON.
class UaCommand : public Command {
public:
    QString name() const override { return QStringLiteral("ua"); }
    QString summary() const override { return QStringLiteral("Classify user-agent strings as JSON."); }
    int run(const QStringList& args, QTextStream& out, QTextStream& err) override;

    // The five results of one agent as one compact JSON object; absent results and fields are null.
    static QByteArray classify(const QString& agent);
};
