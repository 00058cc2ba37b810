#include "qrcode/QRCodeNumbers.h"

#include <QLocale>

#include <cmath>

namespace qrnumbers {

QString shortest(double value) {
    QString text = QString::number(value, 'g', QLocale::FloatingPointShortest);
    if (std::isfinite(value) && !text.contains(u'.') && !text.contains(u'e'))
        text += QStringLiteral(".0");
    return text;
}

QString fourDigits(double value) {
    if (!std::isfinite(value))
        return QStringLiteral("0");
    QString text = QString::number(value, 'f', 4);
    while (text.endsWith(u'0'))
        text.chop(1);
    if (text.endsWith(u'.'))
        text.chop(1);
    if (text == QLatin1String("-0"))
        return QStringLiteral("0");
    return text;
}

bool parseStrict(const QString& text, double* value) {
    if (text.isEmpty() || text.trimmed().size() != text.size())
        return false;
    bool ok = false;
    const double v = QLocale::c().toDouble(text, &ok);
    if (!ok || std::isnan(v))
        return false;
    *value = v;
    return true;
}

} // namespace qrnumbers
