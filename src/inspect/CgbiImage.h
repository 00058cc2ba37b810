#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <optional>

// Apple's "CgBI" PNG variant, found in the icons of nearly every iOS package: an extra CgBI
// chunk before IHDR, IDAT data as one raw deflate stream without zlib header, pixels in BGRA
// order with premultiplied alpha. Standard decoders refuse these files.
class CgbiImage {
public:
    static bool isCgbi(const QByteArray& bytes);

    // Decodes a CgBI PNG into an ordinary image (Format_ARGB32_Premultiplied); nothing when the
    // bytes are not a CgBI PNG or are damaged.
    static std::optional<QImage> decode(const QByteArray& bytes);

    // Loads any PNG or other image Qt reads, CgBI included. A null image when it does not decode.
    static QImage load(const QString& path);

    // Rewrites a CgBI file in place as a standard PNG; true when the file is now a standard
    // image (also when it already was one).
    static bool normalizeFile(const QString& path);
};
