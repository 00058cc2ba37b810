#include "useragent/UAPattern.h"

namespace {

// ICU's classes, which differ from PCRE2's Unicode ones: \w also takes combining marks and the
// joiners but not superscript digits, \s leaves out VT and NEL.
const QString icuWord = QStringLiteral(R"(\p{Alphabetic}\p{M}\p{Nd}\p{Pc}\x{200c}\x{200d})");
const QString icuSpace = QStringLiteral(R"(\t\n\f\r\p{Z})");

// Rewrites \w \W \s \S and \b with ICU's definitions. Inside a bracket class only \w and \s occur
// in the tables; they are spliced in as class members.
QString icuClasses(const QString& source) {
    const QString word = QLatin1Char('[') + icuWord + QLatin1Char(']');
    const QString boundary = QStringLiteral("(?:(?<=%1)(?!%1)|(?<!%1)(?=%1))").arg(word);
    QString out;
    out.reserve(source.size() * 2);
    bool inClass = false;
    for (qsizetype i = 0; i < source.size(); ++i) {
        const QChar c = source.at(i);
        if (c != QLatin1Char('\\') || i + 1 == source.size()) {
            if (c == QLatin1Char('['))
                inClass = true;
            else if (c == QLatin1Char(']'))
                inClass = false;
            out += c;
            continue;
        }
        const QChar next = source.at(++i);
        const bool negated = next == QLatin1Char('W') || next == QLatin1Char('S');
        const QString* members = nullptr;
        if (next == QLatin1Char('w') || next == QLatin1Char('W'))
            members = &icuWord;
        else if (next == QLatin1Char('s') || next == QLatin1Char('S'))
            members = &icuSpace;
        if (members && inClass && !negated)
            out += *members;
        else if (members && !inClass)
            out += (negated ? QStringLiteral("[^") : QStringLiteral("[")) + *members + QLatin1Char(']');
        else if (next == QLatin1Char('b') && !inClass)
            out += boundary;
        else
            out += QLatin1Char('\\') + next;
    }
    return out;
}

QString compiledForm(const QString& source) {
    // (*ANY): every Unicode line terminator ends `.`, as in ICU. The limit verb can only lower
    // PCRE2's built-in default (ten million steps), which a 10,000-character agent would reach
    // after a noticeable pause on each of several patterns.
    return QStringLiteral("(*ANY)(*LIMIT_MATCH=%1)").arg(UAPattern::matchLimit) + icuClasses(source);
}

} // namespace

UAPattern::UAPattern(const QString& source)
    : m_source(source), m_re(compiledForm(source), QRegularExpression::CaseInsensitiveOption |
                                                       QRegularExpression::UseUnicodePropertiesOption) {
    // Compile (and JIT) now, so that instances shared between threads are never compiled lazily.
    m_re.optimize();
}

std::optional<QStringList> UAPattern::firstMatch(const QString& text) const {
    if (!m_re.isValid())
        return std::nullopt;
    const QRegularExpressionMatch match = m_re.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const int groups = m_re.captureCount();
    QStringList captures;
    if (groups == 0) {
        captures.append(match.captured(0));
        return captures;
    }
    captures.reserve(groups);
    for (int i = 1; i <= groups; ++i)
        captures.append(match.captured(i)); // null, hence empty, for a group that took no part
    return captures;
}

QString UAPattern::replaceAll(const QString& text, const QString& templ) const {
    if (!m_re.isValid())
        return text;
    QString result;
    qsizetype copied = 0;
    QRegularExpressionMatchIterator it = m_re.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        result += QStringView(text).mid(copied, match.capturedStart(0) - copied);
        for (qsizetype i = 0; i < templ.size(); ++i) {
            const QChar c = templ.at(i);
            if (c == QLatin1Char('\\') && i + 1 < templ.size()) {
                result += templ.at(++i);
            } else if (c == QLatin1Char('$') && i + 1 < templ.size() && templ.at(i + 1).isDigit()) {
                // Greedy digits, but never past the number of groups the pattern has.
                int group = templ.at(++i).digitValue();
                while (i + 1 < templ.size() && templ.at(i + 1).isDigit() &&
                       group * 10 + templ.at(i + 1).digitValue() <= m_re.captureCount())
                    group = group * 10 + templ.at(++i).digitValue();
                result += match.captured(group);
            } else {
                result += c;
            }
        }
        copied = match.capturedEnd(0);
    }
    result += QStringView(text).mid(copied);
    return result;
}
