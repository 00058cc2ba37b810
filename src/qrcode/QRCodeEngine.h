#pragma once

#include "qrcode/ErrorCorrection.h"
#include "qrcode/QRCodeBoolMatrix.h"

#include <QByteArray>

#include <optional>

// Turns message bytes into a module grid: one cell per module, a one-module light border on
// every side, row 0 at the top. The eye regions of the drawing code rely on that layout.
class QRCodeEngine {
public:
    virtual ~QRCodeEngine() = default;
    // Nothing when the bytes cannot be encoded at that level.
    virtual std::optional<QRCodeBoolMatrix> generate(const QByteArray& data, ErrorCorrection level) const = 0;
};

// For builds or callers without an encoder: every update leaves the matrix as it was.
class QRCodeGenerator_None : public QRCodeEngine {
public:
    std::optional<QRCodeBoolMatrix> generate(const QByteArray&, ErrorCorrection) const override {
        return std::nullopt;
    }
};
