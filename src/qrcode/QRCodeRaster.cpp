#include "qrcode/QRCodeRaster.h"

#include "qrcode/QRCode.h"
#include "qrcode/QRCodeDesign.h"
#include "qrcode/QRCodePathHelpers.h"

#include <QBuffer>
#include <QHash>
#include <QPainter>

#include <array>
#include <cmath>
#include <cstring>
#include <optional>
#include <type_traits>
#include <vector>

namespace qrraster {

namespace {

inline quint32 byteMul(quint32 x, quint32 a) {
    quint32 t = (x & 0xff00ff) * a;
    t = (t + ((t >> 8) & 0xff00ff) + 0x800080) >> 8;
    t &= 0xff00ff;
    x = ((x >> 8) & 0xff00ff) * a;
    x = x + ((x >> 8) & 0xff00ff) + 0x800080;
    x &= 0xff00ff00;
    return x | t;
}

void blend(QImage& target, const QImage& stamp, int x, int y) {
    const int w = std::min(stamp.width(), target.width() - x);
    const int h = std::min(stamp.height(), target.height() - y);
    for (int row = 0; row < h; ++row) {
        auto* dst = reinterpret_cast<quint32*>(target.scanLine(y + row)) + x;
        const auto* src = reinterpret_cast<const quint32*>(stamp.constScanLine(row));
        for (int col = 0; col < w; ++col) {
            const quint32 s = src[col];
            const quint32 a = s >> 24;
            if (a == 255)
                dst[col] = s;
            else if (a != 0)
                dst[col] = s + byteMul(dst[col], 255 - a);
        }
    }
}

// Pre-rendered module figures keyed by figure and pixel size.
class Stamps {
public:
    Stamps(const QRCodePixelShapeGenerator& shape, const QColor& color, double scale)
        : m_shape(shape), m_color(color), m_scale(scale) {}

