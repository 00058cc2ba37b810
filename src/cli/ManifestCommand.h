#pragma once

#include "cli/Command.h"

// vantry-cli manifest: writes the over-the-air install manifest of an iOS app.
class ManifestCommand : public Command {
public:
    QString name() const override { return QStringLiteral("manifest"); }
    QString summary() const override { return QStringLiteral("Write an iOS over-the-air install manifest."); }
    int run(const QStringList& args, QTextStream& out, QTextStream& err) override;
};
