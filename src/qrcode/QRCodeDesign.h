#pragma once

#include "qrcode/QRCodeEyeShape.h"
#include "qrcode/QRCodeFillStyle.h"
#include "qrcode/QRCodePixelShape.h"

#include <QByteArray>
#include <QColor>
#include <QVariantMap>

#include <optional>

// Which shapes outline the modules and the eyes. "data"/"dataInverted" are the older names of
// onPixels/offPixels in stored settings.
class QRCodeShape {
public:
    QRCodeShape();
    QRCodePixelShapePtr onPixels;  // never null
    QRCodePixelShapePtr offPixels; // may be null
    QRCodeEyeShapePtr eye;         // never null

    QRCodeShape copy() const;
    QVariantMap settings() const;
    static QRCodeShape CreateWithSettings(const QVariantMap& settings);
};

// Which fill paints each component; absent fills fall back as the renderer describes.
class QRCodeStyle {
public:
    QRCodeStyle();
    QRCodeFillStylePtr onPixels;   // never null; black by default
    QRCodeFillStylePtr offPixels;  // may be null
    QRCodeFillStylePtr eye;        // may be null: onPixels
    QRCodeFillStylePtr pupil;      // may be null: eye, else onPixels
    QRCodeFillStylePtr background; // may be null: transparent; white by default

    QRCodeStyle copy() const;
    QVariantMap settings() const;
    static QRCodeStyle CreateWithSettings(const QVariantMap& settings);
};

class QRCodeDesign {
public:
    QRCodeDesign() = default;
    QRCodeDesign(const QColor& foreground, const QColor& background);
    static QRCodeDesign create() { return {}; }

    QRCodeShape shape;
    QRCodeStyle style;

    QRCodeDesign& foregroundColor(const QColor& color);
    QRCodeDesign& backgroundColor(const std::optional<QColor>& color);

    QRCodeDesign copy() const;
    QVariantMap settings() const;
    QByteArray jsonData() const;
    // Never fails: every part that does not read keeps its default.
    static QRCodeDesign CreateWithSettings(const QVariantMap& settings);
    static std::optional<QRCodeDesign> CreateWithJsonData(const QByteArray& json);
};
