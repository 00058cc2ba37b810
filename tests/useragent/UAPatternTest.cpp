#include "useragent/UAPattern.h"

#include <gtest/gtest.h>

namespace {

std::optional<QStringList> firstMatch(const char* pattern, const QString& text) {
    return UAPattern(QString::fromUtf8(pattern)).firstMatch(text);
}

bool matches(const char* pattern, const QString& text) {
    return firstMatch(pattern, text).has_value();
}

// Constructs the rule tables rely on, where PCRE2's defaults and ICU would disagree or where a
// careless port would drop a feature.
struct EngineCase {
    const char* pattern;
    const char* text;
    bool expected;
};

class UAPatternEngine : public ::testing::TestWithParam<EngineCase> {};

TEST_P(UAPatternEngine, AgreesWithIcu) {
    const EngineCase& c = GetParam();
    EXPECT_EQ(matches(c.pattern, QString::fromUtf8(c.text)), c.expected) << c.pattern << " on " << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Constructs, UAPatternEngine,
    ::testing::Values(
        // ICU's classes: \w takes letters, marks, decimal digits and joiners of every script but
        // not superscripts; \s is \t\n\f\r and the Z category (no VT, no NEL); \b follows that \w.
        EngineCase{"^\\w+$", "e\u0301\u200d", true}, EngineCase{"^\\w$", "\u00b2", false},
        EngineCase{"^[\\w\\.]+$", "é.\u0301_", true}, EngineCase{"^a\\sb$", "a\vb", false},
        EngineCase{"^a\\s+b$", "a\u0085b", false}, EngineCase{"e\\b", "e\u0301", false},
        EngineCase{"^\\S\\W$", "a-", true}, EngineCase{"^\\w+$", "éü中ж", true},
        EngineCase{"^\\d$", "\u0663", true}, EngineCase{"^a\\sb$", "a\u00a0b", true},
        EngineCase{"^a\\sb$", "a\u2003b", true}, EngineCase{"\\bé", "x é", true},
        EngineCase{"x\\b", "xé", false},
        // Case-insensitive everywhere, beyond ASCII too.
        EngineCase{"ÉCLAIR", "un éclair", true}, EngineCase{"opera", "OPERA", true},
        EngineCase{"(ab)\\1", "abAB", true},
        // `.` stops at every line terminator, not only at \n.
        EngineCase{"a.b", "a\rb", false}, EngineCase{"a.b", "a\u2028b", false},
        EngineCase{"a.b", "a\u0085b", false},
        // [A-z] spans the punctuation between Z and a.
        EngineCase{"^[A-z]+$", "_^`[]\\", true}, EngineCase{"^[A-z]$", "{", false},
        // Look-ahead, negative look-ahead, a look-ahead that contradicts what follows.
        EngineCase{"(ia32(?=;))", "ia32;", true}, EngineCase{"(ia32(?=;))", "ia32)", false},
        EngineCase{"^ubuntu[\\/\\s-]?(?!chrom)([\\w\\.-]+)", "ubuntu 9.10", true},
        EngineCase{"^ubuntu (?!chrom)\\w+", "ubuntu chromium", false},
        EngineCase{"mac(?=_powerpc)\\s", "Mac_PowerPC", false},
        // Bounded repetition and escaped punctuation.
        EngineCase{"^apple\\s{0,1}tv$", "appletv", true},
        EngineCase{"^(Xtreme\\_?)\\:\\-$", "xtreme_:-", true}, EngineCase{"^a{2,3}$", "aaaa", false}));

TEST(UAPattern, LazyQuantifierTakesTheNearestMatch) {
    const auto captures = firstMatch("version\\/([\\w\\.]+).+?(mobile\\s?safari|safari)",
                                     QStringLiteral("Version/4.0 Mobile Safari/533.1 Safari/9"));
    ASSERT_TRUE(captures);
    EXPECT_EQ(*captures, (QStringList{QStringLiteral("4.0"), QStringLiteral("Mobile Safari")}));
}

TEST(UAPattern, CapturesFollowGroupsOrWholeMatch) {
    // A group that took no part gives an empty text but keeps its position.
    const auto partial = firstMatch("ip[honead]+(?:.*os\\s([\\w]+)\\slike\\smac|;\\sopera)(x)?",
                                    QStringLiteral("(iPhone; Opera Mini)"));
    ASSERT_TRUE(partial);
    EXPECT_EQ(*partial, (QStringList{QString(), QString()}));
    // Without groups the whole (leftmost) match is the only capture.
    const auto whole =
        firstMatch("cfnetwork\\/.+darwin", QStringLiteral("App/1 CFNetwork/758.2.8 Darwin/15.0.0"));
    ASSERT_TRUE(whole);
    EXPECT_EQ(*whole, QStringList{QStringLiteral("CFNetwork/758.2.8 Darwin")});
    // A repeated group keeps its last iteration.
    const auto repeated = firstMatch("(sunos)\\s?([\\w\\.]+\\d)*", QStringLiteral("SunOS i86pc"));
    ASSERT_TRUE(repeated);
    EXPECT_EQ(repeated->at(1), QStringLiteral("i86"));
}

TEST(UAPattern, BrokenPatternNeverMatches) {
    const UAPattern broken(QStringLiteral("(unclosed"));
    EXPECT_FALSE(broken.isValid());
    EXPECT_FALSE(broken.firstMatch(QStringLiteral("(unclosed")));
    EXPECT_EQ(broken.replaceAll(QStringLiteral("keep"), QStringLiteral("x")), QStringLiteral("keep"));
}

TEST(UAPattern, ReplaceAllExpandsTemplates) {
    struct Case {
        const char* pattern;
        const char* text;
        const char* templ;
        const char* expected;
    };
    const Case cases[] = {
        {"(.+(?:g|us))(.+)", "SamsungBrowser", "$1 $2", "Samsung Browser"},
        {"(.+)", "Chrome", "$1 WebView", "Chrome WebView"},
        {"_", "10_15_7", ".", "10.15.7"},
        {"ower", "PowerPC", "", "PPC"},
        {"^", "2011", "SmartTV", "SmartTV2011"},
        {"\\.", "kin.one", " ", "kin one"},
        {"(a)(b)", "ab", "$12\\$1", "a2$1"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UAPattern(QString::fromUtf8(c.pattern))
                      .replaceAll(QString::fromUtf8(c.text), QString::fromUtf8(c.templ)),
                  QString::fromUtf8(c.expected))
            << c.pattern;
    }
}

TEST(UAPattern, RunawayBacktrackingCountsAsNoMatch) {
    // Exponential without a cap: the test would hang instead of failing.
    const QString hostile = QString(9999, QLatin1Char('a')) + QLatin1Char('!');
    EXPECT_FALSE(firstMatch("^(\\w+\\s?)*$", hostile));
    // The same pattern still matches long input that does not need backtracking.
    const QString benign = QStringLiteral("ab ").repeated(3333);
    const auto captures = firstMatch("^(\\w+\\s?)*$", benign);
    ASSERT_TRUE(captures);
    EXPECT_EQ(captures->at(0), QStringLiteral("ab "));
}

} // namespace
