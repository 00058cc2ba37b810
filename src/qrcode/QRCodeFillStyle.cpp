#include "qrcode/QRCodeFillStyle.h"

#include "qrcode/QRCodeNumbers.h"
#include "qrcode/QRCodeSettings.h"

#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

double srgbToLinear(double v) {
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}
double linearToSrgb(double v) {
    return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
}

QColor colorFromComponents(double r, double g, double b, double a) {
    const auto c = [](double v) { return std::clamp(v, 0.0, 1.0); };
    return QColor::fromRgbF(float(c(r)), float(c(g)), float(c(b)), float(c(a)));
}

// QColor keeps 16 bits per channel; the shortest decimal that maps back to the same channel value
// keeps stored colours readable ("0.2", not "0.20000762951094835") and stable across saves.
double channelValue(quint16 v) {
    const double exact = v / 65535.0;
    for (int precision = 1; precision < 17; ++precision) {
        const double d = QString::number(exact, 'g', precision).toDouble();
        if (qRound(d * 65535.0) == v)
            return d;
    }
    return exact;
}

} // namespace

std::optional<RGBAComponents> RGBAComponents::fromColor(const QColor& color) {
    if (!color.isValid())
        return std::nullopt;
    const QRgba64 c = color.toRgb().rgba64();
    return RGBAComponents{channelValue(c.red()), channelValue(c.green()), channelValue(c.blue()),
                          channelValue(c.alpha())};
}

QString RGBAComponents::stringValue() const {
    return QStringList{qrnumbers::shortest(r), qrnumbers::shortest(g), qrnumbers::shortest(b),
                       qrnumbers::shortest(a)}
        .join(u',');
}

