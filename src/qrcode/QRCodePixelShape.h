#pragma once

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include "qrcode/QRCodeBoolMatrix.h"

#include <functional>
#include <memory>
#include <optional>

class QRCode;

// Outlines the data modules of a code: one path for the dark modules, one for the light ones.
class QRCodePixelShapeGenerator {
public:
    virtual ~QRCodePixelShapeGenerator() = default;
    virtual QString name() const = 0;
    virtual QVariantMap settings() const = 0;
    virtual std::shared_ptr<QRCodePixelShapeGenerator> copyShape() const = 0;
    virtual QPainterPath onPath(const QSizeF& size, const QRCode& code, bool isTemplate) const = 0;
    virtual QPainterPath offPath(const QSizeF& size, const QRCode& code, bool isTemplate) const = 0;

    // For raster renderers that stamp pre-rendered figures: shapes that draw one figure per
    // module, chosen by the module's neighbourhood, return that figure's key for a module of the
    // on or off path (template flag clear, eye regions excluded by the caller), -2 when the path
    // leaves that module out, and -1 when the shape cannot be stamped at all.
    virtual int figureKey(const QRCodeBoolMatrix&, int /*row*/, int /*column*/, bool /*on*/) const {
        return -1;
    }
    // The figure of a key for a module cell (the same figure the paths hold for that cell).
    virtual QPainterPath figure(const QRectF& /*cell*/, int /*key*/) const { return {}; }
};

using QRCodePixelShapePtr = std::shared_ptr<QRCodePixelShapeGenerator>;

// The parameters shared by the four one-figure-per-module shapes.
struct CommonPixelGenerator {
    enum class PixelType { square = 0, circle = 1, roundedRect = 2, squircle = 3 };
    double inset = 0;
    PixelType pixelType = PixelType::square;
    double cornerRadiusFraction = 0;

    QPainterPath onPath(const QSizeF& size, const QRCode& code, bool isTemplate) const;
    QPainterPath offPath(const QSizeF& size, const QRCode& code, bool isTemplate) const;
    void addFigure(QPainterPath& path, const QRectF& cell) const;
    // The off path leaves the quiet-zone ring out.
    static int figureKey(const QRCodeBoolMatrix& m, int r, int c, bool on) {
        const int last = m.dimension() - 1;
        return !on && (r == 0 || c == 0 || r == last || c == last) ? -2 : 0;
    }

private:
    QPainterPath path(const QSizeF& size, const QRCode& code, bool on, bool isTemplate) const;
};

// The four shapes that draw one figure per dark module differ only in their name, figure and
// settings; everything else goes through CommonPixelGenerator.
template <class Self> class QRCodeCommonPixelShape : public QRCodePixelShapeGenerator {
public:
    double inset() const { return m_common.inset; }
    QString name() const override { return Self::Name(); }
    QRCodePixelShapePtr copyShape() const override {
        return std::make_shared<Self>(static_cast<const Self&>(*this));
    }
    QPainterPath onPath(const QSizeF& s, const QRCode& c, bool t) const override {
        return m_common.onPath(s, c, t);
    }
    QPainterPath offPath(const QSizeF& s, const QRCode& c, bool t) const override {
        return m_common.offPath(s, c, t);
    }
    int figureKey(const QRCodeBoolMatrix& m, int r, int c, bool on) const override {
        return m_common.figureKey(m, r, c, on);
    }
    QPainterPath figure(const QRectF& cell, int) const override {
        QPainterPath p;
        m_common.addFigure(p, cell);
        return p;
    }

protected:
    explicit QRCodeCommonPixelShape(CommonPixelGenerator common) : m_common(common) {}
    CommonPixelGenerator m_common;
};

class QRCodePixelShapeSquare : public QRCodeCommonPixelShape<QRCodePixelShapeSquare> {
public:
    explicit QRCodePixelShapeSquare(double inset = 0)
        : QRCodeCommonPixelShape({inset, CommonPixelGenerator::PixelType::square, 0}) {}
    static QString Name() { return QStringLiteral("square"); }
    static QRCodePixelShapePtr Create(const QVariantMap& settings);
    QVariantMap settings() const override;
};

class QRCodePixelShapeCircle : public QRCodeCommonPixelShape<QRCodePixelShapeCircle> {
public:
    explicit QRCodePixelShapeCircle(double inset = 0)
        : QRCodeCommonPixelShape({inset, CommonPixelGenerator::PixelType::circle, 0}) {}
    static QString Name() { return QStringLiteral("circle"); }
    static QRCodePixelShapePtr Create(const QVariantMap& settings);
    QVariantMap settings() const override;
};

// The corner fraction is deliberately not clamped; Qt keeps larger radii inside the rectangle.
class QRCodePixelShapeRoundedRect : public QRCodeCommonPixelShape<QRCodePixelShapeRoundedRect> {
public:
    explicit QRCodePixelShapeRoundedRect(double inset = 0, double cornerRadiusFraction = 0)
        : QRCodeCommonPixelShape(
              {inset, CommonPixelGenerator::PixelType::roundedRect, cornerRadiusFraction}) {}
    static QString Name() { return QStringLiteral("roundedRect"); }
    static QRCodePixelShapePtr Create(const QVariantMap& settings);
    double cornerRadiusFraction() const { return m_common.cornerRadiusFraction; }
    QVariantMap settings() const override;
};

