#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

// Formats structured content into the bytes a code carries.
class QRCodeMessageFormatter {
public:
    virtual ~QRCodeMessageFormatter() = default;
    const QByteArray& data() const { return m_data; }

protected:
    QRCodeMessageFormatter() = default;
    QByteArray m_data;
};

// UTF-8 bytes of a text; nothing when the text cannot be encoded losslessly.
class QRCodeMessageText : public QRCodeMessageFormatter {
public:
    static std::optional<QRCodeMessageText> create(const QString& text);

private:
    QRCodeMessageText() = default;
};

class QRCodeMessageLink : public QRCodeMessageFormatter {
public:
    explicit QRCodeMessageLink(const QUrl& url);
    // Nothing when the text is not a valid URL.
    static std::optional<QRCodeMessageLink> withString(const QString& text);
};

// A mailto URL with optional subject and body.
class QRCodeMessageMail : public QRCodeMessageFormatter {
public:
    QRCodeMessageMail(const QString& mailTo, const std::optional<QString>& subject = std::nullopt,
                      const std::optional<QString>& body = std::nullopt);
};

// A TEL: URI of the numeric characters and "+" of the text.
class QRCodeMessagePhone : public QRCodeMessageFormatter {
public:
    explicit QRCodeMessagePhone(const QString& number);
};

class QRCodeMessageData : public QRCodeMessageFormatter {
public:
    explicit QRCodeMessageData(const QByteArray& bytes) { m_data = bytes; }
};

struct QRCodeMessageContactName {
    std::optional<QString> lastName;
    std::optional<QString> firstName;
    std::optional<QString> additionalName;
    std::optional<QString> namePrefix;
    std::optional<QString> nameSuffix;
};

struct QRCodeMessageContactAddress {
    QString type;
    std::optional<QString> postOfficeAddress;
    std::optional<QString> extendedAddress;
    std::optional<QString> street;
    std::optional<QString> locality;
    std::optional<QString> region;
    std::optional<QString> postalCode;
    std::optional<QString> country;
};

// A vCard 3.0 contact card.
class QRCodeMessageContact : public QRCodeMessageFormatter {
public:
    QRCodeMessageContact(const QRCodeMessageContactName& name, const QString& formattedName,
                         const QList<QRCodeMessageContactAddress>& addresses = {},
                         const std::optional<QString>& organization = std::nullopt,
                         const std::optional<QString>& title = std::nullopt,
                         const QStringList& telephone = {}, const QStringList& email = {},
                         const QStringList& urls = {}, const QStringList& notes = {});
};

// Lossless UTF-8; nothing for text with unpaired surrogates.
std::optional<QByteArray> qrcodeUtf8(const QString& text);
