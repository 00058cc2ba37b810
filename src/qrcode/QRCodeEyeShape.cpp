#include "qrcode/QRCodeEyeShape.h"

#include "qrcode/QRCodePathHelpers.h"
#include "qrcode/QRCodeSettings.h"

#include <algorithm>

using qrpath::parseOutline;

namespace {

const char* const kRoundedRing =
    "M 65 20 L 25 20 C 20 25 22.24 20 20 22.24 L 20 65 C 25 70 20 67.76 22.24 70 L 65 70 "
    "C 70 65 67.76 70 70 67.76 L 70 25 C 65 20 70 22.24 67.76 20 Z "
    "M 80 20 L 80 70 C 70 80 80 75.52 75.52 80 L 20 80 C 10 70 14.48 80 10 75.52 L 10 20 "
    "C 20 10 10 14.48 14.48 10 L 70 10 C 80 20 75.52 10 80 14.48 Z";

QPainterPath rect(double x, double y, double w, double h) {
    QPainterPath p;
    p.addRect(x, y, w, h);
    return p;
}

QPainterPath rounded(double x, double y, double w, double h, double radius) {
    QPainterPath p;
    p.addRoundedRect(x, y, w, h, radius, radius);
    return p;
}

QPainterPath perCorner(double tl, double tr, double bl, double br) {
    QPainterPath p;
    qrpath::addPerCornerRoundedRect(p, QRectF(30, 30, 30, 30),
                                    {QSizeF(tl, tl), QSizeF(tr, tr), QSizeF(bl, bl), QSizeF(br, br)});
    return p;
}

QPainterPath bars(bool vertical) {
    QPainterPath p;
    for (double offset : {30.0, 40.33, 50.66}) {
        if (vertical)
            p.addRoundedRect(offset, 30, 9.33, 30, 4, 4);
        else
            p.addRoundedRect(30, offset, 30, 9.33, 4, 4);
    }
    return p;
}

} // namespace

QPainterPath QRCodeEyeStyleSquare::eyePath() const {
    return parseOutline(
        "M 70 70 L 20 70 L 20 20 L 70 20 L 70 70 Z M 80 80 L 80 10 L 10 10 L 10 80 L 80 80 Z");
}
QPainterPath QRCodeEyeStyleSquare::pupilPath() const {
    return rect(30, 30, 30, 30);
}

QPainterPath QRCodeEyeStyleRoundedRect::eyePath() const {
    return parseOutline(kRoundedRing);
}
QPainterPath QRCodeEyeStyleRoundedRect::pupilPath() const {
    return rounded(30, 30, 30, 30, 4);
}

QPainterPath QRCodeEyeStyleBarsHorizontal::eyePath() const {
    return parseOutline(kRoundedRing);
}
QPainterPath QRCodeEyeStyleBarsHorizontal::pupilPath() const {
    return bars(false);
}

QPainterPath QRCodeEyeStyleBarsVertical::eyePath() const {
    return parseOutline(kRoundedRing);
}
QPainterPath QRCodeEyeStyleBarsVertical::pupilPath() const {
    return bars(true);
}

QPainterPath QRCodeEyeShapeCircle::eyePath() const {
    return parseOutline(
        "M 45 20 C 20 45 31.19 20 20 31.19 C 21.28 52.92 20 47.77 20.45 50.43 C 45 70 24.59 62.85 33.96 70 "
        "C 70 45 58.81 70 70 58.81 C 45 20 70 31.19 58.81 20 Z "
        "M 80 45 C 45 80 80 64.33 64.33 80 C 11.64 55.61 29.37 80 16.13 69.76 C 10 45 10.57 52.27 10 48.7 "
        "C 45 10 10 25.67 25.67 10 C 80 45 64.33 10 80 25.67 Z");
}
QPainterPath QRCodeEyeShapeCircle::pupilPath() const {
    QPainterPath p;
    p.addEllipse(30, 30, 30, 30);
    return p;
}

QPainterPath QRCodeEyeShapeLeaf::eyePath() const {
    return parseOutline("M 20 20 L 60 20 C 70 30 65.52 20 70 24.48 L 70 70 L 30 70 C 20 60 24.48 70 20 65.52 "
                        "L 20 20 Z "
                        "M 10 10 L 10 60 C 30 80 10 71.05 18.95 80 L 80 80 L 80 30 C 60 10 80 18.95 71.05 10 "
                        "L 10 10 Z");
}
QPainterPath QRCodeEyeShapeLeaf::pupilPath() const {
    return perCorner(0, 6, 6, 0);
}

