#pragma once

#include "cli/Command.h"
#include "inspect/Preflight.h"
#include "records/PackageRecord.h"

#include <optional>

// vantry-cli inspect: prints what package inspection reads out of an .ipa or .apk.
class InspectCommand : public Command {
public:
    QString name() const override { return QStringLiteral("inspect"); }
    QString summary() const override {
        return QStringLiteral("Show the metadata of an .ipa or .apk package.");
    }
    int run(const QStringList& args, QTextStream& out, QTextStream& err) override;

    struct Result {
        std::optional<PackageRecord> record; // nothing when inspection failed
        Preflight preflight;
        QString failure;
    };
    // Inspects the package at path (an .apk by its extension, else an .ipa) on a local event loop.
    static Result inspect(const QString& path);
    // The "Preflight" section of the text output.
    static void printPreflight(const Preflight& preflight, QTextStream& out);
};