class QRCodePixelShapeSquircle : public QRCodeCommonPixelShape<QRCodePixelShapeSquircle> {
public:
    explicit QRCodePixelShapeSquircle(double inset = 0)
        : QRCodeCommonPixelShape({inset, CommonPixelGenerator::PixelType::squircle, 0}) {}
    static QString Name() { return QStringLiteral("squircle"); }
    static QRCodePixelShapePtr Create(const QVariantMap& settings);
    QVariantMap settings() const override;

    // The outline in its 10 × 10 box, built once.
    static const QPainterPath& templatePath();
};

// Runs of modules merged into bars along rows (horizontal) or columns (vertical).
class QRCodePixelShapeBars : public QRCodePixelShapeGenerator {
public:
    double inset() const { return m_inset; }
    double cornerRadiusFraction() const { return m_cornerRadiusFraction; }
    QVariantMap settings() const override;
    QPainterPath onPath(const QSizeF& s, const QRCode& c, bool t) const override;
    QPainterPath offPath(const QSizeF& s, const QRCode& c, bool t) const override;

protected:
    QRCodePixelShapeBars(bool vertical, double inset, double cornerRadiusFraction);

private:
    QPainterPath runs(const QSizeF& size, const QRCode& code, bool on, bool isTemplate) const;
    bool m_vertical;
    double m_inset;
    double m_cornerRadiusFraction; // clamped to 0…1
};

class QRCodePixelShapeVertical : public QRCodePixelShapeBars {
public:
    explicit QRCodePixelShapeVertical(double inset = 0, double cornerRadiusFraction = 0)
        : QRCodePixelShapeBars(true, inset, cornerRadiusFraction) {}
    static QString Name() { return QStringLiteral("vertical"); }
    static QRCodePixelShapePtr Create(const QVariantMap& settings);
    QString name() const override { return Name(); }
    QRCodePixelShapePtr copyShape() const override {
        return std::make_shared<QRCodePixelShapeVertical>(*this);
    }
};

class QRCodePixelShapeHorizontal : public QRCodePixelShapeBars {
public:
    explicit QRCodePixelShapeHorizontal(double inset = 0, double cornerRadiusFraction = 0)
        : QRCodePixelShapeBars(false, inset, cornerRadiusFraction) {}
    static QString Name() { return QStringLiteral("horizontal"); }
    static QRCodePixelShapePtr Create(const QVariantMap& settings);
    QString name() const override { return Name(); }
    QRCodePixelShapePtr copyShape() const override {
        return std::make_shared<QRCodePixelShapeHorizontal>(*this);
    }
};

// Connected outline: corners without neighbours on both adjacent sides are rounded.
class QRCodePixelShapeRoundedPath : public QRCodePixelShapeGenerator {
public:
    static QString Name() { return nameStorage(); }
    static void setName(const QString& name) { nameStorage() = name; }
    static QRCodePixelShapePtr Create(const QVariantMap&) {
        return std::make_shared<QRCodePixelShapeRoundedPath>();
    }
    QString name() const override { return Name(); }
    QVariantMap settings() const override { return {}; }
    QRCodePixelShapePtr copyShape() const override { return std::make_shared<QRCodePixelShapeRoundedPath>(); }
    QPainterPath onPath(const QSizeF& s, const QRCode& c, bool t) const override;
    QPainterPath offPath(const QSizeF& s, const QRCode& c, bool t) const override;
    int figureKey(const QRCodeBoolMatrix& m, int row, int column, bool on) const override;
    QPainterPath figure(const QRectF& cell, int key) const override;

private:
    static QString& nameStorage();
};

// Modules with exactly one neighbour point away from it.
class QRCodePixelShapePointy : public QRCodePixelShapeGenerator {
public:
    static QString Name() { return nameStorage(); }
    static void setName(const QString& name) { nameStorage() = name; }
    static QRCodePixelShapePtr Create(const QVariantMap&) {
        return std::make_shared<QRCodePixelShapePointy>();
    }
    QString name() const override { return Name(); }
    QVariantMap settings() const override { return {}; }
    QRCodePixelShapePtr copyShape() const override { return std::make_shared<QRCodePixelShapePointy>(); }
    QPainterPath onPath(const QSizeF& s, const QRCode& c, bool t) const override;
    QPainterPath offPath(const QSizeF&, const QRCode&, bool) const override { return {}; }
    int figureKey(const QRCodeBoolMatrix& m, int row, int column, bool on) const override;
    QPainterPath figure(const QRectF& cell, int key) const override;

private:
    static QString& nameStorage();
};

class QRCodePixelShapeFactory {
public:
    struct Type {
        std::function<QString()> name;
        std::function<QRCodePixelShapePtr(const QVariantMap&)> create;
    };

    static const QRCodePixelShapeFactory& shared();

    const QList<Type>& registeredTypes() const { return m_types; }
    QStringList availableGeneratorNames() const;
    QRCodePixelShapePtr named(const QString& name,
                              const std::optional<QVariantMap>& settings = std::nullopt) const;
    // {"type": name, "settings": {...}}
    QRCodePixelShapePtr createWithSettings(const QVariantMap& settings) const;

    // A preview of the shape on a fixed 7 × 7 sample, n × n pixels.
    std::optional<QImage> image(const QRCodePixelShapeGenerator& shape, bool isOn, double dimension,
                                const QColor& foreground, const std::optional<QColor>& background) const;

private:
    QRCodePixelShapeFactory();
    QList<Type> m_types;
};
