#include "qrcode/QRCode.h"
#include "qrcode/QRCodePathHelpers.h"
#include "qrcode/QRCodePixelShape.h"
#include "qrcode/QRCodeSettings.h"

#include <algorithm>

using qrsettings::numberOrZero;

const QPainterPath& QRCodePixelShapeSquircle::templatePath() {
    static const QPainterPath path =
        qrpath::parseOutline("M 5 0 C 9.2 0.8 7.19 0 8.41 0 C 10 5 10 1.59 10 2.81 C 9.2 9.2 10 7.19 10 8.41 "
                             "C 5 10 8.41 10 7.19 10 C 0.8 9.2 2.81 10 1.59 10 C 0 5 0 8.41 0 7.19 "
                             "C 0.8 0.8 0 2.81 0 1.59 C 5 0 1.59 0 2.81 0 Z");
    return path;
}

QPainterPath CommonPixelGenerator::path(const QSizeF& size, const QRCode& code, bool on,
                                        bool isTemplate) const {
    const QRCodeBoolMatrix& m = code.boolMatrix();
    const qrpath::Grid g(size, m.dimension());
    QPainterPath path;
    const int d = g.d;
    for (int r = 0; r < d; ++r) {
        for (int c = 0; c < d; ++c) {
            if (m(r, c) != on)
                continue;
            if (!isTemplate && g.inEye(r, c))
                continue;
            // The quiet-zone ring never gets light modules of its own.
            if (!on && !isTemplate && (r == 0 || c == 0 || r == d - 1 || c == d - 1))
                continue;
            addFigure(path, g.cell(r, c));
        }
    }
    return path;
}

void CommonPixelGenerator::addFigure(QPainterPath& path, const QRectF& cell) const {
    const QRectF rect = cell.adjusted(inset, inset, -inset, -inset);
    switch (pixelType) {
    case PixelType::square:
        path.addRect(rect);
        break;
    case PixelType::circle:
        path.addEllipse(rect);
        break;
    case PixelType::roundedRect: {
        const double radius = rect.height() / 2 * cornerRadiusFraction;
        path.addRoundedRect(rect, radius, radius);
        break;
    }
    case PixelType::squircle:
        // Placed at half the inset, as the stored designs were drawn.
        qrpath::appendTransformed(path, QRCodePixelShapeSquircle::templatePath(), rect.width() / 10,
                                  cell.x() + inset / 2, cell.y() + inset / 2);
        break;
    }
}

QPainterPath CommonPixelGenerator::onPath(const QSizeF& size, const QRCode& code, bool isTemplate) const {
    return path(size, code, true, isTemplate);
}

QPainterPath CommonPixelGenerator::offPath(const QSizeF& size, const QRCode& code, bool isTemplate) const {
    return path(size, code, false, isTemplate);
}

namespace {
QVariantMap insetSettings(double inset) {
    return {{QStringLiteral("inset"), inset}};
}
double clamp01(double v) {
    return std::clamp(v, 0.0, 1.0);
}
} // namespace

QRCodePixelShapePtr QRCodePixelShapeSquare::Create(const QVariantMap& s) {
    return std::make_shared<QRCodePixelShapeSquare>(numberOrZero(s, QStringLiteral("inset")));
}
QVariantMap QRCodePixelShapeSquare::settings() const {
    return insetSettings(inset());
}

QRCodePixelShapePtr QRCodePixelShapeCircle::Create(const QVariantMap& s) {
    return std::make_shared<QRCodePixelShapeCircle>(numberOrZero(s, QStringLiteral("inset")));
}
QVariantMap QRCodePixelShapeCircle::settings() const {
    return insetSettings(inset());
}

QRCodePixelShapePtr QRCodePixelShapeSquircle::Create(const QVariantMap& s) {
    return std::make_shared<QRCodePixelShapeSquircle>(numberOrZero(s, QStringLiteral("inset")));
}
QVariantMap QRCodePixelShapeSquircle::settings() const {
    return insetSettings(inset());
}

QRCodePixelShapePtr QRCodePixelShapeRoundedRect::Create(const QVariantMap& s) {
    return std::make_shared<QRCodePixelShapeRoundedRect>(
        numberOrZero(s, QStringLiteral("inset")), numberOrZero(s, QStringLiteral("cornerRadiusFraction")));
}
QVariantMap QRCodePixelShapeRoundedRect::settings() const {
    return {{QStringLiteral("inset"), inset()},
            {QStringLiteral("cornerRadiusFraction"), cornerRadiusFraction()}};
}

// Bars ----------------------------------------------------------------------------------------

QRCodePixelShapeBars::QRCodePixelShapeBars(bool vertical, double inset, double cornerRadiusFraction)
    : m_vertical(vertical), m_inset(inset), m_cornerRadiusFraction(clamp01(cornerRadiusFraction)) {}

QVariantMap QRCodePixelShapeBars::settings() const {
    return {{QStringLiteral("inset"), m_inset},
            {QStringLiteral("cornerRadiusFraction"), m_cornerRadiusFraction}};
}

QPainterPath QRCodePixelShapeBars::runs(const QSizeF& size, const QRCode& code, bool on,
                                        bool isTemplate) const {
    const QRCodeBoolMatrix& m = code.boolMatrix();
    const qrpath::Grid g(size, m.dimension());
    const int d = g.d;
    QPainterPath path;
    // The off path stays inside the quiet-zone ring and always leaves the eyes alone.
    const int first = on ? 0 : 1;
    const int last = on ? d - 1 : d - 2;
    const auto addRun = [&](int line, int start, int length) {
        QRectF rect = m_vertical ? QRectF(g.x0 + g.p * line, g.y0 + g.p * start, g.p, g.p * length)
                                 : QRectF(g.x0 + g.p * start, g.y0 + g.p * line, g.p * length, g.p);
        rect.adjust(m_inset, m_inset, -m_inset, -m_inset);
        const double radius = (m_vertical ? rect.width() : rect.height()) / 2 * m_cornerRadiusFraction;
        path.addRoundedRect(rect, radius, radius);
    };
    for (int line = first; line <= last; ++line) {
        int start = -1;
        for (int i = first; i <= last; ++i) {
            const int r = m_vertical ? i : line;
            const int c = m_vertical ? line : i;
            const bool joins =
                on ? (m(r, c) && (isTemplate || !g.inEye(r, c))) : (!m(r, c) && !g.inEye(r, c));
            if (joins) {
                if (start < 0)
                    start = i;
            } else if (start >= 0) {
                addRun(line, start, i - start);
                start = -1;
            }
        }
        if (start >= 0)
            addRun(line, start, last + 1 - start);
    }
    return path;
}

QPainterPath QRCodePixelShapeBars::onPath(const QSizeF& s, const QRCode& c, bool t) const {
    return runs(s, c, true, t);
}
QPainterPath QRCodePixelShapeBars::offPath(const QSizeF& s, const QRCode& c, bool t) const {
    return runs(s, c, false, t);
}

QRCodePixelShapePtr QRCodePixelShapeVertical::Create(const QVariantMap& s) {
    return std::make_shared<QRCodePixelShapeVertical>(
        numberOrZero(s, QStringLiteral("inset")), numberOrZero(s, QStringLiteral("cornerRadiusFraction")));
}

QRCodePixelShapePtr QRCodePixelShapeHorizontal::Create(const QVariantMap& s) {
    return std::make_shared<QRCodePixelShapeHorizontal>(
        numberOrZero(s, QStringLiteral("inset")), numberOrZero(s, QStringLiteral("cornerRadiusFraction")));
}
