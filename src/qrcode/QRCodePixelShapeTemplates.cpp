#include "qrcode/QRCode.h"
#include "qrcode/QRCodePathHelpers.h"
#include "qrcode/QRCodePixelShape.h"

#include <array>

namespace {

struct Neighbours {
    bool up = false, down = false, left = false, right = false;
    int count() const { return int(up) + int(down) + int(left) + int(right); }
};

// A neighbour counts when it exists and is dark, whichever path is being built.
Neighbours neighboursOf(const QRCodeBoolMatrix& m, int r, int c) {
    const int d = m.dimension();
    Neighbours n;
    n.up = r > 0 && m(r - 1, c);
    n.down = r + 1 < d && m(r + 1, c);
    n.left = c > 0 && m(r, c - 1);
    n.right = c + 1 < d && m(r, c + 1);
    return n;
}

QPainterPath polygon(std::initializer_list<QPointF> points) {
    QPainterPath path;
    path.addPolygon(QPolygonF(QList<QPointF>(points)));
    path.closeSubpath();
    return path;
}

enum PointyTemplate { Full, PointDown, PointUp, PointRight, PointLeft };

PointyTemplate pointyTemplateFor(const Neighbours& n) {
    if (n.count() != 1)
        return Full;
    return n.up ? PointDown : n.down ? PointUp : n.left ? PointRight : PointLeft;
}

const std::array<QPainterPath, 5>& pointyTemplates() {
    static const std::array<QPainterPath, 5> templates = {
        polygon({{0, 0}, {10, 0}, {10, 10}, {0, 10}}),
        polygon({{0, 0}, {10, 0}, {10, 5}, {5, 10}, {0, 5}}),
        polygon({{0, 10}, {10, 10}, {10, 5}, {5, 0}, {0, 5}}),
        polygon({{0, 0}, {0, 10}, {5, 10}, {10, 5}, {5, 0}}),
        polygon({{10, 0}, {5, 0}, {0, 5}, {5, 10}, {10, 10}}),
    };
    return templates;
}

// Index bits: 1 top-left, 2 top-right, 4 bottom-left, 8 bottom-right rounded.
QPainterPath roundedCorners(int corners) {
    QPainterPath path;
    const QRectF box(0, 0, 10, 10);
    if (corners == 15) {
        path.addRoundedRect(box, 3, 3);
        return path;
    }
    const auto radius = [&](int bit) { return (corners & bit) ? QSizeF(3, 3) : QSizeF(0, 0); };
    qrpath::addPerCornerRoundedRect(path, box, {radius(1), radius(2), radius(4), radius(8)});
    return path;
}

const std::array<QPainterPath, 16>& roundedTemplates() {
    static const std::array<QPainterPath, 16> templates = [] {
        std::array<QPainterPath, 16> t;
        for (int i = 0; i < 16; ++i)
            t[std::size_t(i)] = roundedCorners(i);
        return t;
    }();
    return templates;
}

int roundedCornersFor(const Neighbours& n) {
    enum { TL = 1, TR = 2, BL = 4, BR = 8 };
    const int key = (n.left ? 1 : 0) | (n.right ? 2 : 0) | (n.up ? 4 : 0) | (n.down ? 8 : 0);
    switch (key) {
    case 0:
        return TL | TR | BL | BR;
    case 1:
        return TR | BR; // left only
    case 2:
        return TL | BL; // right only
    case 4:
        return BL | BR; // upper only
    case 8:
        return TL | TR; // lower only
    case 1 | 8:
        return TR; // left and lower
    case 1 | 4:
        return BR; // left and upper
    case 2 | 8:
        return TL; // right and lower
    case 2 | 4:
        return BL; // right and upper
    default:
        return 0;
    }
}

QPainterPath roundedPath(const QSizeF& size, const QRCode& code, bool on, bool isTemplate) {
    const QRCodeBoolMatrix& m = code.boolMatrix();
    const qrpath::Grid g(size, m.dimension());
    const auto& templates = roundedTemplates();
    QPainterPath path;
    for (int r = 0; r < g.d; ++r) {
        for (int c = 0; c < g.d; ++c) {
            if (m(r, c) != on || (!isTemplate && g.inEye(r, c)))
                continue;
            const QRectF cell = g.cell(r, c);
            qrpath::appendTransformed(path, templates[std::size_t(roundedCornersFor(neighboursOf(m, r, c)))],
                                      g.p / 10, cell.x(), cell.y());
        }
    }
    return path;
}

} // namespace

QString& QRCodePixelShapeRoundedPath::nameStorage() {
    static QString name = QStringLiteral("roundedPath");
    return name;
}

QString& QRCodePixelShapePointy::nameStorage() {
    static QString name = QStringLiteral("pointy");
    return name;
}

QPainterPath QRCodePixelShapeRoundedPath::onPath(const QSizeF& s, const QRCode& c, bool t) const {
    return roundedPath(s, c, true, t);
}

QPainterPath QRCodePixelShapeRoundedPath::offPath(const QSizeF& s, const QRCode& c, bool t) const {
    return roundedPath(s, c, false, t);
}

int QRCodePixelShapeRoundedPath::figureKey(const QRCodeBoolMatrix& m, int r, int c, bool) const {
    return roundedCornersFor(neighboursOf(m, r, c));
}

QPainterPath QRCodePixelShapeRoundedPath::figure(const QRectF& cell, int key) const {
    QPainterPath path;
    qrpath::appendTransformed(path, roundedTemplates()[std::size_t(key)], cell.width() / 10,
                              cell.height() / 10, cell.x(), cell.y());
    return path;
}

int QRCodePixelShapePointy::figureKey(const QRCodeBoolMatrix& m, int r, int c, bool on) const {
    if (!on)
        return -1;
    return int(pointyTemplateFor(neighboursOf(m, r, c)));
}

QPainterPath QRCodePixelShapePointy::figure(const QRectF& cell, int key) const {
    QPainterPath path;
    qrpath::appendTransformed(path, pointyTemplates()[std::size_t(key)], cell.width() / 10,
                              cell.height() / 10, cell.x(), cell.y());
    return path;
}

QPainterPath QRCodePixelShapePointy::onPath(const QSizeF& size, const QRCode& code, bool isTemplate) const {
    const QRCodeBoolMatrix& m = code.boolMatrix();
    const qrpath::Grid g(size, m.dimension());
    const auto& templates = pointyTemplates();
    QPainterPath path;
    for (int r = 0; r < g.d; ++r) {
        for (int c = 0; c < g.d; ++c) {
            if (!m(r, c) || (!isTemplate && g.inEye(r, c)))
                continue;
            const PointyTemplate t = pointyTemplateFor(neighboursOf(m, r, c));
            const QRectF cell = g.cell(r, c);
            qrpath::appendTransformed(path, templates[std::size_t(t)], g.p / 10, cell.x(), cell.y());
        }
    }
    return path;
}
