#include "server/pages/QrSvg.h"

#include "qrcode/QRCodeDocument.h"

#include <QPainterPath>
#include <QRegularExpression>

namespace {

QString number(double v) {
    return QString::number(v, 'f', 2).remove(QRegularExpression(QStringLiteral("\\.?0+$")));
}

QString svgPathData(const QPainterPath& path) {
    QString d;
    d.reserve(path.elementCount() * 16);
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        switch (e.type) {
        case QPainterPath::MoveToElement:
            d += QLatin1Char('M') + number(e.x) + QLatin1Char(' ') + number(e.y);
            break;
        case QPainterPath::LineToElement:
            d += QLatin1Char('L') + number(e.x) + QLatin1Char(' ') + number(e.y);
            break;
        case QPainterPath::CurveToElement: {
            const QPainterPath::Element c2 = path.elementAt(i + 1);
            const QPainterPath::Element end = path.elementAt(i + 2);
            d += QLatin1Char('C') + number(e.x) + QLatin1Char(' ') + number(e.y) + QLatin1Char(' ') +
                 number(c2.x) + QLatin1Char(' ') + number(c2.y) + QLatin1Char(' ') + number(end.x) +
                 QLatin1Char(' ') + number(end.y);
            i += 2;
            break;
        }
        case QPainterPath::CurveToDataElement:
            break;
        }
    }
    return d;
}

} // namespace

QString installPageQrSvg(const QString& url) {
    constexpr double size = 256;
    constexpr double margin = 16;
    const QRCodeDocument document = QRCodeDocument::forLink(url);
    const QPainterPath path = document.path(QSizeF(size, size), QRCodeComponents::all());
    if (path.isEmpty())
        return {};
    return QStringLiteral(
               "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"%1 %1 %2 %2\" role=\"img\" "
               "aria-label=\"QR code of this page\"><rect x=\"%1\" y=\"%1\" width=\"%2\" height=\"%2\" "
               "rx=\"12\" fill=\"#fff\"/><path fill=\"#000\" fill-rule=\"nonzero\" d=\"%3\"/></svg>")
        .arg(number(-margin), number(size + 2 * margin), svgPathData(path));
}