    const QImage& get(int key, int w, int h) {
        const quint64 id = (quint64(quint32(key)) << 40) | (quint64(quint32(w)) << 20) | quint32(h);
        auto it = m_cache.find(id);
        if (it == m_cache.end()) {
            QImage stamp(w, h, QImage::Format_ARGB32_Premultiplied);
            stamp.fill(Qt::transparent);
            QPainter painter(&stamp);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.scale(m_scale, m_scale);
            QPainterPath path = m_shape.figure(QRectF(0, 0, w / m_scale, h / m_scale), key);
            path.setFillRule(Qt::WindingFill);
            painter.fillPath(path, m_color);
            painter.end();
            it = m_cache.insert(id, stamp);
        }
        return *it;
    }

private:
    const QRCodePixelShapeGenerator& m_shape;
    QColor m_color;
    double m_scale;
    QHash<quint64, QImage> m_cache;
};

// Figure keys of every module the path would draw (-2 for none); nothing when the shape
// cannot be stamped.
std::optional<std::vector<int>> figureKeys(const QRCodePixelShapeGenerator& shape, const QRCodeBoolMatrix& m,
                                           bool on) {
    const qrpath::Grid g(QSizeF(1, 1), m.dimension());
    std::vector<int> keys(std::size_t(g.d) * std::size_t(g.d), -2);
    for (int r = 0; r < g.d; ++r) {
        for (int c = 0; c < g.d; ++c) {
            if (m(r, c) != on || g.inEye(r, c))
                continue;
            const int key = shape.figureKey(m, r, c, on);
            if (key == -1)
                return std::nullopt;
            keys[std::size_t(r) * std::size_t(g.d) + std::size_t(c)] = key;
        }
    }
    return keys;
}

void stampModules(QImage& image, const QSizeF& size, double scale, const QRCode& code,
                  const std::vector<int>& keys, const QRCodePixelShapeGenerator& shape, const QColor& color) {
    const qrpath::Grid g(size, code.pixelSize());
    const int d = g.d;
    QList<int> edgeX(d + 1), edgeY(d + 1);
    for (int i = 0; i <= d; ++i) {
        edgeX[i] = int(std::lround((g.x0 + g.p * i) * scale));
        edgeY[i] = int(std::lround((g.y0 + g.p * i) * scale));
    }
    Stamps stamps(shape, color, scale);
    for (int r = 0; r < d; ++r) {
        for (int c = 0; c < d; ++c) {
            const int key = keys[std::size_t(r) * std::size_t(d) + std::size_t(c)];
            const int w = edgeX[c + 1] - edgeX[c];
            const int h = edgeY[r + 1] - edgeY[r];
            if (key >= 0 && w > 0 && h > 0)
                blend(image, stamps.get(key, w, h), edgeX[c], edgeY[r]);
        }
    }
}

// Stamps the modules straight into image for a solid fill; for any other fill the stamps make a
// coverage layer that the fill is painted through.
void paintModules(QImage& image, const QSizeF& size, double scale, const QRCode& code,
                  const std::vector<int>& keys, const QRCodePixelShapeGenerator& shape,
                  const QRCodeFillStyleGenerator& fill) {
    if (const auto* solid = dynamic_cast<const QRCodeFillStyleSolid*>(&fill)) {
        stampModules(image, size, scale, code, keys, shape, solid->color());
        return;
    }
    QImage layer(image.size(), QImage::Format_ARGB32_Premultiplied);
    layer.setDevicePixelRatio(image.devicePixelRatio());
    layer.fill(Qt::transparent);
    stampModules(layer, size, scale, code, keys, shape, Qt::white);
    {
        QPainter painter(&layer);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        fill.fill(painter, QRectF(QPointF(0, 0), size));
    }
    QPainter painter(&image);
    painter.drawImage(QPointF(0, 0), layer);
}

} // namespace

bool drawSnapped(QImage& image, const QSizeF& size, double scale, const QRCode& code,
                 const QRCodeDesign& design) {
    const QRCodeStyle& style = design.style;
    const QRCodeShape& shape = design.shape;
    const bool drawOff = style.offPixels && shape.offPixels;
    if (code.pixelSize() == 0 || image.format() != QImage::Format_ARGB32_Premultiplied)
        return false;
    const auto onKeys = figureKeys(*shape.onPixels, code.boolMatrix(), true);
    const auto offKeys =
        drawOff ? figureKeys(*shape.offPixels, code.boolMatrix(), false) : std::vector<int>();
    if (!onKeys || !offKeys)
        return false;

    image.fill(Qt::transparent);
    {
        // Background, eyes and pupils are few, small figures: the general renderer is quick here.
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF box(QPointF(0, 0), size);
        (style.background ? style.background : QRCodeFillStyle::clear())->fill(painter, box);
        const QRCodeFillStylePtr& eyeFill = style.eye ? style.eye : style.onPixels;
        eyeFill->fill(painter, box, code.path(size, QRCodeComponents::eyeOuter(), shape));
        (style.pupil ? style.pupil : eyeFill)
            ->fill(painter, box, code.path(size, QRCodeComponents::eyePupil(), shape));
    }
    paintModules(image, size, scale, code, *onKeys, *shape.onPixels, *style.onPixels);
    if (drawOff)
        paintModules(image, size, scale, code, *offKeys, *shape.offPixels, *style.offPixels);
    return true;
}

namespace {

quint32 crc32(const char* data, qsizetype size, quint32 crc = 0xffffffffu) {
    static const auto table = [] {
        std::array<quint32, 256> t{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    for (qsizetype i = 0; i < size; ++i)
        crc = table[(crc ^ quint8(data[i])) & 0xff] ^ (crc >> 8);
    return crc;
}

void appendBigEndian(QByteArray& out, quint32 v) {
    const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    out.append(b, 4);
}

void appendChunk(QByteArray& out, const char* type, const QByteArray& payload) {
    appendBigEndian(out, quint32(payload.size()));
    const qsizetype start = out.size();
    out.append(type, 4);
    out.append(payload);
    appendBigEndian(out, crc32(out.constData() + start, out.size() - start) ^ 0xffffffffu);
}

} // namespace

std::optional<QByteArray> encodePng(const QImage& source) {
    if (source.isNull())
        return std::nullopt;
    QImage image =
        source.format() == QImage::Format_ARGB32_Premultiplied || source.format() == QImage::Format_ARGB32
            ? source
            : source.convertToFormat(QImage::Format_ARGB32);
    const int w = image.width();
    const int h = image.height();
    bool opaque = true;
    bool grey = true;
    for (int y = 0; y < h && (opaque || grey); ++y) {
        const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y));
        quint32 alphaAnd = 0xffffffffu;
        quint32 colourDiff = 0;
        for (int x = 0; x < w; ++x) {
            const quint32 p = line[x];
            alphaAnd &= p;
            colourDiff |= ((p >> 16) ^ (p >> 8)) & 0xff;
            colourDiff |= ((p >> 8) ^ p) & 0xff;
        }
        opaque = opaque && (alphaAnd >> 24) == 0xff;
        grey = grey && colourDiff == 0;
    }
    // PNG stores straight alpha; for opaque pixels premultiplied and straight are the same.
    if (!opaque && image.format() != QImage::Format_ARGB32)
        image = image.convertToFormat(QImage::Format_ARGB32);
    // Colour types: 0 grey, 4 grey + alpha, 2 RGB, 6 RGBA.
    const int channels = grey ? (opaque ? 1 : 2) : (opaque ? 3 : 4);
    const char colorType = grey ? (opaque ? 0 : 4) : (opaque ? 2 : 6);
    const qsizetype stride = qsizetype(w) * channels + 1;
    QByteArray raw(stride * h, Qt::Uninitialized);
    const auto pack = [&](auto channelCount) {
        constexpr int n = decltype(channelCount)::value;
        const quint8* previous = nullptr;
        for (int y = 0; y < h; ++y) {
            const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y));
            auto* row = reinterpret_cast<quint8*>(raw.data() + stride * y);
            auto* out = row + 1;
            for (int x = 0; x < w; ++x) {
                const quint32 p = line[x];
                if constexpr (n == 1) {
                    *out++ = quint8(p);
                } else if constexpr (n == 2) {
                    *out++ = quint8(p);
                    *out++ = quint8(p >> 24);
                } else {
                    *out++ = quint8(p >> 16);
                    *out++ = quint8(p >> 8);
                    *out++ = quint8(p);
                    if constexpr (n == 4)
                        *out++ = quint8(p >> 24);
                }
            }
            row[0] = 0;
            // Rows equal to the one above are frequent; filter "up" turns them into zeros, which
            // deflate skims over. Other rows stay unfiltered.
            if (previous && std::memcmp(previous + 1, row + 1, std::size_t(stride - 1)) == 0) {
                std::memset(row + 1, 0, std::size_t(stride - 1));
                row[0] = 2;
                continue; // previous stays the last unfiltered copy of this content
            }
            previous = row;
        }
    };
    switch (channels) {
    case 1:
        pack(std::integral_constant<int, 1>());
        break;
    case 2:
        pack(std::integral_constant<int, 2>());
        break;
    case 3:
        pack(std::integral_constant<int, 3>());
        break;
    default:
        pack(std::integral_constant<int, 4>());
        break;
    }
    // qCompress is a zlib stream behind a four-byte length prefix; level 1 is the fast setting.
    const QByteArray compressed = qCompress(raw, 1);
    if (compressed.size() < 4)
        return std::nullopt;

    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    QByteArray header;
    appendBigEndian(header, quint32(w));
    appendBigEndian(header, quint32(h));
    header.append(char(8));
    header.append(colorType);
    header.append(3, char(0)); // deflate, adaptive filtering, no interlace
    appendChunk(png, "IHDR", header);
    appendChunk(png, "IDAT", compressed.mid(4));
    appendChunk(png, "IEND", QByteArray());
    return png;
}

} // namespace qrraster
