#include "qrcode/QRCode.h"

#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

QList<QRCodeDetection> QRCode::DetectQRCodeDetails(const QImage& image) {
    QList<QRCodeDetection> found;
    if (image.isNull())
        return found;
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
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

QStringList QRCode::DetectQRCodes(const QImage& image) {
    QStringList texts;
    for (const auto& d : DetectQRCodeDetails(image))
        texts.append(d.text);
    return texts;
}
