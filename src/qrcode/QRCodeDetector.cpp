#include "qrcode/QRCode.h"

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

QStringList QRCode::DetectQRCodes(const QImage& image) {
    QStringList texts;
    for (const auto& d : DetectQRCodeDetails(image))
        texts.append(d.text);
    return texts;
}
