#include "qrcode/QRCodeMessage.h"

#include <QRegularExpression>

std::optional<QByteArray> qrcodeUtf8(const QString& text) {
    // Qt's encoder silently substitutes unpaired surrogates; that would be a lossy conversion.
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text.at(i);
        if (ch.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (ch.isSurrogate())
            return std::nullopt;
    }
    return text.toUtf8();
}

namespace {
QByteArray utf8OrEmpty(const QString& text) {
    return qrcodeUtf8(text).value_or(QByteArray());
}

// The URL query character set: unreserved marks, sub-delimiters, ":", "/", "?" and "@" stay.
QByteArray percentEncodeQuery(const QString& text) {
    static const QByteArray allowed = QByteArrayLiteral("-._~!$&'()*+,;=:/?@");
    const QByteArray bytes = utf8OrEmpty(text);
    QByteArray out;
    out.reserve(bytes.size() * 3);
    static const char hex[] = "0123456789ABCDEF";
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') ||
            allowed.contains(ch)) {
            out.append(ch);
        } else {
            out.append('%');
            out.append(hex[b >> 4]);
            out.append(hex[b & 15]);
        }
    }
    return out;
}
} // namespace

std::optional<QRCodeMessageText> QRCodeMessageText::create(const QString& text) {
    const auto bytes = qrcodeUtf8(text);
    if (!bytes)
        return std::nullopt;
    QRCodeMessageText message;
    message.m_data = *bytes;
    return message;
}

QRCodeMessageLink::QRCodeMessageLink(const QUrl& url) {
    m_data = url.toEncoded();
}

std::optional<QRCodeMessageLink> QRCodeMessageLink::withString(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    if (text.isEmpty() || !url.isValid())
        return std::nullopt;
    return QRCodeMessageLink(url);
}

QRCodeMessageMail::QRCodeMessageMail(const QString& mailTo, const std::optional<QString>& subject,
                                     const std::optional<QString>& body) {
    m_data = QByteArrayLiteral("mailto:") + percentEncodeQuery(mailTo);
    QList<QByteArray> items;
    if (subject)
        items.append(QByteArrayLiteral("subject=") + percentEncodeQuery(*subject));
    if (body)
        items.append(QByteArrayLiteral("body=") + percentEncodeQuery(*body));
    const QByteArray query = items.join('&');
    if (!query.isEmpty())
        m_data += '?' + query;
}

QRCodeMessagePhone::QRCodeMessagePhone(const QString& number) {
    QString kept;
    for (const char32_t cp : number.toUcs4()) {
        if (cp == U'+' || QChar::isNumber(cp))
            kept.append(QString::fromUcs4(&cp, 1));
    }
    m_data = QByteArrayLiteral("TEL:") + utf8OrEmpty(kept);
}

QRCodeMessageContact::QRCodeMessageContact(const QRCodeMessageContactName& name, const QString& formattedName,
                                           const QList<QRCodeMessageContactAddress>& addresses,
                                           const std::optional<QString>& organization,
                                           const std::optional<QString>& title, const QStringList& telephone,
                                           const QStringList& email, const QStringList& urls,
                                           const QStringList& notes) {
    const auto part = [](const std::optional<QString>& s) { return s.value_or(QString()); };
    QString text = QStringLiteral("BEGIN:VCARD\nVERSION:3.0\n");
    text += QStringLiteral("N:") + part(name.lastName) + u';' + part(name.firstName) + u';' +
            part(name.additionalName) + u';' + part(name.namePrefix) + u';' + part(name.nameSuffix) + u'\n';
    text += QStringLiteral("FN:") + formattedName + u'\n';
    for (const auto& a : addresses) {
        text += QStringLiteral("ADR;TYPE=") + a.type + u':' + part(a.postOfficeAddress) + u';' +
                part(a.extendedAddress) + u';' + part(a.street) + u';' + part(a.locality) + u';' +
                part(a.region) + u';' + part(a.postalCode) + u';' + part(a.country) + u'\n';
    }
    if (organization)
        text += QStringLiteral("ORG:") + *organization + u'\n';
    if (title)
        text += QStringLiteral("TITLE:") + *title + u'\n';
    for (const auto& e : email)
        text += QStringLiteral("EMAIL:") + e + u'\n';
    for (const auto& t : telephone)
        text += QStringLiteral("TEL:") + t + u'\n';
    for (const auto& u : urls)
        text += QStringLiteral("URL:") + u + u'\n';
    static const QRegularExpression whitespace(QStringLiteral("\\s+"));
    for (QString note : notes) {
        note.replace(u',', QStringLiteral("\\,"));
        note.replace(whitespace, QStringLiteral(" "));
        text += QStringLiteral("NOTE:") + note + u'\n';
    }
    text += QStringLiteral("END:VCARD");
    m_data = utf8OrEmpty(text);
}
