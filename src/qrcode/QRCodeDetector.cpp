#include "qrcode/QRCode.h"

#include "qrcode/QRCodeDesign.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

namespace {

QList<QRCodeDetection> decode(const QImage& grey) {
    QList<QRCodeDetection> found;
    const ZXing::ImageView view(grey.constBits(), grey.width(), grey.height(), ZXing::ImageFormat::Lum,
                                int(grey.bytesPerLine()));
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::QRCode);
    hints.setTryHarder(true);
    hints.setTryRotate(true);
    for (const ZXing::Result& result : ZXing::ReadBarcodes(view, hints)) {
        if (!result.isValid())
            continue;
        const ZXing::ByteArray& raw = result.bytes();
        found.append({QString::fromStdString(result.text()),
                      QByteArray(reinterpret_cast<const char*>(raw.data()), qsizetype(raw.size())),
                      QString::fromStdString(result.ecLevel())});
    }
    return found;
}

// Separable min (dark grows) or max filter over a square window of side 2 × radius + 1.
QImage rankFilter(const QImage& src, int radius, bool darkGrows) {
    const int w = src.width(), h = src.height();
    QImage horizontal(w, h, QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y) {
        const uchar* in = src.constScanLine(y);
        uchar* out = horizontal.scanLine(y);
        for (int x = 0; x < w; ++x) {
            uchar v = in[x];
            for (int k = std::max(0, x - radius); k <= std::min(w - 1, x + radius); ++k)
                v = darkGrows ? std::min(v, in[k]) : std::max(v, in[k]);
            out[x] = v;
        }
    }
    QImage result(w, h, QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y) {
        uchar* out = result.scanLine(y);
        for (int x = 0; x < w; ++x) {
            uchar v = horizontal.constScanLine(y)[x];
            for (int k = std::max(0, y - radius); k <= std::min(h - 1, y + radius); ++k) {
                const uchar o = horizontal.constScanLine(k)[x];
                v = darkGrows ? std::min(v, o) : std::max(v, o);
            }
            out[x] = v;
        }
    }
    return result;
}

} // namespace

QList<QRCodeDetection> QRCode::DetectQRCodeDetails(const QImage& image) {
    if (image.isNull())
        return {};
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    if (auto found = decode(grey); !found.isEmpty())
        return found;
    // zxing-cpp reads neither mirror-image codes (phone cameras do; the SVG export draws one) nor
    // finder patterns split by hairline gaps (a camera's blur closes them, as downscaling does).
    const QImage mirrored = grey.transformed(QTransform(0, 1, 1, 0, 0, 0));
    if (auto found = decode(mirrored); !found.isEmpty())
        return found;
    // Closing (dark grows, then shrinks back) fills gaps narrower than the window.
    const int radius = std::max(1, int(std::lround(std::min(grey.width(), grey.height()) / 250.0)));
    for (const QImage* source : {&grey, &mirrored}) {
        const QImage closed = rankFilter(rankFilter(*source, radius, true), radius, false);
        if (auto found = decode(closed); !found.isEmpty())
            return found;
    }
    return {};
}

QString QRCodeScanCheck::problem() const {
    QStringList sizes;
    for (int side : unreadableSizes)
        sizes.append(QStringLiteral("%1 px").arg(side));
    return sizes.isEmpty() ? QString()
                           : QStringLiteral("a standard decoder does not read it at ") +
                                 sizes.join(QStringLiteral(" nor at "));
}

QRCodeScanCheck QRCode::scanCheck(const QRCodeDesign& design, const QByteArray& data) const {
    QRCodeScanCheck check;
    const int d = pixelSize();
    // Small: a few pixels a module, as a code printed small or seen from afar reaches the sensor;
    // large: the size the hosting jobs hand out, or more for big codes, whose fractional module
    // edges at 700 px would fail plain squares too.
    for (const int side : {std::max(d * 3, 1), std::max(700, d * 8)}) {
        // The picture the exports make, on white: a transparent background sits on a light page.
        QImage picture(side, side, QImage::Format_ARGB32_Premultiplied);
        picture.fill(Qt::white);
        if (const std::optional<QImage> drawn = d > 0 ? bitmap(side, design) : std::nullopt) {
            QPainter painter(&picture);
            painter.drawImage(0, 0, *drawn);
        }
        const QList<QRCodeDetection> found = decode(picture.convertToFormat(QImage::Format_Grayscale8));
        const bool read = std::any_of(found.begin(), found.end(),
                                      [&](const QRCodeDetection& f) { return f.bytes == data; });
        if (!read)
            check.unreadableSizes.append(side);
    }
    return check;
}

QStringList QRCode::DetectQRCodes(const QImage& image) {
    QStringList texts;
    for (const auto& d : DetectQRCodeDetails(image))
        texts.append(d.text);
    return texts;
}
