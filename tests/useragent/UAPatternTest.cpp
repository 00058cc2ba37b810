#include "useragent/UAPattern.h"

#include <gtest/gtest.h>

namespace {

std::optional<QStringList> firstMatch(const char* pattern, const QString& text) {
    return UAPattern(QString::fromUtf8(pattern)).firstMatch(text);
}

// Constructs the rule tables rely on, where PCRE2's defaults and ICU would disagree or where a
// careless port would drop a feature.
TEST(UAPattern, AgreesWithIcu) {
    const std::tuple<const char*, const char*, bool> cases[] = {

        // ICU's classes: \w takes letters, marks, decimal digits and joiners of every script but
        // not superscripts; \s is \t\n\f\r and the Z category (no VT, no NEL); \b follows that \w.
        {"^\\w+$", "e\u0301\u200d", true},
        {"^\\w$", "\u00b2", false},
        {"^[\\w\\.]+$", "é.\u0301_", true},
        {"^a\\sb$", "a\vb", false},
        {"^a\\s+b$", "a\u0085b", false},
        {"e\\b", "e\u0301", false},
        {"^\\S\\W$", "a-", true},
        {"^\\w+$", "éü中ж", true},
        {"^\\d$", "\u0663", true},
        {"^a\\sb$", "a\u00a0b", true},
        {"^a\\sb$", "a\u2003b", true},
        {"\\bé", "x é", true},
        {"x\\b", "xé", false},
        // Case-insensitive everywhere, beyond ASCII too.
        {"ÉCLAIR", "un éclair", true},
        {"opera", "OPERA", true},
        {"(ab)\\1", "abAB", true},
        // `.` stops at every line terminator, not only at \n.
        {"a.b", "a\rb", false},
        {"a.b", "a\u2028b", false},
        {"a.b", "a\u0085b", false},
        // [A-z] spans the punctuation between Z and a.
        {"^[A-z]+$", "_^`[]\\", true},
        {"^[A-z]$", "{", false},
        // Look-ahead, negative look-ahead, a look-ahead that contradicts what follows.
        {"(ia32(?=;))", "ia32;", true},
        {"(ia32(?=;))", "ia32)", false},
        {"^ubuntu[\\/\\s-]?(?!chrom)([\\w\\.-]+)", "ubuntu 9.10", true},
        {"^ubuntu (?!chrom)\\w+", "ubuntu chromium", false},
        {"mac(?=_powerpc)\\s", "Mac_PowerPC", false},
        // Bounded repetition and escaped punctuation.
        {"^apple\\s{0,1}tv$", "appletv", true},
        {"^(Xtreme\\_?)\\:\\-$", "xtreme_:-", true},
        {"^a{2,3}$", "aaaa", false},
    };
    for (const auto& [pattern, text, expected] : cases)
        EXPECT_EQ(firstMatch(pattern, QString::fromUtf8(text)).has_value(), expected)
            << pattern << " on " << text;
}

TEST(UAPattern, CapturesFollowGroupsOrWholeMatch) {
    // A group that took no part gives an empty text but keeps its position.
    EXPECT_EQ(firstMatch("ip[honead]+(?:.*os\\s([\\w]+)\\slike\\smac|;\\sopera)(x)?", "(iPhone; Opera Mini)"),
              (QStringList{QString(), QString()}));
    // Without groups the whole (leftmost) match is the only capture.
    EXPECT_EQ(firstMatch("cfnetwork\\/.+darwin", "App/1 CFNetwork/758.2.8 Darwin/15.0.0"),
              QStringList{"CFNetwork/758.2.8 Darwin"});
    // A repeated group keeps its last iteration.
    EXPECT_EQ(firstMatch("(sunos)\\s?([\\w\\.]+\\d)*", "SunOS i86pc"), (QStringList{"SunOS", "i86"}));
    // A lazy quantifier takes the nearest match.
    EXPECT_EQ(firstMatch("version\\/([\\w\\.]+).+?(mobile\\s?safari|safari)",
                         "Version/4.0 Mobile Safari/533.1 Safari/9"),
              (QStringList{"4.0", "Mobile Safari"}));
    // A broken pattern never matches and replaces nothing.
    const UAPattern broken("(unclosed");
    EXPECT_FALSE(broken.isValid() || broken.firstMatch("(unclosed"));
    EXPECT_EQ(broken.replaceAll("keep", "x"), "keep");
}

TEST(UAPattern, ReplaceAllExpandsTemplates) {
    const std::tuple<const char*, const char*, const char*, const char*> cases[] = {
        {"(.+(?:g|us))(.+)", "SamsungBrowser", "$1 $2", "Samsung Browser"},
        {"(.+)", "Chrome", "$1 WebView", "Chrome WebView"},
        {"_", "10_15_7", ".", "10.15.7"},
        {"ower", "PowerPC", "", "PPC"},
        {"^", "2011", "SmartTV", "SmartTV2011"},
        {"\\.", "kin.one", " ", "kin one"},
        {"(a)(b)", "ab", "$12\\$1", "a2$1"},
    };
    for (const auto& [pattern, text, templ, expected] : cases)
        EXPECT_EQ(UAPattern(pattern).replaceAll(text, templ), expected) << pattern;
}

TEST(UAPattern, RunawayBacktrackingCountsAsNoMatch) {
    // Exponential without a cap: the test would hang instead of failing.
    const QString hostile = QString(9999, QLatin1Char('a')) + QLatin1Char('!');
    EXPECT_FALSE(firstMatch("^(\\w+\\s?)*$", hostile));
    // The same pattern still matches long input that does not need backtracking.
    EXPECT_EQ(firstMatch("^(\\w+\\s?)*$", QStringLiteral("ab ").repeated(3333)), QStringList{"ab "});
}

} // namespace
