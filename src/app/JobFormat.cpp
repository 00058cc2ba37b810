#include "app/JobFormat.h"

#include "core/Config.h"

#include <QLocale>

#include <cmath>

namespace JobFormat {

QString fileName(const QUrl& url, const QString& extension, const QDateTime& now) {
    QString name = url.fileName();
    if (name.isEmpty())
        name = applicationFolderName + QLatin1Char('_') + now.toString(fallbackTimeFormat);
    name.remove(extension, Qt::CaseInsensitive);
    return name;
}

QString encodedLocalPath(const QUrl& url) {
    // The decoded path, so that one decoding by the client gives back the file's own name even
    // when it contains "%" or spaces.
    QString text = QStringLiteral("file://") + url.toLocalFile();
    text.remove(QStringLiteral("file://"));
    // Everything outside the URL-query-allowed set: alphanumerics and !$&'()*+,-./:;=?@_~.
    return QString::fromLatin1(QUrl::toPercentEncoding(text, "!$&'()*+,/:;=?@"));
}

QString percentageText(double fraction) {
    const double rounded = std::round(fraction * 100 * 100) / 100;
    QString text = QString::number(rounded, 'f', QLocale::FloatingPointShortest);
    if (!text.contains(QLatin1Char('.')))
        text += QStringLiteral(".0");
    return text + QStringLiteral(" %");
}

QString encodeForInstallUrl(const QString& link) {
    static const QString kept = QStringLiteral("-_.!~*'()");
    QString out;
    for (const char32_t c : link.toUcs4()) {
        const QString character = QString::fromUcs4(&c, 1);
        const bool letterOrDigit = QChar::isLetterOrNumber(c) || QChar::isMark(c);
        if (letterOrDigit || (c < 128 && kept.contains(QChar(c)))) {
            out += character;
            continue;
        }
        for (const char byte : character.toUtf8())
            out += QStringLiteral("%%1").arg(uchar(byte), 2, 16, QLatin1Char('0')).toUpper();
    }
    return out;
}

QString installUrl(const QString& manifestLink) {
    return installUrlPrefix + encodeForInstallUrl(manifestLink);
}

QString productionBaseUrl() {
    QString url = Config::instance().value(ConfigKey::BackendBaseUrl);
    if (!url.endsWith(QLatin1Char('/')))
        url += QLatin1Char('/');
    return url;
}

} // namespace JobFormat
