#pragma once

#include "qrcode/QRCode.h"
#include "qrcode/QRCodeDesign.h"

#include <QByteArray>
#include <QPainterPath>
#include <QRectF>

#include <memory>

// A value for declarative interfaces: the outline of a code inside a frame.
struct QRCodeUI {
    QByteArray data;
    QRCodeShape contentShape;
    QRCodeComponents components = QRCodeComponents::all();
    ErrorCorrection errorCorrection = DefaultErrorCorrection;
    std::shared_ptr<const QRCodeEngine> qrCodeGenerator;

    QPainterPath path(const QRectF& frame) const {
        const QRCode code(data, errorCorrection, qrCodeGenerator);
        return code.path(frame.size(), components, contentShape);
    }
};
