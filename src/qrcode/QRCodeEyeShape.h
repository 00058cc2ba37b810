#pragma once

#include <QPainterPath>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

// The two constant outlines of a finder pattern, in a 90 × 90 box (one module = 10 units).
class QRCodeEyeShapeGenerator {
public:
    virtual ~QRCodeEyeShapeGenerator() = default;
    virtual QString name() const = 0;
    QVariantMap settings() const { return {}; }
    virtual std::shared_ptr<QRCodeEyeShapeGenerator> copyShape() const = 0;
    // Hole first, then the outer boundary, in opposite directions (non-zero fill leaves the hole).
    virtual QPainterPath eyePath() const = 0;
    virtual QPainterPath pupilPath() const = 0;
};

using QRCodeEyeShapePtr = std::shared_ptr<QRCodeEyeShapeGenerator>;

#define QRCODE_EYE_SHAPE(Class, shapeName)                                                                   \
    class Class : public QRCodeEyeShapeGenerator {                                                           \
    public:                                                                                                  \
        static QString Name() { return QStringLiteral(shapeName); }                                          \
        static QRCodeEyeShapePtr Create(const QVariantMap& = {}) { return std::make_shared<Class>(); }       \
        QString name() const override { return Name(); }                                                     \
        QRCodeEyeShapePtr copyShape() const override { return std::make_shared<Class>(); }                   \
        QPainterPath eyePath() const override;                                                               \
        QPainterPath pupilPath() const override;                                                             \
    };

QRCODE_EYE_SHAPE(QRCodeEyeShapeCircle, "circle")
QRCODE_EYE_SHAPE(QRCodeEyeStyleRoundedRect, "roundedRect")
QRCODE_EYE_SHAPE(QRCodeEyeStyleRoundedPointingIn, "roundedPointingIn")
QRCODE_EYE_SHAPE(QRCodeEyeShapeSquircle, "squircle")
QRCODE_EYE_SHAPE(QRCodeEyeStyleRoundedOuter, "roundedOuter")
QRCODE_EYE_SHAPE(QRCodeEyeStyleSquare, "square")
QRCODE_EYE_SHAPE(QRCodeEyeShapeLeaf, "leaf")
QRCODE_EYE_SHAPE(QRCodeEyeStyleBarsVertical, "barsVertical")
QRCODE_EYE_SHAPE(QRCodeEyeStyleBarsHorizontal, "barsHorizontal")

#undef QRCODE_EYE_SHAPE

class QRCodeEyeShapeFactory {
public:
    struct Type {
        std::function<QString()> name;
        std::function<QRCodeEyeShapePtr(const QVariantMap&)> create;
    };

    static const QRCodeEyeShapeFactory& shared();

    const QList<Type>& registeredTypes() const { return m_types; }
    QStringList availableGeneratorNames() const;
    QRCodeEyeShapePtr named(const QString& name,
                            const std::optional<QVariantMap>& settings = std::nullopt) const;
    QRCodeEyeShapePtr createWithSettings(const QVariantMap& settings) const;

private:
    QRCodeEyeShapeFactory();
    QList<Type> m_types;
};
