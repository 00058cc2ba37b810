#include "qrcode/QRCode.h"
#include "qrcode/QRCodeDesign.h"
#include "qrcode/QRCodeNumbers.h"
#include "qrcode/QRCodePathHelpers.h"
#include "qrcode/QRCodeRaster.h"

#include <QBuffer>
#include <QClipboard>
#include <QImageWriter>
#include <QMimeData>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <cmath>
#include <limits>

namespace {

bool representable(double v) {
    return std::isfinite(v) && v >= 0 && v < double(std::numeric_limits<qint64>::max());
}

const QRCodeFillStylePtr& firstOf(const QRCodeFillStylePtr& a, const QRCodeFillStylePtr& b) {
    return a ? a : b;
}

} // namespace

QPainterPath QRCode::path(const QSizeF& size, Components components, const QRCodeShape& shape) const {
    QPainterPath path;
    const int d = pixelSize();
    if (d == 0) {
        path.addRect(0, 0, 0, 0);
        return path;
    }
    const qrpath::Grid g(size, d);
    const double s = g.p / 10;
    const double side = g.p * d;
    // Top-left as designed, bottom-left mirrored vertically, top-right mirrored horizontally.
    const QTransform placements[] = {QTransform(s, 0, 0, s, g.x0, g.y0),
                                     QTransform(s, 0, 0, -s, g.x0, g.y0 + side),
                                     QTransform(-s, 0, 0, s, g.x0 + side, g.y0)};
    if (components.contains(Components::eyeOuter())) {
        const QPainterPath eye = shape.eye->eyePath();
        for (const auto& t : placements)
            path.addPath(t.map(eye));
    }
    if (components.contains(Components::eyePupil())) {
        const QPainterPath pupil = shape.eye->pupilPath();
        for (const auto& t : placements)
            path.addPath(t.map(pupil));
    }
    if (components.contains(Components::offPixels())) {
        if (shape.offPixels)
            path.addPath(shape.offPixels->offPath(size, *this, false));
        else
            path.addPath(QRCodePixelShapeSquare(0).offPath(size, *this, false));
    }
    if (components.contains(Components::onPixels()))
        path.addPath(shape.onPixels->onPath(size, *this, false));
    path.setFillRule(Qt::WindingFill);
    return path;
}

void QRCode::draw(QPainter& painter, const QRectF& rect, const QRCodeDesign& design) const {
    const QRCodeStyle& style = design.style;
    const QSizeF size = rect.size();
    const QRectF box(QPointF(0, 0), size);
    const auto step = [&](const auto& body) {
        painter.save();
        painter.translate(rect.topLeft());
        painter.setRenderHint(QPainter::Antialiasing);
        body();
        painter.restore();
    };
    step([&] { firstOf(style.background, QRCodeFillStyle::clear())->fill(painter, box); });
    step([&] {
        firstOf(style.eye, style.onPixels)
            ->fill(painter, box, path(size, Components::eyeOuter(), design.shape));
    });
    step([&] {
        firstOf(style.pupil, firstOf(style.eye, style.onPixels))
            ->fill(painter, box, path(size, Components::eyePupil(), design.shape));
    });
    step([&] { style.onPixels->fill(painter, box, path(size, Components::onPixels(), design.shape)); });
    if (style.offPixels && design.shape.offPixels)
        step([&] { style.offPixels->fill(painter, box, path(size, Components::offPixels(), design.shape)); });
}

std::optional<QImage> QRCode::bitmap(const QSizeF& size, const QRCodeDesign& design) const {
    return image(size, 1.0, design);
}

