#include "qrcode/widgets/QRCodeView.h"

#include "qrcode/QRCodeMessage.h"
#include "qrcode/QRCodeRaster.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QDrag>
#include <QImageWriter>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

namespace {

const QString kPdf = QStringLiteral("application/pdf");
const QString kPng = QStringLiteral("image/png");
const QString kTiff = QStringLiteral("image/tiff");
const QString kUriList = QStringLiteral("text/uri-list");

// Produces each representation only when the drop target asks for it.
class QRCodeDragData : public QMimeData {
public:
    QRCodeDragData(QRCodeDocument document, QSizeF size, QString dropFolder)
        : m_document(std::move(document)), m_size(size), m_dropFolder(std::move(dropFolder)) {}

    QStringList formats() const override {
        QStringList list{kPdf, kPng, kUriList};
        if (QImageWriter::supportedImageFormats().contains("tiff"))
            list.append(kTiff);
        return list;
    }

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType) const override {
        if (mimeType == kPdf)
            return m_document.pdfData(m_size).value_or(QByteArray());
        if (mimeType == kPng) {
            const auto image = m_document.image(m_size, 1);
            return image ? qrraster::encodePng(*image).value_or(QByteArray()) : QByteArray();
        }
        if (mimeType == kTiff) {
            const auto image = m_document.image(m_size, 1);
            QByteArray bytes;
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            if (!image || !image->save(&buffer, "TIFF"))
                return {};
            return bytes;
        }
        if (mimeType == kUriList) {
            const auto pdf = m_document.pdfData(m_size);
            if (!pdf || !QDir().mkpath(m_dropFolder))
                return {};
            const QString path = QDir(m_dropFolder).filePath(QStringLiteral("Dropped QRCode.pdf"));
            QSaveFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(*pdf) != pdf->size() || !file.commit())
                return {};
            return QVariant(QList<QVariant>{QUrl::fromLocalFile(path)});
        }
        return {};
    }

private:
    QRCodeDocument m_document;
    QSizeF m_size;
    QString m_dropFolder;
};

QColor solidColorOr(const QRCodeFillStylePtr& fill, const QColor& fallback) {
    const auto* solid = dynamic_cast<const QRCodeFillStyleSolid*>(fill.get());
    return solid ? solid->color() : fallback;
}

} // namespace

QRCodeView::QRCodeView(QWidget* parent)
    : QWidget(parent), m_dropFolder(QStandardPaths::writableLocation(QStandardPaths::TempLocation) +
                                    QStringLiteral("/vantry-drag")) {
    applyShapeNames();
}

void QRCodeView::setDocument(const QRCodeDocument& document) {
    m_document = document;
    update();
}

void QRCodeView::setErrorCorrection(ErrorCorrection level) {
    m_document.setErrorCorrection(level);
    update();
}

void QRCodeView::setData(const QByteArray& data) {
    m_document.setData(data);
    update();
}

void QRCodeView::setDesign(const QRCodeDesign& design) {
    m_document.setDesign(design);
    update();
}

bool QRCodeView::setString(const QString& text) {
    const auto bytes = qrcodeUtf8(text);
    if (!bytes)
        return false;
    setData(*bytes);
    return true;
}

void QRCodeView::setMessage(const QRCodeMessageFormatter& message) {
    setData(message.data());
}

void QRCodeView::applyShapeNames() {
    auto pixel = QRCodePixelShapeFactory::shared().named(m_ibPixelShape);
    m_document.design().shape.onPixels = pixel ? pixel : std::make_shared<QRCodePixelShapeSquare>(0);
    auto eye = QRCodeEyeShapeFactory::shared().named(m_ibEyeShape);
    m_document.design().shape.eye = eye ? eye : std::make_shared<QRCodeEyeStyleSquare>();
    m_document.setData(m_document.data());
    update();
}

void QRCodeView::setIbPixelShape(const QString& name) {
    m_ibPixelShape = name;
    applyShapeNames();
}

void QRCodeView::setIbEyeShape(const QString& name) {
    m_ibEyeShape = name;
    applyShapeNames();
}

void QRCodeView::setIbCorrectionLevel(const QString& letter) {
    const int index =
        QStringList{QStringLiteral("L"), QStringLiteral("M"), QStringLiteral("Q"), QStringLiteral("H")}
            .indexOf(letter.toUpper());
    if (index >= 0)
        setErrorCorrection(*errorCorrectionFromInt(index));
}

QColor QRCodeView::ibPixelColor() const {
    return solidColorOr(design().style.onPixels, Qt::black);
}
QColor QRCodeView::ibEyeColor() const {
    return solidColorOr(design().style.eye, Qt::black);
}
QColor QRCodeView::ibPupilColor() const {
    return solidColorOr(design().style.pupil, Qt::black);
}
QColor QRCodeView::ibBackgroundColor() const {
    return solidColorOr(design().style.background, Qt::white);
}

void QRCodeView::setIbPixelColor(const QColor& color) {
    m_document.design().style.onPixels = std::make_shared<QRCodeFillStyleSolid>(color);
    update();
}
void QRCodeView::setIbEyeColor(const QColor& color) {
    m_document.design().style.eye = std::make_shared<QRCodeFillStyleSolid>(color);
    update();
}
void QRCodeView::setIbPupilColor(const QColor& color) {
    m_document.design().style.pupil = std::make_shared<QRCodeFillStyleSolid>(color);
    update();
}
void QRCodeView::setIbBackgroundColor(const QColor& color) {
    m_document.design().style.background = std::make_shared<QRCodeFillStyleSolid>(color);
    update();
}

QMimeData* QRCodeView::createDragData() const {
    return new QRCodeDragData(m_document, m_dragImageSize, m_dropFolder);
}

void QRCodeView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    m_document.draw(painter, QRectF(rect()));
}

void QRCodeView::mousePressEvent(QMouseEvent* event) {
    m_pressed = event->button() == Qt::LeftButton;
    m_pressPosition = event->position().toPoint();
    QWidget::mousePressEvent(event);
}

void QRCodeView::mouseMoveEvent(QMouseEvent* event) {
    if (!m_supportsDrag || !m_pressed ||
        (event->position().toPoint() - m_pressPosition).manhattanLength() < QApplication::startDragDistance())
        return;
    m_pressed = false;
    auto* drag = new QDrag(this);
    drag->setMimeData(createDragData());
    if (const auto image = m_document.image(QSizeF(128, 128), 2))
        drag->setPixmap(QPixmap::fromImage(*image));
    drag->exec(Qt::CopyAction);
}
