#include "qrcode/QRCodeDocument.h"

#include "qrcode/QRCodeMessage.h"
#include "qrcode/QRCodeSettings.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

QRCodeDocument::QRCodeDocument(std::shared_ptr<const QRCodeEngine> generator, const QByteArray& data,
                               ErrorCorrection level)
    : m_errorCorrection(level), m_data(data), m_qrcode(std::move(generator)) {
    regenerate();
}

QRCodeDocument QRCodeDocument::withUtf8String(const QString& text, ErrorCorrection level,
                                              std::shared_ptr<const QRCodeEngine> generator) {
    return QRCodeDocument(std::move(generator), qrcodeUtf8(text).value_or(QByteArray()), level);
}

QRCodeDocument QRCodeDocument::withMessage(const QRCodeMessageFormatter& message, ErrorCorrection level) {
    return QRCodeDocument(message.data(), level);
}

QRCodeDocument QRCodeDocument::forLink(const QString& link) {
    QRCodeDocument doc;
    doc.setData(qrcodeUtf8(link).value_or(QByteArray()));
    doc.design().shape.onPixels = std::make_shared<QRCodePixelShapeSquircle>(0);
    doc.design().shape.eye = std::make_shared<QRCodeEyeShapeSquircle>();
    if (doc.m_tooMuchData) {
        // Without this the document would still hold the empty message's code.
        doc.m_qrcode = QRCode(std::make_shared<QRCodeGenerator_None>());
        doc.m_qrcode.setGenerator(nullptr);
    }
    return doc;
}

std::optional<QByteArray> QRCodeDocument::linkPngData(const QString& link) {
    const QRCodeDocument doc = forLink(link);
    if (doc.m_tooMuchData)
        return std::nullopt;
    return doc.pngData(700);
}

void QRCodeDocument::setErrorCorrection(ErrorCorrection level) {
    m_errorCorrection = level;
    regenerate();
}

void QRCodeDocument::setData(const QByteArray& data) {
    m_data = data;
    regenerate();
}

std::optional<QString> QRCodeDocument::utf8String() const {
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = decoder(m_data);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

void QRCodeDocument::setUtf8String(const QString& text) {
    setData(qrcodeUtf8(text).value_or(QByteArray()));
}

void QRCodeDocument::update(const QByteArray& data, ErrorCorrection level) {
    m_data = data;
    m_errorCorrection = level;
    regenerate();
}

void QRCodeDocument::updateWithText(const QString& text, ErrorCorrection level) {
    update(qrcodeUtf8(text).value_or(QByteArray()), level);
}

void QRCodeDocument::updateWithMessage(const QRCodeMessageFormatter& message, ErrorCorrection level) {
    update(message.data(), level);
}

void QRCodeDocument::setMessage(const QRCodeMessageFormatter& message) {
    setData(message.data());
}

QVariantMap QRCodeDocument::settings() const {
    return {{QStringLiteral("correction"), errorCorrectionLetter(m_errorCorrection)},
            {QStringLiteral("data"), QString::fromLatin1(m_data.toBase64())},
            {QStringLiteral("design"), m_design.settings()}};
}

QByteArray QRCodeDocument::jsonData() const {
    return QJsonDocument(QJsonObject::fromVariantMap(settings())).toJson(QJsonDocument::Compact);
}

QString QRCodeDocument::jsonStringFormatted() const {
    // QJsonObject keeps its keys sorted.
    return QString::fromUtf8(
        QJsonDocument(QJsonObject::fromVariantMap(settings())).toJson(QJsonDocument::Indented));
}

void QRCodeDocument::loadWithSettings(const QVariantMap& settings) {
    QByteArray data;
    if (const auto text = qrsettings::string(settings, QStringLiteral("data"))) {
        const QByteArray encoded = text->toLatin1();
        // Strict standard Base64: whole groups of four, no stray characters.
        if (encoded.size() % 4 == 0) {
            const auto decoded =
                QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
            if (decoded.decodingStatus == QByteArray::Base64DecodingStatus::Ok &&
                text->size() == encoded.size())
                data = decoded.decoded;
        }
    }
    m_data = data;
    regenerate();

    ErrorCorrection level = DefaultErrorCorrection;
    if (const auto letter = qrsettings::string(settings, QStringLiteral("correction"));
        letter && !letter->isEmpty()) {
        switch (letter->at(0).toLower().unicode()) {
        case u'l':
            level = ErrorCorrection::low;
            break;
        case u'm':
            level = ErrorCorrection::medium;
            break;
        case u'q':
            level = ErrorCorrection::quantize;
            break;
        case u'h':
            level = ErrorCorrection::high;
            break;
        default:
            break;
        }
    }
    m_errorCorrection = level;
    regenerate();

    if (const auto design = qrsettings::dictionary(settings, QStringLiteral("design"))) {
        m_design = QRCodeDesign::CreateWithSettings(*design);
        regenerate();
    }
}

std::optional<QRCodeDocumentError> QRCodeDocument::loadWithJsonData(const QByteArray& json) {
    const QJsonDocument doc = QJsonDocument::fromJson(json);
    if (!doc.isObject())
        return QRCodeDocumentError{};
    loadWithSettings(doc.object().toVariantMap());
    return std::nullopt;
}

QRCodeDocument QRCodeDocument::CreateWithSettings(const QVariantMap& settings,
                                                  std::shared_ptr<const QRCodeEngine> generator) {
    QRCodeDocument doc(std::move(generator), QByteArray(), DefaultErrorCorrection);
    doc.loadWithSettings(settings);
    return doc;
}

std::variant<QRCodeDocument, QRCodeDocumentError>
QRCodeDocument::CreateWithJsonData(const QByteArray& json, std::shared_ptr<const QRCodeEngine> generator) {
    const QJsonDocument doc = QJsonDocument::fromJson(json);
    if (!doc.isObject())
        return QRCodeDocumentError{};
    return CreateWithSettings(doc.object().toVariantMap(), std::move(generator));
}
