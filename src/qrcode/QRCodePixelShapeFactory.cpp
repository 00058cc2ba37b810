#include "qrcode/QRCode.h"
#include "qrcode/QRCodePixelShape.h"
#include "qrcode/QRCodeSettings.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
template <typename T> QRCodePixelShapeFactory::Type typeOf() {
    return {[] { return T::Name(); }, [](const QVariantMap& s) { return T::Create(s); }};
}
} // namespace

QRCodePixelShapeFactory::QRCodePixelShapeFactory()
    : m_types{typeOf<QRCodePixelShapeSquare>(),      typeOf<QRCodePixelShapeCircle>(),
              typeOf<QRCodePixelShapeRoundedRect>(), typeOf<QRCodePixelShapeSquircle>(),
              typeOf<QRCodePixelShapeVertical>(),    typeOf<QRCodePixelShapeHorizontal>(),
              typeOf<QRCodePixelShapeRoundedPath>(), typeOf<QRCodePixelShapePointy>()} {}

const QRCodePixelShapeFactory& QRCodePixelShapeFactory::shared() {
    static const QRCodePixelShapeFactory factory;
    return factory;
}

QStringList QRCodePixelShapeFactory::availableGeneratorNames() const {
    QStringList names;
    for (const auto& t : m_types)
        names.append(t.name());
    std::sort(names.begin(), names.end());
    return names;
}

QRCodePixelShapePtr QRCodePixelShapeFactory::named(const QString& name,
                                                   const std::optional<QVariantMap>& settings) const {
    for (const auto& t : m_types) {
        if (t.name() == name)
            return t.create(settings.value_or(QVariantMap()));
    }
    return nullptr;
}

QRCodePixelShapePtr QRCodePixelShapeFactory::createWithSettings(const QVariantMap& settings) const {
    const auto type = qrsettings::string(settings, QStringLiteral("type"));
    if (!type)
        return nullptr;
    return named(*type, qrsettings::dictionary(settings, QStringLiteral("settings")));
}

std::optional<QImage> QRCodePixelShapeFactory::image(const QRCodePixelShapeGenerator& shape, bool isOn,
                                                     double dimension, const QColor& foreground,
                                                     const std::optional<QColor>& background) const {
    if (!std::isfinite(dimension) || dimension < 1 || dimension > 32768)
        return std::nullopt;
    const int n = int(dimension);
    QImage image(n, n, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return std::nullopt;
    image.fill(background ? *background : QColor(Qt::transparent));

    static const QList<int> sample = {0, 0, 0, 0, 0, 0, 0, //
                                      0, 0, 0, 1, 1, 0, 0, //
                                      0, 0, 0, 0, 1, 0, 0, //
                                      0, 1, 0, 1, 1, 1, 0, //
                                      0, 1, 1, 1, 1, 0, 0, //
                                      0, 0, 0, 1, 0, 1, 0, //
                                      0, 0, 0, 0, 0, 0, 0};
    class SampleEngine : public QRCodeEngine {
    public:
        std::optional<QRCodeBoolMatrix> generate(const QByteArray&, ErrorCorrection) const override {
            return QRCodeBoolMatrix::fromRawFlattenedInt(7, sample);
        }
    };
    const QRCode code(std::make_shared<SampleEngine>());

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(n / 90.0, n / 90.0);
    QPainterPath path =
        isOn ? shape.onPath(QSizeF(90, 90), code, true) : shape.offPath(QSizeF(90, 90), code, true);
    path.setFillRule(Qt::WindingFill);
    painter.fillPath(path, foreground);
    return image;
}