QPainterPath QRCodeEyeStyleRoundedOuter::eyePath() const {
    return parseOutline("M 20 70 L 70 70 L 70 20 L 31 20 C 20 31 24.92 20 20 24.92 L 20 70 Z "
                        "M 10 80 L 10 30 C 30 10 10 18.95 18.95 10 L 80 10 L 80 80 L 10 80 Z");
}
QPainterPath QRCodeEyeStyleRoundedOuter::pupilPath() const {
    return perCorner(6, 0, 0, 0);
}

QPainterPath QRCodeEyeStyleRoundedPointingIn::eyePath() const {
    return parseOutline("M 57 20 L 33 20 C 20 33 25.82 20 20 25.82 L 20 57 C 33 70 20 64.18 25.82 70 L 70 70 "
                        "L 70 33 C 57 20 70 25.82 64.18 20 Z "
                        "M 80 33 L 80 80 L 33 80 C 10 57 20.3 80 10 69.7 L 10 33 C 33 10 10 20.3 20.3 10 "
                        "L 57 10 C 80 33 69.7 10 80 20.3 Z");
}
QPainterPath QRCodeEyeStyleRoundedPointingIn::pupilPath() const {
    return perCorner(6, 6, 6, 0);
}

QPainterPath QRCodeEyeShapeSquircle::eyePath() const {
    return parseOutline(
        "M 45 70 C 23.98 66.02 34.05 70 27.96 70 C 20.58 58.68 22.1 64.14 21.11 61.79 C 20 45 20 55.21 20 "
        "50.78 "
        "C 23.98 23.98 20 34.05 20 27.96 C 45 20 27.96 20 34.05 20 C 66.02 23.98 55.95 20 62.04 20 "
        "C 70 45 70 27.96 70 34.05 C 66.02 66.02 70 55.95 70 62.04 C 45 70 62.04 70 55.95 70 Z "
        "M 74.43 74.43 C 80 45 80 68.86 80 60.34 C 74.43 15.57 80 29.66 80 21.14 C 45 10 68.86 10 60.34 10 "
        "C 15.57 15.57 29.66 10 21.14 10 C 10 45 10 21.14 10 29.66 C 12.05 68.91 10 56 10 63.49 "
        "C 15.57 74.43 12.86 71.04 13.99 72.86 C 45 80 21.14 80 29.66 80 C 74.43 74.43 60.34 80 68.86 80 Z");
}
QPainterPath QRCodeEyeShapeSquircle::pupilPath() const {
    return parseOutline(
        "M 45 30 C 57.61 32.39 51.57 30 55.23 30 C 60 45 60 34.77 60 38.43 C 57.61 57.61 60 51.57 60 55.23 "
        "C 45 60 55.23 60 51.57 60 C 32.39 57.61 38.43 60 34.77 60 C 30 45 30 55.23 30 51.57 "
        "C 32.39 32.39 30 38.43 30 34.77 C 45 30 34.77 30 38.43 30 Z");
}

namespace {
template <typename T> QRCodeEyeShapeFactory::Type eyeType() {
    return {[] { return T::Name(); }, [](const QVariantMap& s) { return T::Create(s); }};
}
} // namespace

QRCodeEyeShapeFactory::QRCodeEyeShapeFactory()
    : m_types{eyeType<QRCodeEyeShapeCircle>(),
              eyeType<QRCodeEyeStyleRoundedRect>(),
              eyeType<QRCodeEyeStyleRoundedPointingIn>(),
              eyeType<QRCodeEyeShapeSquircle>(),
              eyeType<QRCodeEyeStyleRoundedOuter>(),
              eyeType<QRCodeEyeStyleSquare>(),
              eyeType<QRCodeEyeShapeLeaf>(),
              eyeType<QRCodeEyeStyleBarsVertical>(),
              eyeType<QRCodeEyeStyleBarsHorizontal>()} {}

const QRCodeEyeShapeFactory& QRCodeEyeShapeFactory::shared() {
    static const QRCodeEyeShapeFactory factory;
    return factory;
}

QStringList QRCodeEyeShapeFactory::availableGeneratorNames() const {
    QStringList names;
    for (const auto& t : m_types)
        names.append(t.name());
    std::sort(names.begin(), names.end());
    return names;
}

QRCodeEyeShapePtr QRCodeEyeShapeFactory::named(const QString& name,
                                               const std::optional<QVariantMap>& settings) const {
    for (const auto& t : m_types) {
        if (t.name() == name)
            return t.create(settings.value_or(QVariantMap()));
    }
    return nullptr;
}

QRCodeEyeShapePtr QRCodeEyeShapeFactory::createWithSettings(const QVariantMap& settings) const {
    const auto type = qrsettings::string(settings, QStringLiteral("type"));
    if (!type)
        return nullptr;
    return named(*type, qrsettings::dictionary(settings, QStringLiteral("settings")));
}