std::optional<QImage> QRCode::image(const QSizeF& size, double scale, const QRCodeDesign& design) const {
    if (!representable(size.width()) || !representable(size.height()) || !std::isfinite(scale) ||
        scale <= 0 || !representable(size.width() * scale) || !representable(size.height() * scale))
        return std::nullopt;
    const double pw = std::trunc(size.width() * scale);
    const double ph = std::trunc(size.height() * scale);
    if (pw < 1 || ph < 1 || pw > 32767 || ph > 32767)
        return std::nullopt;
    QImage image(int(pw), int(ph), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return std::nullopt;
    image.setDevicePixelRatio(scale);
    if (!qrraster::drawSnapped(image, size, scale, *this, design)) {
        image.fill(Qt::transparent);
        QPainter painter(&image);
        draw(painter, QRectF(QPointF(0, 0), size), design);
    }
    return image;
}

std::optional<QByteArray> QRCode::pngData(double dimension, const QRCodeDesign& design) const {
    const auto img = image(QSizeF(dimension, dimension), 1.0, design);
    if (!img)
        return std::nullopt;
    return qrraster::encodePng(*img);
}

std::optional<QByteArray> QRCode::pdfData(const QSizeF& size, double resolution,
                                          const QRCodeDesign& design) const {
    if (!representable(size.width()) || !representable(size.height()) || !std::isfinite(resolution) ||
        resolution <= 0)
        return std::nullopt;
    const QSizeF page(size.width() * 72 / resolution, size.height() * 72 / resolution);
    if (page.width() <= 0 || page.height() <= 0)
        return std::nullopt;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly))
        return std::nullopt;
    {
        QPdfWriter writer(&buffer);
        writer.setCreator(QStringLiteral("Vantry"));
        writer.setResolution(72); // one device unit per point
        writer.setPageSize(QPageSize(page, QPageSize::Point));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        QPainter painter;
        if (!painter.begin(&writer))
            return std::nullopt;
        draw(painter, QRectF(QPointF(0, 0), page), design);
        painter.end();
    }
    buffer.close();
    if (bytes.isEmpty())
        return std::nullopt;
    return bytes;
}

QString QRCode::svg(int outputDimension, int border, const QColor& foreground,
                    const std::optional<QColor>& background) const {
    const QRCodeBoolMatrix& m = *m_current;
    const int d = m.dimension();
    const int t = d + 2 * border;
    const double s = outputDimension != 0 ? double(outputDimension) / t : 1.0;
    const int viewBox = outputDimension != 0 ? outputDimension : t;

    const auto hexOf = [](const QColor& c) -> std::optional<QString> {
        const auto comps = RGBAComponents::fromColor(c);
        return comps ? comps->hexString() : std::nullopt;
    };
    const QString fore = hexOf(foreground).value_or(QStringLiteral("#000000"));
    const std::optional<QString> back = background ? hexOf(*background) : std::nullopt;

    const QString side = qrnumbers::shortest(s);
    QString pathData;
    // Columns outside, rows inside, and x from the row: the picture is the bitmap mirrored across
    // its main diagonal, which keeps the finder patterns in their corners.
    for (int c = 0; c < d; ++c) {
        for (int r = 0; r < d; ++r) {
            if (!m(r, c))
                continue;
            if (!(r == 0 && c == 0))
                pathData += u' ';
            pathData += u'M' + qrnumbers::shortest(s * (border + r)) + u',' +
                        qrnumbers::shortest(s * (border + c)) + u'h' + side + u'v' + side +
                        QStringLiteral("h-") + side + u'z';
        }
    }

    QString out;
    out += QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    out += QStringLiteral("<!DOCTYPE svg PUBLIC \"-//W3C//DTD SVG 1.1//EN\" "
                          "\"http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd\">\n");
    out += QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" viewBox=\"0 0 %1 %1\" "
                          "stroke=\"none\">\n")
               .arg(viewBox);
    if (back)
        out +=
            QStringLiteral("<rect width=\"100%\" height=\"100%\" fill=\"") + *back + QStringLiteral("\"/>");
    out += u'\n';
    out += QStringLiteral("<path d=\"") + pathData + QStringLiteral("\" fill=\"") + fore +
           QStringLiteral("\"/>\n");
    out += QStringLiteral("</svg>");
    return out;
}

void QRCode::addToClipboard(QClipboard* clipboard, const QSizeF& size, double scale,
                            const QRCodeDesign& design) const {
    if (!clipboard)
        return;
    clipboard->clear();
    auto* mime = new QMimeData;
    if (const auto pdf = pdfData(size, scale * DefaultPDFResolution, design))
        mime->setData(QStringLiteral("application/pdf"), *pdf);
    if (const auto img = image(size, scale, design)) {
        if (QImageWriter::supportedImageFormats().contains("tiff")) {
            QByteArray tiff;
            QBuffer buffer(&tiff);
            buffer.open(QIODevice::WriteOnly);
            if (img->save(&buffer, "TIFF"))
                mime->setData(QStringLiteral("image/tiff"), tiff);
        }
        if (const auto png = qrraster::encodePng(*img))
            mime->setData(QStringLiteral("image/png"), *png);
    }
    clipboard->setMimeData(mime);
}
