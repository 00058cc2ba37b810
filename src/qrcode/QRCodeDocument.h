#pragma once

#include "qrcode/QRCode.h"
#include "qrcode/QRCodeDesign.h"

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <optional>
#include <variant>

class QRCodeMessageFormatter;

// Failure of reading a stored document.
struct QRCodeDocumentError {
    QString domain = QStringLiteral("QRCodeDocument");
    int code = -1;
    QString localizedDescription = QStringLiteral("Unable to decode object");
};

// A styled code: message bytes, error-correction level and design. Changing the bytes or the
// level regenerates the matrix straight away.
class QRCodeDocument {
public:
    QRCodeDocument() : QRCodeDocument(nullptr, QByteArray(), DefaultErrorCorrection) {}
    explicit QRCodeDocument(ErrorCorrection level) : QRCodeDocument(nullptr, QByteArray(), level) {}
    QRCodeDocument(const QByteArray& data, ErrorCorrection level) : QRCodeDocument(nullptr, data, level) {}
    QRCodeDocument(std::shared_ptr<const QRCodeEngine> generator, const QByteArray& data,
                   ErrorCorrection level);
    static QRCodeDocument withUtf8String(const QString& text, ErrorCorrection level = DefaultErrorCorrection,
                                         std::shared_ptr<const QRCodeEngine> generator = nullptr);
    static QRCodeDocument withMessage(const QRCodeMessageFormatter& message,
                                      ErrorCorrection level = DefaultErrorCorrection);

    // The document the hosting jobs and the details pane show for an install link: squircle
    // modules and eyes, default style and level. A link too long for a code gives a document
    // with no code (dimension 0) and tooMuchData() set, never the code of another text.
    static QRCodeDocument forLink(const QString& link);
    // That document as PNG bytes at 700 × 700, scale 1; nothing when the link does not fit.
    static std::optional<QByteArray> linkPngData(const QString& link);

    ErrorCorrection errorCorrection() const { return m_errorCorrection; }
    void setErrorCorrection(ErrorCorrection level);
    const QByteArray& data() const { return m_data; }
    void setData(const QByteArray& data);
    std::optional<QString> utf8String() const;
    void setUtf8String(const QString& text);
    const QRCodeDesign& design() const { return m_design; }
    QRCodeDesign& design() { return m_design; }
    void setDesign(const QRCodeDesign& design) { m_design = design; }
    const QRCode& qrcode() const { return m_qrcode; }
    int pixelSize() const { return m_qrcode.pixelSize(); }
    // Set while the data is more than a code holds at the level; the matrix is then the last
    // one that fitted, so callers that show or save the code check this first.
    const std::optional<QRCodeTooMuchData>& tooMuchData() const { return m_tooMuchData; }
    // Whether a standard decoder reads the code as designed (see QRCode::scanCheck).
    QRCodeScanCheck scanCheck() const { return m_qrcode.scanCheck(m_design, m_data); }

    void update(const QByteArray& data, ErrorCorrection level);
    void updateWithText(const QString& text, ErrorCorrection level);
    void updateWithMessage(const QRCodeMessageFormatter& message, ErrorCorrection level);
    void setMessage(const QRCodeMessageFormatter& message);

    // Stored form: {"correction": "Q", "data": Base64, "design": {...}}.
    QVariantMap settings() const;
    QByteArray jsonData() const;
    QString jsonStringFormatted() const;
    static std::variant<QRCodeDocument, QRCodeDocumentError>
    CreateWithJsonData(const QByteArray& json, std::shared_ptr<const QRCodeEngine> generator = nullptr);
    static QRCodeDocument CreateWithSettings(const QVariantMap& settings,
                                             std::shared_ptr<const QRCodeEngine> generator = nullptr);
    // A failed load leaves the document unchanged.
    std::optional<QRCodeDocumentError> loadWithJsonData(const QByteArray& json);
    void loadWithSettings(const QVariantMap& settings);

    // Rendering with the document's own design.
    QPainterPath path(const QSizeF& size, QRCodeComponents components) const {
        return m_qrcode.path(size, components, m_design.shape);
    }
    void draw(QPainter& painter, const QRectF& rect) const { m_qrcode.draw(painter, rect, m_design); }
    std::optional<QImage> bitmap(const QSizeF& size) const { return m_qrcode.bitmap(size, m_design); }
    std::optional<QImage> bitmapWithDimension(double dimension) const {
        return m_qrcode.bitmap(dimension, m_design);
    }
    std::optional<QImage> image(const QSizeF& size, double scale) const {
        return m_qrcode.image(size, scale, m_design);
    }
    std::optional<QImage> imageWithDimension(double dimension, double scale) const {
        return image(QSizeF(dimension, dimension), scale);
    }
    std::optional<QByteArray> pngData(double dimension) const {
        return m_qrcode.pngData(dimension, m_design);
    }
    std::optional<QByteArray> pdfData(const QSizeF& size,
                                      double resolution = QRCode::DefaultPDFResolution) const {
        return m_qrcode.pdfData(size, resolution, m_design);
    }
    std::optional<QByteArray> pdfDataWithDimension(double dimension,
                                                   double resolution = QRCode::DefaultPDFResolution) const {
        return pdfData(QSizeF(dimension, dimension), resolution);
    }
    QString svg(int outputDimension, int border, const QColor& foreground,
                const std::optional<QColor>& background) const {
        return m_qrcode.svg(outputDimension, border, foreground, background);
    }
    void addToClipboard(QClipboard* clipboard, const QSizeF& size, double scale) const {
        m_qrcode.addToClipboard(clipboard, size, scale, m_design);
    }
    const QRCodeBoolMatrix& boolMatrix() const { return m_qrcode.boolMatrix(); }
    QString asciiRepresentation() const { return m_qrcode.asciiRepresentation(); }
    QString smallAsciiRepresentation() const { return m_qrcode.smallAsciiRepresentation(); }

private:
    void regenerate() { m_tooMuchData = m_qrcode.update(m_data, m_errorCorrection); }

    ErrorCorrection m_errorCorrection;
    QByteArray m_data;
    QRCodeDesign m_design;
    QRCode m_qrcode;
    std::optional<QRCodeTooMuchData> m_tooMuchData;
};
