#pragma once

#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <optional>

// One pattern of the user-agent rule tables. The tables were written for ICU regular expressions;
// this compiles them with PCRE2 set up to agree with ICU where the two differ: case-insensitive
// with Unicode case folding, \w \s \d \b with ICU's Unicode definitions (\w and \s are rewritten
// into ICU's property classes), and `.` stopping at every line terminator.
// Matching is capped so that a hostile agent cannot make a pattern backtrack for seconds; a match
// cut off by the cap counts as no match.
class UAPattern {
public:
    explicit UAPattern(const QString& source);

    const QString& source() const { return m_source; }
    // A pattern that does not compile never matches.
    bool isValid() const { return m_re.isValid(); }
    QString errorString() const { return m_re.errorString(); }

    // The captures of the leftmost match: groups 1..n in order, a group that took no part giving an
    // empty text, or the whole match when the pattern has no groups. Empty when there is no match.
    std::optional<QStringList> firstMatch(const QString& text) const;

    // Every match in text replaced by templ, where "$n" stands for group n and a backslash makes the
    // next character literal.
    QString replaceAll(const QString& text, const QString& templ) const;

    // Backtracking steps one search may take before it is abandoned.
    static constexpr int matchLimit = 200000;

private:
    QString m_source;
    QRegularExpression m_re;
};
