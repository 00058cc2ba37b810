// Stored QR code documents and designs, then drawn: the settings decide shapes and fills.
#include "qrcode/QRCodeDesign.h"
#include "qrcode/QRCodeDocument.h"

#include <QImage>
#include <QPainter>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    if (const auto design = QRCodeDesign::CreateWithJsonData(bytes))
        QRCodeDesign::CreateWithJsonData(design->jsonData());
    const auto document = QRCodeDocument::CreateWithJsonData(bytes);
    if (const auto* doc = std::get_if<QRCodeDocument>(&document)) {
        QImage image(48, 48, QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&image);
        doc->draw(painter, QRectF(0, 0, 48, 48));
    }
    return 0;
}
