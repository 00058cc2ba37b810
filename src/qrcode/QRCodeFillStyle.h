#pragma once

#include <QColor>
#include <QList>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

class QPainter;

// A colour as four sRGB components.
struct RGBAComponents {
    double r = 0, g = 0, b = 0, a = 0;

    static std::optional<RGBAComponents> fromColor(const QColor& color);
    // "1.0,0.5,0.0,1.0"
    QString stringValue() const;
    // "#ff7f00ff"; nothing when a component does not scale to an integer.
    std::optional<QString> hexString() const;
};

// The colour text form of solid fills: four numbers, each clamped to 0…1.
std::optional<QColor> colorFromRGBAString(const QString& text);

class LumGradientPin {
public:
    // The position is clamped to 0…1; a NaN position is 0.
    LumGradientPin(const QColor& color, double position);
    const QColor& color() const { return m_color; }
    double position() const { return m_position; }
    LumGradientPin copyPin() const { return *this; }

private:
    QColor m_color;
    double m_position;
};

class LumGradient {
public:
    LumGradient() = default;
    explicit LumGradient(QList<LumGradientPin> pins);
    const QList<LumGradientPin>& pins() const { return m_pins; }
    LumGradient copyGradient() const { return *this; }

    // "0.0:0,0,0,1|1.0:1,1,1,1" with components in linear RGB; nothing when a colour has no
    // components, the empty string for no pins.
    std::optional<QString> asRGBAGradientString() const;
    // Components are read back in the linear space they were written in, so stored designs keep
    // their colours across any number of save/load cycles.
    static std::optional<LumGradient> FromRGBAGradientString(const QString& text);

    void applyStops(class QGradient& gradient) const;

private:
    QList<LumGradientPin> m_pins; // ascending by position
};

class QRCodeFillStyleGenerator {
public:
    virtual ~QRCodeFillStyleGenerator() = default;
    virtual QString name() const = 0;
    virtual QVariantMap settings() const = 0;
    virtual std::shared_ptr<QRCodeFillStyleGenerator> copyStyle() const = 0;
    // The rectangle's width scales the unit points; its origin is not added.
    virtual void fill(QPainter& painter, const QRectF& rect) const = 0;
    virtual void fill(QPainter& painter, const QRectF& rect, const QPainterPath& path) const = 0;
};

using QRCodeFillStylePtr = std::shared_ptr<QRCodeFillStyleGenerator>;

class QRCodeFillStyleSolid : public QRCodeFillStyleGenerator {
public:
    explicit QRCodeFillStyleSolid(const QColor& color) : m_color(color) {}
    static QString Name() { return QStringLiteral("solid"); }
    static QRCodeFillStylePtr CreateWithSettings(const QVariantMap& settings);
    const QColor& color() const { return m_color; }
    QString name() const override { return Name(); }
    QVariantMap settings() const override;
    QRCodeFillStylePtr copyStyle() const override { return std::make_shared<QRCodeFillStyleSolid>(m_color); }
    void fill(QPainter& painter, const QRectF& rect) const override;
    void fill(QPainter& painter, const QRectF& rect, const QPainterPath& path) const override;

private:
    QColor m_color;
};

class QRCodeFillStyleLinearGradient : public QRCodeFillStyleGenerator {
public:
    explicit QRCodeFillStyleLinearGradient(LumGradient gradient, QPointF startPoint = {0, 0},
                                           QPointF endPoint = {1, 1})
        : m_gradient(std::move(gradient)), m_startPoint(startPoint), m_endPoint(endPoint) {}
    static QString Name() { return QStringLiteral("lineargradient"); }
    static QRCodeFillStylePtr CreateWithSettings(const QVariantMap& settings);
    const LumGradient& gradient() const { return m_gradient; }
    QPointF startPoint() const { return m_startPoint; }
    QPointF endPoint() const { return m_endPoint; }
    void setStartPoint(QPointF p) { m_startPoint = p; }
    void setEndPoint(QPointF p) { m_endPoint = p; }
    QString name() const override { return Name(); }
    QVariantMap settings() const override;
    QRCodeFillStylePtr copyStyle() const override {
        return std::make_shared<QRCodeFillStyleLinearGradient>(*this);
    }
    void fill(QPainter& painter, const QRectF& rect) const override;
    void fill(QPainter& painter, const QRectF& rect, const QPainterPath& path) const override;

private:
    LumGradient m_gradient;
    QPointF m_startPoint;
    QPointF m_endPoint;
};

class QRCodeFillStyleRadialGradient : public QRCodeFillStyleGenerator {
public:
    explicit QRCodeFillStyleRadialGradient(LumGradient gradient, QPointF centerPoint = {0.5, 0.5})
        : m_gradient(std::move(gradient)), m_centerPoint(centerPoint) {}
    static QString Name() { return QStringLiteral("radialgradient"); }
    static QRCodeFillStylePtr CreateWithSettings(const QVariantMap& settings);
    const LumGradient& gradient() const { return m_gradient; }
    QPointF centerPoint() const { return m_centerPoint; }
    QString name() const override { return Name(); }
    QVariantMap settings() const override;
    QRCodeFillStylePtr copyStyle() const override {
        return std::make_shared<QRCodeFillStyleRadialGradient>(*this);
    }
    void fill(QPainter& painter, const QRectF& rect) const override;
    void fill(QPainter& painter, const QRectF& rect, const QPainterPath& path) const override;

private:
    LumGradient m_gradient;
    QPointF m_centerPoint;
};

namespace QRCodeFillStyle {
// One shared, fully transparent solid fill.
const QRCodeFillStylePtr& clear();
} // namespace QRCodeFillStyle

class QRCodeFillStyleFactory {
public:
    static const QRCodeFillStyleFactory& shared();
    // Registration order: "solid", "lineargradient", "radialgradient".
    QStringList knownTypes() const;
    // {"type": name, "settings": {...}}
    QRCodeFillStylePtr CreateWithSettings(const QVariantMap& settings) const;

private:
    QRCodeFillStyleFactory() = default;
};