std::optional<QString> RGBAComponents::hexString() const {
    QString out = QStringLiteral("#");
    for (double v : {r, g, b, a}) {
        // Components from 8- or 16-bit colours land a hair below the integer (128/255 × 255 =
        // 127.9999…); settle that float noise before truncating, which keeps 127.5 at 127.
        const double scaled = std::trunc(std::round(v * 255 * 1000) / 1000);
        if (!std::isfinite(scaled) || scaled < double(std::numeric_limits<qint64>::min()) ||
            scaled >= double(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        // "%02x" of a 64-bit integer: negative values print their two's complement.
        out += QString::number(quint64(qint64(scaled)), 16).rightJustified(2, u'0');
    }
    return out;
}

std::optional<QColor> colorFromRGBAString(const QString& text) {
    QList<double> values;
    for (const QString& piece : text.split(u',')) {
        double v = 0;
        if (qrnumbers::parseStrict(piece, &v))
            values.append(std::clamp(v, 0.0, 1.0));
    }
    if (values.size() != 4)
        return std::nullopt;
    return colorFromComponents(values[0], values[1], values[2], values[3]);
}

LumGradientPin::LumGradientPin(const QColor& color, double position)
    : m_color(color), m_position(std::isnan(position) ? 0.0 : std::clamp(position, 0.0, 1.0)) {}

LumGradient::LumGradient(QList<LumGradientPin> pins) : m_pins(std::move(pins)) {
    std::stable_sort(m_pins.begin(), m_pins.end(), [](const LumGradientPin& a, const LumGradientPin& b) {
        return a.position() < b.position();
    });
}

std::optional<QString> LumGradient::asRGBAGradientString() const {
    QStringList parts;
    for (const auto& pin : m_pins) {
        const auto c = RGBAComponents::fromColor(pin.color());
        if (!c)
            return std::nullopt;
        parts.append(qrnumbers::shortest(pin.position()) + u':' +
                     QStringList{qrnumbers::fourDigits(srgbToLinear(c->r)),
                                 qrnumbers::fourDigits(srgbToLinear(c->g)),
                                 qrnumbers::fourDigits(srgbToLinear(c->b)), qrnumbers::fourDigits(c->a)}
                         .join(u','));
    }
    return parts.join(u'|');
}

std::optional<LumGradient> LumGradient::FromRGBAGradientString(const QString& text) {
    if (text.isEmpty())
        return std::nullopt;
    QList<LumGradientPin> pins;
    for (const QString& part : text.split(u'|')) {
        const QStringList halves = part.split(u':');
        if (halves.size() != 2)
            return std::nullopt;
        double position = 0;
        if (!qrnumbers::parseStrict(halves[0], &position))
            return std::nullopt;
        const QStringList comps = halves[1].split(u',');
        if (comps.size() != 4)
            return std::nullopt;
        double v[4];
        for (int i = 0; i < 4; ++i) {
            if (!qrnumbers::parseStrict(comps[i], &v[i]))
                return std::nullopt;
        }
        pins.append(LumGradientPin(colorFromComponents(linearToSrgb(std::clamp(v[0], 0.0, 1.0)),
                                                       linearToSrgb(std::clamp(v[1], 0.0, 1.0)),
                                                       linearToSrgb(std::clamp(v[2], 0.0, 1.0)), v[3]),
                                   position));
    }
    return LumGradient(pins);
}

void LumGradient::applyStops(QGradient& gradient) const {
    QGradientStops stops;
    for (const auto& pin : m_pins)
        stops.append({pin.position(), pin.color()});
    gradient.setStops(stops);
    gradient.setSpread(QGradient::PadSpread);
}

// Solid -----------------------------------------------------------------------------------------

QRCodeFillStylePtr QRCodeFillStyleSolid::CreateWithSettings(const QVariantMap& settings) {
    const auto text = qrsettings::string(settings, QStringLiteral("color"));
    if (!text)
        return nullptr;
    const auto color = colorFromRGBAString(*text);
    if (!color)
        return nullptr;
    return std::make_shared<QRCodeFillStyleSolid>(*color);
}

QVariantMap QRCodeFillStyleSolid::settings() const {
    const auto c = RGBAComponents::fromColor(m_color);
    return {{QStringLiteral("color"), c ? c->stringValue() : QStringLiteral("1.0,0.0,0.0,0.5")}};
}

void QRCodeFillStyleSolid::fill(QPainter& painter, const QRectF& rect) const {
    painter.fillRect(rect, m_color);
}

void QRCodeFillStyleSolid::fill(QPainter& painter, const QRectF&, const QPainterPath& path) const {
    QPainterPath p = path;
    p.setFillRule(Qt::WindingFill);
    painter.fillPath(p, m_color);
}

// Gradients -------------------------------------------------------------------------------------

namespace {

QString gradientText(const LumGradient& g) {
    return g.asRGBAGradientString().value_or(QString());
}

std::optional<LumGradient> gradientSetting(const QVariantMap& settings) {
    const auto text = qrsettings::string(settings, QStringLiteral("gradient"));
    if (!text)
        return std::nullopt;
    return LumGradient::FromRGBAGradientString(*text);
}

void fillWithBrush(QPainter& painter, const QRectF& rect, const QPainterPath* path, const QGradient& gradient,
                   bool hasStops) {
    if (!hasStops)
        return;
    if (path) {
        QPainterPath p = *path;
        p.setFillRule(Qt::WindingFill);
        painter.fillPath(p, gradient);
    } else {
        painter.fillRect(rect, gradient);
    }
}

} // namespace

QRCodeFillStylePtr QRCodeFillStyleLinearGradient::CreateWithSettings(const QVariantMap& s) {
    const auto sx = qrsettings::number(s, QStringLiteral("startX"));
    const auto sy = qrsettings::number(s, QStringLiteral("startY"));
    const auto ex = qrsettings::number(s, QStringLiteral("endX"));
    const auto ey = qrsettings::number(s, QStringLiteral("endY"));
    const auto gradient = gradientSetting(s);
    if (!sx || !sy || !ex || !ey || !gradient)
        return nullptr;
    return std::make_shared<QRCodeFillStyleLinearGradient>(*gradient, QPointF(*sx, *sy), QPointF(*ex, *ey));
}

QVariantMap QRCodeFillStyleLinearGradient::settings() const {
    return {{QStringLiteral("startX"), m_startPoint.x()},
            {QStringLiteral("startY"), m_startPoint.y()},
            {QStringLiteral("endX"), m_endPoint.x()},
            {QStringLiteral("endY"), m_endPoint.y()},
            {QStringLiteral("gradient"), gradientText(m_gradient)}};
}

void QRCodeFillStyleLinearGradient::fill(QPainter& painter, const QRectF& rect) const {
    const double w = rect.width();
    QLinearGradient g(m_startPoint * w, m_endPoint * w);
    m_gradient.applyStops(g);
    fillWithBrush(painter, rect, nullptr, g, !m_gradient.pins().isEmpty());
}

void QRCodeFillStyleLinearGradient::fill(QPainter& painter, const QRectF& rect,
                                         const QPainterPath& path) const {
    const double w = rect.width();
    QLinearGradient g(m_startPoint * w, m_endPoint * w);
    m_gradient.applyStops(g);
    fillWithBrush(painter, rect, &path, g, !m_gradient.pins().isEmpty());
}

QRCodeFillStylePtr QRCodeFillStyleRadialGradient::CreateWithSettings(const QVariantMap& s) {
    const auto cx = qrsettings::number(s, QStringLiteral("centerX"));
    const auto cy = qrsettings::number(s, QStringLiteral("centerY"));
    const auto gradient = gradientSetting(s);
    if (!cx || !cy || !gradient)
        return nullptr;
    return std::make_shared<QRCodeFillStyleRadialGradient>(*gradient, QPointF(*cx, *cy));
}

QVariantMap QRCodeFillStyleRadialGradient::settings() const {
    return {{QStringLiteral("centerX"), m_centerPoint.x()},
            {QStringLiteral("centerY"), m_centerPoint.y()},
            {QStringLiteral("gradient"), gradientText(m_gradient)}};
}

void QRCodeFillStyleRadialGradient::fill(QPainter& painter, const QRectF& rect) const {
    const double w = rect.width();
    QRadialGradient g(m_centerPoint * w, w / 1.75);
    m_gradient.applyStops(g);
    fillWithBrush(painter, rect, nullptr, g, !m_gradient.pins().isEmpty());
}

void QRCodeFillStyleRadialGradient::fill(QPainter& painter, const QRectF& rect,
                                         const QPainterPath& path) const {
    const double w = rect.width();
    QRadialGradient g(m_centerPoint * w, w / 1.75);
    m_gradient.applyStops(g);
    fillWithBrush(painter, rect, &path, g, !m_gradient.pins().isEmpty());
}

// Shared values ---------------------------------------------------------------------------------

const QRCodeFillStylePtr& QRCodeFillStyle::clear() {
    static const QRCodeFillStylePtr style = std::make_shared<QRCodeFillStyleSolid>(QColor(Qt::transparent));
    return style;
}

const QRCodeFillStyleFactory& QRCodeFillStyleFactory::shared() {
    static const QRCodeFillStyleFactory factory;
    return factory;
}

QStringList QRCodeFillStyleFactory::knownTypes() const {
    return {QRCodeFillStyleSolid::Name(), QRCodeFillStyleLinearGradient::Name(),
            QRCodeFillStyleRadialGradient::Name()};
}

QRCodeFillStylePtr QRCodeFillStyleFactory::CreateWithSettings(const QVariantMap& settings) const {
    const auto type = qrsettings::string(settings, QStringLiteral("type"));
    if (!type)
        return nullptr;
    const QVariantMap inner =
        qrsettings::dictionary(settings, QStringLiteral("settings")).value_or(QVariantMap());
    if (*type == QRCodeFillStyleSolid::Name())
        return QRCodeFillStyleSolid::CreateWithSettings(inner);
    if (*type == QRCodeFillStyleLinearGradient::Name())
        return QRCodeFillStyleLinearGradient::CreateWithSettings(inner);
    if (*type == QRCodeFillStyleRadialGradient::Name())
        return QRCodeFillStyleRadialGradient::CreateWithSettings(inner);
    return nullptr;
}
