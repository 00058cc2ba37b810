#pragma once

#include "qrcode/ErrorCorrection.h"
#include "qrcode/QRCodeBoolMatrix.h"
#include "qrcode/QRCodeComponents.h"
#include "qrcode/QRCodeEngine.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QPainterPath>
#include <QSizeF>
#include <QString>

#include <memory>
#include <optional>

class QRCodeMessageFormatter;
class QRCodeDesign;
class QRCodeShape;
class QColor;
class QPainter;
class QClipboard;

// One detected code: the text (UTF-8 or the detector's guess) and the raw payload bytes.
struct QRCodeDetection {
    QString text;
    QByteArray bytes;
    QString errorCorrection; // "L", "M", "Q" or "H"
};

// Bytes beyond what the largest code (version 40, byte mode) holds at a level.
struct QRCodeTooMuchData {
    qsizetype bytes = 0;
    qsizetype capacity = 0;
    ErrorCorrection level = DefaultErrorCorrection;
    // "too much data for a QR code: 3,000 bytes, at most 2,953 bytes at level L"
    QString message() const;
};

// Whether a standard decoder reads a design: zxing-cpp as phones' scanner apps use it, on the
// design drawn small and large on white, with none of the retries DetectQRCodes adds.
struct QRCodeScanCheck {
    QList<int> unreadableSizes; // sides in pixels of the drawings it did not read
    bool reads() const { return unreadableSizes.isEmpty(); }
    // "a standard decoder does not read it at 87 px nor at 700 px"; empty when it reads.
    QString problem() const;
};

// Owns the current module matrix and the engine that makes it.
class QRCode {
public:
    using Components = QRCodeComponents;
    static constexpr double DefaultPDFResolution = 72.0;

    // The default engine, updated with the empty message at the default level.
    QRCode();
    explicit QRCode(std::shared_ptr<const QRCodeEngine> generator);
    QRCode(const QByteArray& data, ErrorCorrection level,
           std::shared_ptr<const QRCodeEngine> generator = nullptr);
    static QRCode withText(const QString& text, ErrorCorrection level,
                           std::shared_ptr<const QRCodeEngine> generator = nullptr);
    static QRCode withMessage(const QRCodeMessageFormatter& message, ErrorCorrection level,
                              std::shared_ptr<const QRCodeEngine> generator = nullptr);

    static std::shared_ptr<const QRCodeEngine> defaultGenerator();

    // A failed encode keeps the previous matrix; when the bytes were too many for any code at
    // that level the reason comes back.
    std::optional<QRCodeTooMuchData> update(const QByteArray& data, ErrorCorrection level);
    std::optional<QRCodeTooMuchData> updateWithText(const QString& text, ErrorCorrection level);
    std::optional<QRCodeTooMuchData> updateWithMessage(const QRCodeMessageFormatter& message,
                                                       ErrorCorrection level);

    // Bytes the largest code holds at a level: 2,953 (L), 2,331 (M), 1,663 (Q), 1,273 (H).
    static qsizetype capacity(ErrorCorrection level);
    // The most characters any code holds in any mode (digits, level L). Every character takes at
    // least a byte, so longer data is refused without asking the engine, which would spend
    // seconds and gigabytes on megabytes of it before giving up.
    static constexpr qsizetype maxCharacters = 7089;

    const QRCodeBoolMatrix& boolMatrix() const { return *m_current; }
    std::shared_ptr<const QRCodeBoolMatrix> sharedMatrix() const { return m_current; }
    int pixelSize() const { return m_current->dimension(); }

    QString asciiRepresentation() const;
    QString smallAsciiRepresentation() const;

    // A fresh default engine sharing this code's matrix.
    QRCode copy() const;

    const std::shared_ptr<const QRCodeEngine>& generator() const { return m_generator; }
    void setGenerator(std::shared_ptr<const QRCodeEngine> generator);

    // Texts of every code zxing-cpp finds in the image, in its order; empty when none.
    static QStringList DetectQRCodes(const QImage& image);
    static QList<QRCodeDetection> DetectQRCodeDetails(const QImage& image);
    // Draws the current code with the design and decodes it back as a phone would; it reads when
    // the decoder finds exactly these bytes.
    QRCodeScanCheck scanCheck(const QRCodeDesign& design, const QByteArray& data) const;

    // Rendering and export (QRCodeRendering.cpp).
    QPainterPath path(const QSizeF& size, Components components, const QRCodeShape& shape) const;
    void draw(QPainter& painter, const QRectF& rect, const QRCodeDesign& design) const;
    std::optional<QImage> bitmap(const QSizeF& size, const QRCodeDesign& design) const;
    std::optional<QImage> bitmap(double dimension, const QRCodeDesign& design) const {
        return bitmap(QSizeF(dimension, dimension), design);
    }
    std::optional<QImage> image(const QSizeF& size, double scale, const QRCodeDesign& design) const;
    std::optional<QByteArray> pngData(double dimension, const QRCodeDesign& design) const;
    std::optional<QByteArray> pdfData(const QSizeF& size, double resolution,
                                      const QRCodeDesign& design) const;
    QString svg(int outputDimension, int border, const QColor& foreground,
                const std::optional<QColor>& background) const;
    void addToClipboard(QClipboard* clipboard, const QSizeF& size, double scale,
                        const QRCodeDesign& design) const;

private:
    std::shared_ptr<const QRCodeEngine> m_generator;
    std::shared_ptr<const QRCodeBoolMatrix> m_current;
};
