#pragma once

#include "qrcode/QRCodeDocument.h"

#include <QPoint>
#include <QWidget>

class QMimeData;
class QRCodeMessageFormatter;

// Shows a QR document, scaled to the widget, and can be dragged out as PDF, PNG or a PDF file.
class QRCodeView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString ibPixelShape READ ibPixelShape WRITE setIbPixelShape)
    Q_PROPERTY(QString ibEyeShape READ ibEyeShape WRITE setIbEyeShape)
    Q_PROPERTY(QString ibCorrectionLevel READ ibCorrectionLevel WRITE setIbCorrectionLevel)
    Q_PROPERTY(QString ibTextContent READ ibTextContent WRITE setIbTextContent)
    Q_PROPERTY(QColor ibPixelColor READ ibPixelColor WRITE setIbPixelColor)
    Q_PROPERTY(QColor ibEyeColor READ ibEyeColor WRITE setIbEyeColor)
    Q_PROPERTY(QColor ibPupilColor READ ibPupilColor WRITE setIbPupilColor)
    Q_PROPERTY(QColor ibBackgroundColor READ ibBackgroundColor WRITE setIbBackgroundColor)
    Q_PROPERTY(bool supportsDrag READ supportsDrag WRITE setSupportsDrag)

public:
    explicit QRCodeView(QWidget* parent = nullptr);

    const QRCodeDocument& document() const { return m_document; }
    void setDocument(const QRCodeDocument& document);
    ErrorCorrection errorCorrection() const { return m_document.errorCorrection(); }
    void setErrorCorrection(ErrorCorrection level);
    QByteArray data() const { return m_document.data(); }
    void setData(const QByteArray& data);
    const QRCodeDesign& design() const { return m_document.design(); }
    void setDesign(const QRCodeDesign& design);
    int pixelSize() const { return m_document.pixelSize(); }

    // False when the text cannot be encoded as UTF-8.
    bool setString(const QString& text);
    void setMessage(const QRCodeMessageFormatter& message);

    bool supportsDrag() const { return m_supportsDrag; }
    void setSupportsDrag(bool on) { m_supportsDrag = on; }
    QSizeF dragImageSize() const { return m_dragImageSize; }
    void setDragImageSize(const QSizeF& size) { m_dragImageSize = size; }
    // Where a dragged-out "Dropped QRCode.pdf" is written (a temporary folder by default).
    QString dropFolder() const { return m_dropFolder; }
    void setDropFolder(const QString& folder) { m_dropFolder = folder; }

    // The drag payload; every representation is produced only when a drop target asks for it.
    QMimeData* createDragData() const;

    QString ibPixelShape() const { return m_ibPixelShape; }
    void setIbPixelShape(const QString& name);
    QString ibEyeShape() const { return m_ibEyeShape; }
    void setIbEyeShape(const QString& name);
    QString ibCorrectionLevel() const { return errorCorrectionLetter(errorCorrection()); }
    void setIbCorrectionLevel(const QString& letter);
    QString ibTextContent() const { return m_document.utf8String().value_or(QString()); }
    void setIbTextContent(const QString& text) { setString(text); }
    QColor ibPixelColor() const;
    void setIbPixelColor(const QColor& color);
    QColor ibEyeColor() const;
    void setIbEyeColor(const QColor& color);
    QColor ibPupilColor() const;
    void setIbPupilColor(const QColor& color);
    QColor ibBackgroundColor() const;
    void setIbBackgroundColor(const QColor& color);

    QSize sizeHint() const override { return {256, 256}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void applyShapeNames();

    QRCodeDocument m_document;
    bool m_supportsDrag = false;
    QSizeF m_dragImageSize{512, 512};
    QString m_dropFolder;
    QString m_ibPixelShape;
    QString m_ibEyeShape;
    QPoint m_pressPosition;
    bool m_pressed = false;
};
