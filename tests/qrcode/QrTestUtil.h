#pragma once

#include "qrcode/QRCode.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <memory>

#include "support/TestSupport.h"

namespace qrtest {

// An engine that hands back a fixed matrix, so geometry tests know every module.
class FixedEngine : public QRCodeEngine {
public:
    explicit FixedEngine(QRCodeBoolMatrix m) : m_matrix(std::move(m)) {}
    std::optional<QRCodeBoolMatrix> generate(const QByteArray&, ErrorCorrection) const override {
        return m_matrix;
    }

private:
    QRCodeBoolMatrix m_matrix;
};

inline QRCode codeFor(const QRCodeBoolMatrix& m) {
    return QRCode(std::make_shared<FixedEngine>(m));
}

// The matrix drawn plainly, scale pixels per module, with an extra light margin.
inline QImage plainImage(const QRCodeBoolMatrix& m, int scale = 4, int margin = 3) {
    const int d = m.dimension();
    QImage image((d + 2 * margin) * scale, (d + 2 * margin) * scale, QImage::Format_Grayscale8);
    image.fill(255);
    for (int r = 0; r < d; ++r)
        for (int c = 0; c < d; ++c)
            if (m(r, c))
                for (int y = 0; y < scale; ++y)
                    for (int x = 0; x < scale; ++x)
                        image.setPixel((c + margin) * scale + x, (r + margin) * scale + y, qRgb(0, 0, 0));
    return image;
}

} // namespace qrtest
