#include "server/pages/ReleaseNotes.h"

#include "server/pages/InstallPage.h"

#include <QRegularExpression>
#include <QUrl>

namespace {

// Line breaks as "\n"; other control characters dropped (a browser shows them as boxes, or not
// at all).
QString normalised(const QString& notes) {
    QString out;
    out.reserve(notes.size());
    for (qsizetype i = 0; i < notes.size(); ++i) {
        const QChar c = notes.at(i);
        if (c == QLatin1Char('\r')) {
            out += QLatin1Char('\n');
            if (i + 1 < notes.size() && notes.at(i + 1) == QLatin1Char('\n'))
                ++i;
        } else if (c == QLatin1Char('\n') || c == QLatin1Char('\t') ||
                   (c.unicode() >= 0x20 && c.unicode() != 0x7f)) {
            out += c;
        }
    }
    return out;
}

// Sentence punctuation after a URL is not part of it; a closing bracket is when the URL opened one.
QString withoutTrailingPunctuation(QString url) {
    while (!url.isEmpty()) {
        const QChar last = url.back();
        const bool unbalanced =
            (last == QLatin1Char(')') && url.count(QLatin1Char(')')) > url.count(QLatin1Char('('))) ||
            (last == QLatin1Char(']') && url.count(QLatin1Char(']')) > url.count(QLatin1Char('[')));
        if (!unbalanced && !QStringLiteral(".,;:!?").contains(last))
            break;
        url.chop(1);
    }
    return url;
}

bool isWebLink(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty();
}

} // namespace

QString releaseNotesHtml(const QString& notes) {
    static const QRegularExpression candidate(QStringLiteral("https?://[^\\s<>\"'`]+"),
                                              QRegularExpression::CaseInsensitiveOption);
    const QString text = normalised(notes);
    QString out;
    qsizetype at = 0;
    for (QRegularExpressionMatchIterator it = candidate.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const QString url = withoutTrailingPunctuation(match.captured());
        out += htmlEscape(text.mid(at, match.capturedStart() - at));
        if (isWebLink(url))
            out += QStringLiteral("<a href=\"%1\" rel=\"noopener noreferrer\">%1</a>").arg(htmlEscape(url));
        else
            out += htmlEscape(url);
        at = match.capturedStart() + url.size();
    }
    return out + htmlEscape(text.mid(at));
}

QString releaseNotesSection(const QString& notes) {
    if (notes.trimmed().isEmpty())
        return {};
    return QStringLiteral("<div class=\"notes\" id=\"notes\"><h2>Release notes</h2><p>%1</p></div>")
        .arg(releaseNotesHtml(notes.trimmed()));
}

QString releaseNotesFirstLine(const QString& notes) {
    constexpr qsizetype kLength = 100;
    for (const QString& line : normalised(notes).split(QLatin1Char('\n'))) {
        const QString text = line.simplified();
        if (text.isEmpty())
            continue;
        if (text.size() <= kLength)
            return text;
        // Never half of a surrogate pair.
        qsizetype cut = kLength;
        if (text.at(cut - 1).isHighSurrogate())
            --cut;
        return text.left(cut) + QStringLiteral("…");
    }
    return {};
}

QString releaseNotesStyle() {
    return QStringLiteral(
        ".notes{text-align:left;margin:16px 0}.notes h2{font-size:1rem;margin:0 0 4px}"
        ".notes p{margin:0;white-space:pre-wrap;overflow-wrap:anywhere}.notes a{color:var(--accent)}");
}
