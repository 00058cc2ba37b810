#pragma once

#include <QByteArray>
#include <QImage>
#include <QSizeF>

#include <optional>

class QRCode;
class QRCodeDesign;

// Fast raster rendering for designs whose pixel shapes draw one figure per module.
namespace qrraster {

// Draws the design into image (size in logical units, scale device pixels per unit) with the data
// modules stamped from one pre-rendered figure per cell size and their edges snapped to whole
// pixels: no hairline seams between touching modules, and no huge antialiased path fill.
// Returns false, leaving image untouched, when the design needs the general path renderer.
bool drawSnapped(QImage& image, const QSizeF& size, double scale, const QRCode& code,
                 const QRCodeDesign& design);

// PNG with the fast zlib level; opaque images are written without alpha and grey ones as 8-bit
// grey, which keeps every pixel but shrinks the data to compress. Qt's own PNG writer needs
// 8–25 ms for a 700 × 700 code at any setting.
std::optional<QByteArray> encodePng(const QImage& image);

} // namespace qrraster
