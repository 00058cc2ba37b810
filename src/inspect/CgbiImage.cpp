#include "inspect/CgbiImage.h"

#include <QFile>
#include <QSaveFile>
#include <QtEndian>

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

const char pngSignature[] = "\x89PNG\r\n\x1a\n";
constexpr qsizetype signatureSize = 8;
// Icons are at most 1024 pixels wide; a larger header is refused before allocating for it.
constexpr quint32 maxSide = 4096;

struct Chunk {
    QByteArray type;
    QByteArray data;
};

// Splits the file into chunks (without checking CRCs: the variant's own tools do not keep them
// reliable). Nothing when the structure is broken.
std::optional<QList<Chunk>> readChunks(const QByteArray& bytes) {
    if (bytes.size() < signatureSize || std::memcmp(bytes.constData(), pngSignature, signatureSize) != 0)
        return std::nullopt;
    QList<Chunk> chunks;
    qsizetype pos = signatureSize;
    while (pos + 12 <= bytes.size()) {
        const quint32 length = qFromBigEndian<quint32>(bytes.constData() + pos);
        if (length > quint32(bytes.size() - pos - 12))
            return std::nullopt;
        Chunk chunk{bytes.mid(pos + 4, 4), bytes.mid(pos + 8, length)};
        pos += 12 + qsizetype(length);
        const bool end = chunk.type == "IEND";
        chunks.append(std::move(chunk));
        if (end)
            return chunks;
    }
    return std::nullopt;
}

std::optional<QByteArray> inflateRaw(const QByteArray& input, qsizetype expected) {
    QByteArray out(expected, Qt::Uninitialized);
    z_stream zs{};
    if (inflateInit2(&zs, -15) != Z_OK)
        return std::nullopt;
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.constData()));
    zs.avail_in = uInt(input.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = uInt(out.size());
    const int rc = inflate(&zs, Z_FINISH);
    const qsizetype produced = qsizetype(zs.total_out);
    inflateEnd(&zs);
    if ((rc != Z_STREAM_END && rc != Z_BUF_ERROR) || produced != expected)
        return std::nullopt;
    return out;
}

quint8 paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a);
    const int pb = std::abs(p - b);
    const int pc = std::abs(p - c);
    if (pa <= pb && pa <= pc)
        return quint8(a);
    return quint8(pb <= pc ? b : c);
}

// Undoes the PNG row filters in place; rows are stride bytes long, each after one filter byte.
bool unfilter(QByteArray& raw, quint32 height, qsizetype stride, int bpp, QByteArray& pixels) {
    pixels = QByteArray(qsizetype(height) * stride, '\0');
    const auto* in = reinterpret_cast<const quint8*>(raw.constData());
    auto* out = reinterpret_cast<quint8*>(pixels.data());
    for (quint32 y = 0; y < height; ++y) {
        const quint8 filter = in[qsizetype(y) * (stride + 1)];
        const quint8* src = in + qsizetype(y) * (stride + 1) + 1;
        quint8* row = out + qsizetype(y) * stride;
        const quint8* prev = y ? row - stride : nullptr;
        for (qsizetype x = 0; x < stride; ++x) {
            const int a = x >= bpp ? row[x - bpp] : 0;
            const int b = prev ? prev[x] : 0;
            const int c = (prev && x >= bpp) ? prev[x - bpp] : 0;
            switch (filter) {
            case 0:
                row[x] = src[x];
                break;
            case 1:
                row[x] = quint8(src[x] + a);
                break;
            case 2:
                row[x] = quint8(src[x] + b);
                break;
            case 3:
                row[x] = quint8(src[x] + ((a + b) >> 1));
                break;
            case 4:
                row[x] = quint8(src[x] + paeth(a, b, c));
                break;
            default:
                return false;
            }
        }
    }
    return true;
}

} // namespace

bool CgbiImage::isCgbi(const QByteArray& bytes) {
    return bytes.size() >= signatureSize + 8 &&
           std::memcmp(bytes.constData(), pngSignature, signatureSize) == 0 &&
           bytes.mid(signatureSize + 4, 4) == "CgBI";
}

std::optional<QImage> CgbiImage::decode(const QByteArray& bytes) {
    if (!isCgbi(bytes))
        return std::nullopt;
    const auto chunks = readChunks(bytes);
    if (!chunks)
        return std::nullopt;
    QByteArray header;
    QByteArray idat;
    for (const Chunk& c : *chunks) {
        if (c.type == "IHDR")
            header = c.data;
        else if (c.type == "IDAT")
            idat += c.data;
    }
    if (header.size() != 13 || idat.isEmpty())
        return std::nullopt;
    const quint32 width = qFromBigEndian<quint32>(header.constData());
    const quint32 height = qFromBigEndian<quint32>(header.constData() + 4);
    const quint8 depth = quint8(header.at(8));
    const quint8 colourType = quint8(header.at(9));
    const quint8 interlace = quint8(header.at(12));
    // Apple writes 8-bit RGB or RGBA, never interlaced.
    if (width == 0 || height == 0 || width > maxSide || height > maxSide || depth != 8 || interlace != 0 ||
        (colourType != 6 && colourType != 2))
        return std::nullopt;
    const int bpp = colourType == 6 ? 4 : 3;
    const qsizetype stride = qsizetype(width) * bpp;
    auto raw = inflateRaw(idat, qsizetype(height) * (stride + 1));
    if (!raw)
        return std::nullopt;
    QByteArray pixels;
    if (!unfilter(*raw, height, stride, bpp, pixels))
        return std::nullopt;

    QImage image(int(width), int(height), QImage::Format_ARGB32_Premultiplied);
    const auto* px = reinterpret_cast<const quint8*>(pixels.constData());
    for (quint32 y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(int(y)));
        const quint8* src = px + qsizetype(y) * stride;
        for (quint32 x = 0; x < width; ++x, src += bpp) {
            // Stored as B, G, R[, A] with colour already multiplied by alpha.
            // Clamped so damaged files never yield colour above alpha, which Qt cannot represent.
            const int alpha = bpp == 4 ? src[3] : 255;
            line[x] = qRgba(std::min<int>(src[2], alpha), std::min<int>(src[1], alpha),
                            std::min<int>(src[0], alpha), alpha);
        }
    }
    return image;
}

QImage CgbiImage::load(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    if (isCgbi(bytes))
        return decode(bytes).value_or(QImage());
    return QImage::fromData(bytes);
}

bool CgbiImage::normalizeFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    file.close();
    if (!isCgbi(bytes))
        return !QImage::fromData(bytes).isNull();
    const auto image = decode(bytes);
    if (!image)
        return false;
    QSaveFile out(path);
    return out.open(QIODevice::WriteOnly) && image->save(&out, "PNG") && out.commit();
}
