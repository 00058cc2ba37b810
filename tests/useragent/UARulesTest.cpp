#include "useragent/UARules.h"
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

TEST(UAPattern, CapturesFollowGroupsOrWholeMatchAndReplaceAllExpandsTemplates) {
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

    // Replacements expand their templates.
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

using namespace ua;

// Every pattern of the tables compiles: a broken one would silently never match.
TEST(UARuleTables, EveryPatternCompiles) {
    for (const auto& table : {&browserRules, &cpuRules, &deviceRules, &engineRules, &osRules}) {
        for (const Rule& rule : table()) {
            for (const UAPattern& pattern : rule.regexp)
                EXPECT_TRUE(pattern.isValid()) << pattern.errorString().toStdString();
            for (const Funcs& f : rule.funcs)
                EXPECT_TRUE(f.kind != Funcs::Kind::rp || (f.pattern && f.pattern->isValid()));
        }
    }
}

// The matching rules themselves, on small tables built for the purpose.
Properties run(const std::vector<Rule>& rules, const QString& agent) {
    return matchRules(rules, agent).value_or(Properties{});
}

std::optional<QString> at(const Properties& p, Key key) {
    return p[static_cast<std::size_t>(key)];
}

TEST(UARuleMatching, FirstMatchingPatternEndsTheSearchEvenWhenItSetsNothing) {
    const std::vector<Rule> rules = {
        Rule({"nomatch", "(x)?agent"}, {Funcs::r(Key::Name)}),
        Rule({"agent"}, {Funcs::rf(Key::Name, "later rule")}),
    };
    EXPECT_FALSE(matchRules(rules, "some agent"));
    EXPECT_EQ(at(run(rules, "xagent"), Key::Name), "x");

    const std::vector<Rule> ordered = {
        Rule({"(b)", "(a)"}, {Funcs::r(Key::Name)}),
        Rule({"(a)"}, {Funcs::rf(Key::Name, "second rule")}),
    };
    // Patterns are tried in order, not by position in the text.
    EXPECT_EQ(at(run(ordered, "a b"), Key::Name), "b");
    EXPECT_EQ(at(run(ordered, "a"), Key::Name), "a");
}

TEST(UARuleMatching, AssignmentsWorkOnTheirPositions) {
    const std::vector<Rule> rules = {
        Rule({"(\\s*Name\\s*)/(\\S*)/(\\w+)"},
             {Funcs::r(Key::Name), Funcs::rf(Key::Vendor, "fixed"), Funcs::rp(Key::Version, "_", "."),
              Funcs::r(Key::Model), Funcs::rp(Key::Type, "^", "x"), Funcs::rf(Key::Arch, "past the end")})};
    const Properties p = run(rules, " Name /ignored/10_3_X ");
    // Name trimmed with its case kept, the capture "ignored" consumed by the fixed vendor, the version
    // replaced and lowercased, nothing for the model (no capture there) or for rp on an absent capture.
    EXPECT_EQ((std::vector{at(p, Key::Name), at(p, Key::Vendor), at(p, Key::Version), at(p, Key::Model),
                           at(p, Key::Type), at(p, Key::Arch)}),
              (std::vector<std::optional<QString>>{"Name", "fixed", "10.3.x", {}, {}, "past the end"}));

    const std::vector<Rule> empty = {
        Rule({"a(b?)(c?)"}, {Funcs::r(Key::Name), Funcs::rp(Key::Version, "z", "y")})};
    EXPECT_FALSE(matchRules(empty, "a")); // empty captures set nothing through r or rp
}

TEST(UARuleMatching, MappedKeysPickTheFirstListedEntryOrKeepTheCapture) {
    const std::vector<Rule> safari = {
        Rule({"safari(\\/[\\w\\.]+)"}, {Funcs::mp(Key::Version, oldSafariMap())})};
    const std::pair<const char*, const char*> versions[] = {
        {"Safari/85.8", "1.0"}, {"Safari/125.8", "1.2"},   {"Safari/312", "1.3"},
        {"Safari/412", "2.0"},  {"Safari/419.3", "2.0.4"}, {"Safari/522.11", "?"}};
    for (const auto& [agent, version] : versions)
        EXPECT_EQ(at(run(safari, QString::fromLatin1(agent)), Key::Version), QString::fromLatin1(version))
            << agent;

    const std::vector<Rule> sprint = {Rule({"(sprint\\s(\\w+))"}, {Funcs::mp(Key::Vendor, sprintVendorMap()),
                                                                   Funcs::mp(Key::Model, sprintModelMap())})};
    Properties p = run(sprint, "Sprint APA7373KT");
    EXPECT_EQ(*at(p, Key::Vendor) + '/' + *at(p, Key::Model), "HTC/Evo Shift 4G");
    p = run(sprint, "sprint ph-m");
    EXPECT_EQ(*at(p, Key::Vendor) + '/' + *at(p, Key::Model), "Sprint/ph");

    // No entry found: an already set key is kept, an unset one takes the capture as it is.
    const std::vector<Rule> windows = {
        Rule({"(nt)(\\s[\\d.]+)"}, {Funcs::rf(Key::Version, "set"), Funcs::mp(Key::Version, windowsOSMap())}),
        Rule({"win(\\s[\\d.]+)"}, {Funcs::mp(Key::Version, windowsOSMap())})};
    EXPECT_EQ(at(run(windows, "NT 9.9"), Key::Version), "set");
    EXPECT_EQ(at(run(windows, "Win 9.9"), Key::Version), " 9.9");
    EXPECT_EQ(at(run(windows, "Win 4.90"), Key::Version), "ME");
}

} // namespace
