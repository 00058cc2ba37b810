#include "core/Crash.h"

namespace {
QString textOrEmpty(const QVariantMap& map, const QString& key) {
    const QVariant v = map.value(key);
    return v.typeId() == QMetaType::QString ? v.toString() : QString();
}
} // namespace

Crash::Crash(const QVariantMap& stored)
    : name(textOrEmpty(stored, QStringLiteral("name"))),
      reason(textOrEmpty(stored, QStringLiteral("reason"))),
      exception(textOrEmpty(stored, QStringLiteral("exception"))) {
    const QVariant stack = stored.value(QStringLiteral("callStackSymbols"));
    if (stack.typeId() == QMetaType::QStringList) {
        callStackSymbols = stack.toStringList();
    } else if (stack.typeId() == QMetaType::QVariantList) {
        for (const QVariant& line : stack.toList())
            callStackSymbols.append(line.toString());
    } else {
        callStackSymbols = QStringList{QString()};
    }
}

QVariantMap Crash::toDictionary() const {
    return {{QStringLiteral("name"), name},
            {QStringLiteral("reason"), reason},
            {QStringLiteral("exception"), exception},
            {QStringLiteral("callStackSymbols"), callStackSymbols}};
}

QString Crash::callStackText() const {
    QString out = QStringLiteral("[");
    for (int i = 0; i < callStackSymbols.size(); ++i) {
        if (i)
            out += QStringLiteral(", ");
        out += QLatin1Char('"');
        for (QChar c : callStackSymbols[i]) {
            if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
                out += QLatin1Char('\\') + c;
            else if (c == QLatin1Char('\n'))
                out += QStringLiteral("\\n");
            else if (c == QLatin1Char('\r'))
                out += QStringLiteral("\\r");
            else if (c == QLatin1Char('\t'))
                out += QStringLiteral("\\t");
            else if (c.unicode() < 0x20)
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
        out += QLatin1Char('"');
    }
    return out + QLatin1Char(']');
}
