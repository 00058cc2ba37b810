#pragma once

#include "cli/Command.h"

// vantry-cli qr: makes a styled QR code and writes it as PNG, PDF or SVG, or prints it.
class QrCommand : public Command {
public:
    QString name() const override { return QStringLiteral("qr"); }
    QString summary() const override {
        return QStringLiteral("Make a styled QR code (PNG, PDF, SVG or text).");
    }
    int run(const QStringList& args, QTextStream& out, QTextStream& err) override;
};
