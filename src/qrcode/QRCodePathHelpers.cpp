#include "qrcode/QRCodePathHelpers.h"

#include <QByteArray>
#include <QList>

#include <algorithm>

namespace qrpath {

Grid::Grid(const QSizeF& size, int dimension) : d(dimension) {
    if (d <= 0)
        return;
    p = std::min(size.width() / d, size.height() / d);
    x0 = (size.width() - p * d) / 2;
    y0 = (size.height() - p * d) / 2;
}

void addPerCornerRoundedRect(QPainterPath& path, const QRectF& r, const CornerRadii& radii) {
    const auto sharp = [](const QSizeF& s) { return s.width() == 0 && s.height() == 0; };
    const double minX = r.left(), minY = r.top(), maxX = r.right(), maxY = r.bottom();
    const QSizeF& tl = radii.topLeft;
    const QSizeF& tr = radii.topRight;
    const QSizeF& br = radii.bottomRight;
    const QSizeF& bl = radii.bottomLeft;

    path.moveTo(sharp(tl) ? QPointF(minX, minY) : QPointF(minX + tl.width(), minY));
    if (sharp(tr)) {
        path.lineTo(maxX, minY);
    } else {
        path.lineTo(maxX - tr.width(), minY);
        const QPointF end(maxX, minY + tr.height());
        path.cubicTo(QPointF(maxX, minY), end, end);
    }
    if (sharp(br)) {
        path.lineTo(maxX, maxY);
    } else {
        path.lineTo(maxX, maxY - br.height());
        const QPointF end(maxX - br.width(), maxY);
        path.cubicTo(QPointF(maxX, maxY), end, end);
    }
    if (sharp(bl)) {
        path.lineTo(minX, maxY);
    } else {
        path.lineTo(minX + bl.width(), maxY);
        const QPointF end(minX, maxY - bl.height());
        path.cubicTo(QPointF(minX, maxY), end, end);
    }
    if (sharp(tl)) {
        path.lineTo(minX, minY);
    } else {
        path.lineTo(minX, minY + tl.height());
        const QPointF end(minX + tl.width(), minY);
        path.cubicTo(QPointF(minX, minY), end, end);
    }
    path.closeSubpath();
}

void appendTransformed(QPainterPath& path, const QPainterPath& tmpl, double s, double dx, double dy) {
    appendTransformed(path, tmpl, s, s, dx, dy);
}

void appendTransformed(QPainterPath& path, const QPainterPath& tmpl, double sx, double sy, double dx,
                       double dy) {
    const int n = tmpl.elementCount();
    for (int i = 0; i < n; ++i) {
        const QPainterPath::Element e = tmpl.elementAt(i);
        const QPointF pt(e.x * sx + dx, e.y * sy + dy);
        switch (e.type) {
        case QPainterPath::MoveToElement:
            if (i > 0)
                path.closeSubpath();
            path.moveTo(pt);
            break;
        case QPainterPath::LineToElement:
            path.lineTo(pt);
            break;
        case QPainterPath::CurveToElement: {
            const QPainterPath::Element c2 = tmpl.elementAt(i + 1);
            const QPainterPath::Element end = tmpl.elementAt(i + 2);
            path.cubicTo(pt, QPointF(c2.x * sx + dx, c2.y * sy + dy),
                         QPointF(end.x * sx + dx, end.y * sy + dy));
            i += 2;
            break;
        }
        case QPainterPath::CurveToDataElement:
            break;
        }
    }
    path.closeSubpath();
}

QPainterPath parseOutline(const char* text) {
    const QList<QByteArray> tokens = QByteArray(text).simplified().split(' ');
    QPainterPath path;
    qsizetype i = 0;
    const auto num = [&]() { return tokens.at(i++).toDouble(); };
    const auto point = [&]() {
        const double x = num();
        const double y = num();
        return QPointF(x, y);
    };
    while (i < tokens.size()) {
        const QByteArray op = tokens.at(i++);
        if (op == "M") {
            path.moveTo(point());
        } else if (op == "L") {
            path.lineTo(point());
        } else if (op == "C") {
            const QPointF end = point();
            const QPointF c1 = point();
            const QPointF c2 = point();
            path.cubicTo(c1, c2, end);
        } else if (op == "Z") {
            path.closeSubpath();
        }
    }
    return path;
}

} // namespace qrpath
