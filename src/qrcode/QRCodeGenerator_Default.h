#pragma once

#include "qrcode/QRCodeEngine.h"

// The default engine, over libqrencode: 8-bit mode, smallest version that fits.
class QRCodeGenerator_Default : public QRCodeEngine {
public:
    std::optional<QRCodeBoolMatrix> generate(const QByteArray& data, ErrorCorrection level) const override;
};
