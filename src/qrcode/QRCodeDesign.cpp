#include "qrcode/QRCodeDesign.h"

#include "qrcode/QRCodeSettings.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

template <typename Ptr> QVariantMap generatorEntry(const Ptr& generator) {
    return {{QStringLiteral("type"), generator->name()}, {QStringLiteral("settings"), generator->settings()}};
}

QRCodePixelShapePtr pixelShapeFrom(const QVariantMap& settings, const QString& key,
                                   const QString& fallbackKey) {
    for (const QString& k : {key, fallbackKey}) {
        if (const auto entry = qrsettings::dictionary(settings, k)) {
            if (auto shape = QRCodePixelShapeFactory::shared().createWithSettings(*entry))
                return shape;
        }
    }
    return nullptr;
}

} // namespace

QRCodeShape::QRCodeShape()
    : onPixels(std::make_shared<QRCodePixelShapeSquare>(0)), eye(std::make_shared<QRCodeEyeStyleSquare>()) {}

QRCodeShape QRCodeShape::copy() const {
    QRCodeShape c;
    c.onPixels = onPixels->copyShape();
    c.offPixels = offPixels ? offPixels->copyShape() : nullptr;
    c.eye = eye->copyShape();
    return c;
}

QVariantMap QRCodeShape::settings() const {
    QVariantMap map{{QStringLiteral("onPixels"), generatorEntry(onPixels)},
                    {QStringLiteral("eye"), generatorEntry(eye)}};
    if (offPixels)
        map.insert(QStringLiteral("offPixels"), generatorEntry(offPixels));
    return map;
}

QRCodeShape QRCodeShape::CreateWithSettings(const QVariantMap& settings) {
    QRCodeShape shape;
    if (auto on = pixelShapeFrom(settings, QStringLiteral("data"), QStringLiteral("onPixels")))
        shape.onPixels = on;
    if (const auto entry = qrsettings::dictionary(settings, QStringLiteral("eye"))) {
        if (auto eye = QRCodeEyeShapeFactory::shared().createWithSettings(*entry))
            shape.eye = eye;
    }
    shape.offPixels = pixelShapeFrom(settings, QStringLiteral("dataInverted"), QStringLiteral("offPixels"));
    return shape;
}

QRCodeStyle::QRCodeStyle()
    : onPixels(std::make_shared<QRCodeFillStyleSolid>(QColor(0, 0, 0))),
      background(std::make_shared<QRCodeFillStyleSolid>(QColor(255, 255, 255))) {}

QRCodeStyle QRCodeStyle::copy() const {
    const auto c = [](const QRCodeFillStylePtr& f) { return f ? f->copyStyle() : nullptr; };
    QRCodeStyle s;
    s.onPixels = c(onPixels);
    s.offPixels = c(offPixels);
    s.eye = c(eye);
    s.pupil = c(pupil);
    s.background = c(background);
    return s;
}

QVariantMap QRCodeStyle::settings() const {
    QVariantMap map{{QStringLiteral("onPixels"), generatorEntry(onPixels)}};
    const std::pair<const char*, const QRCodeFillStylePtr*> optional[] = {
        {"eye", &eye}, {"pupil", &pupil}, {"background", &background}, {"offPixels", &offPixels}};
    for (const auto& [key, fill] : optional) {
        if (*fill)
            map.insert(QLatin1String(key), generatorEntry(*fill));
    }
    return map;
}

QRCodeStyle QRCodeStyle::CreateWithSettings(const QVariantMap& settings) {
    QRCodeStyle style;
    const std::pair<const char*, QRCodeFillStylePtr*> targets[] = {{"onPixels", &style.onPixels},
                                                                   {"eye", &style.eye},
                                                                   {"pupil", &style.pupil},
                                                                   {"background", &style.background},
                                                                   {"offPixels", &style.offPixels}};
    for (const auto& [key, fill] : targets) {
        if (const auto entry = qrsettings::dictionary(settings, QLatin1String(key))) {
            if (auto created = QRCodeFillStyleFactory::shared().CreateWithSettings(*entry))
                *fill = created;
        }
    }
    return style;
}

QRCodeDesign::QRCodeDesign(const QColor& foreground, const QColor& background) {
    foregroundColor(foreground);
    backgroundColor(background);
}

QRCodeDesign& QRCodeDesign::foregroundColor(const QColor& color) {
    style.onPixels = std::make_shared<QRCodeFillStyleSolid>(color);
    return *this;
}

QRCodeDesign& QRCodeDesign::backgroundColor(const std::optional<QColor>& color) {
    style.background = std::make_shared<QRCodeFillStyleSolid>(color.value_or(QColor(Qt::transparent)));
    return *this;
}

QRCodeDesign QRCodeDesign::copy() const {
    QRCodeDesign d;
    d.shape = shape.copy();
    d.style = style.copy();
    return d;
}

QVariantMap QRCodeDesign::settings() const {
    return {{QStringLiteral("shape"), shape.settings()}, {QStringLiteral("style"), style.settings()}};
}

QByteArray QRCodeDesign::jsonData() const {
    return QJsonDocument(QJsonObject::fromVariantMap(settings())).toJson(QJsonDocument::Compact);
}

QRCodeDesign QRCodeDesign::CreateWithSettings(const QVariantMap& settings) {
    QRCodeDesign design;
    if (const auto shape = qrsettings::dictionary(settings, QStringLiteral("shape")))
        design.shape = QRCodeShape::CreateWithSettings(*shape);
    if (const auto style = qrsettings::dictionary(settings, QStringLiteral("style")))
        design.style = QRCodeStyle::CreateWithSettings(*style);
    return design;
}

std::optional<QRCodeDesign> QRCodeDesign::CreateWithJsonData(const QByteArray& json) {
    const QJsonDocument doc = QJsonDocument::fromJson(json);
    if (!doc.isObject())
        return std::nullopt;
    return CreateWithSettings(doc.object().toVariantMap());
}
