#include "useragent/UARules.h"

#include <gtest/gtest.h>

namespace {

using namespace ua;

struct TableShape {
    const char* name;
    const std::vector<Rule>& (*table)();
    std::size_t rules;
    std::size_t patterns;
};

class UARuleTables : public ::testing::TestWithParam<TableShape> {};

TEST_P(UARuleTables, HaveEveryRuleAndPatternAndAllCompile) {
    const TableShape& shape = GetParam();
    const std::vector<Rule>& rules = shape.table();
    EXPECT_EQ(rules.size(), shape.rules);
    std::size_t patterns = 0;
    for (std::size_t i = 0; i < rules.size(); ++i) {
        EXPECT_FALSE(rules[i].regexp.empty()) << shape.name << " rule " << i + 1;
        EXPECT_FALSE(rules[i].funcs.empty()) << shape.name << " rule " << i + 1;
        for (const UAPattern& pattern : rules[i].regexp) {
            ++patterns;
            EXPECT_TRUE(pattern.isValid())
                << pattern.source().toStdString() << ": " << pattern.errorString().toStdString();
        }
        for (const Funcs& f : rules[i].funcs) {
            if (f.kind == Funcs::Kind::rp) {
                EXPECT_TRUE(f.pattern && f.pattern->isValid()) << shape.name << " rule " << i + 1;
            } else if (f.kind == Funcs::Kind::mp) {
                EXPECT_NE(f.table, nullptr);
            }
        }
    }
    EXPECT_EQ(patterns, shape.patterns) << shape.name;
}

INSTANTIATE_TEST_SUITE_P(All, UARuleTables,
                         ::testing::Values(TableShape{"browser", &browserRules, 31, 48},
                                           TableShape{"cpu", &cpuRules, 7, 7},
                                           TableShape{"device", &deviceRules, 74, 101},
                                           TableShape{"engine", &engineRules, 3, 6},
                                           TableShape{"os", &osRules, 16, 31}));

// The matching rules themselves, on small tables built for the purpose.
Properties run(const std::vector<Rule>& rules, const QString& agent) {
    return matchRules(rules, agent).value_or(Properties{});
}

std::optional<QString> at(const Properties& p, Key key) {
    return p[static_cast<std::size_t>(key)];
}

TEST(UARuleMatching, FirstMatchingPatternEndsTheSearchEvenWhenItSetsNothing) {
    const std::vector<Rule> rules = {
        Rule({QStringLiteral("nomatch"), QStringLiteral("(x)?agent")}, {Funcs::r(Key::Name)}),
        Rule({QStringLiteral("agent")}, {Funcs::rf(Key::Name, QStringLiteral("later rule"))}),
    };
    EXPECT_FALSE(matchRules(rules, QStringLiteral("some agent")));
    EXPECT_EQ(at(run(rules, QStringLiteral("xagent")), Key::Name), QStringLiteral("x"));

    const std::vector<Rule> ordered = {
        Rule({QStringLiteral("(b)"), QStringLiteral("(a)")}, {Funcs::r(Key::Name)}),
        Rule({QStringLiteral("(a)")}, {Funcs::rf(Key::Name, QStringLiteral("second rule"))}),
    };
    // Patterns are tried in order, not by position in the text.
    EXPECT_EQ(at(run(ordered, QStringLiteral("a b")), Key::Name), QStringLiteral("b"));
    EXPECT_EQ(at(run(ordered, QStringLiteral("a")), Key::Name), QStringLiteral("a"));
}

TEST(UARuleMatching, AssignmentsWorkOnTheirPositions) {
    const std::vector<Rule> rules = {
        Rule({QStringLiteral("(\\s*Name\\s*)/(\\S*)/(\\w+)")},
             {Funcs::r(Key::Name), Funcs::rf(Key::Vendor, QStringLiteral("fixed")),
              Funcs::rp(Key::Version, QStringLiteral("_"), QStringLiteral(".")), Funcs::r(Key::Model),
              Funcs::rp(Key::Type, QStringLiteral("^"), QStringLiteral("x")),
              Funcs::rf(Key::Arch, QStringLiteral("past the end"))})};
    const Properties p = run(rules, QStringLiteral(" Name /ignored/10_3_X "));
    EXPECT_EQ(at(p, Key::Name), QStringLiteral("Name"));      // trimmed, case kept
    EXPECT_EQ(at(p, Key::Vendor), QStringLiteral("fixed"));   // capture "ignored" consumed
    EXPECT_EQ(at(p, Key::Version), QStringLiteral("10.3.x")); // replaced, lowercased
    EXPECT_FALSE(at(p, Key::Model));                          // no capture at that position
    EXPECT_FALSE(at(p, Key::Type));                           // rp on an absent capture
    EXPECT_EQ(at(p, Key::Arch), QStringLiteral("past the end"));

    const std::vector<Rule> empty = {
        Rule({QStringLiteral("a(b?)(c?)")},
             {Funcs::r(Key::Name), Funcs::rp(Key::Version, QStringLiteral("z"), QStringLiteral("y"))})};
    EXPECT_FALSE(matchRules(empty, QStringLiteral("a"))); // empty captures set nothing through r or rp
}

TEST(UARuleMatching, MappedKeysPickTheFirstListedEntryOrKeepTheCapture) {
    const std::vector<Rule> safari = {
        Rule({QStringLiteral("safari(\\/[\\w\\.]+)")}, {Funcs::mp(Key::Version, oldSafariMap())})};
    const std::pair<const char*, const char*> versions[] = {
        {"Safari/85.8", "1.0"}, {"Safari/125.8", "1.2"},   {"Safari/312", "1.3"},
        {"Safari/412", "2.0"},  {"Safari/419.3", "2.0.4"}, {"Safari/522.11", "?"}};
    for (const auto& [agent, version] : versions)
        EXPECT_EQ(at(run(safari, QString::fromLatin1(agent)), Key::Version), QString::fromLatin1(version))
            << agent;

    const std::vector<Rule> sprint = {
        Rule({QStringLiteral("(sprint\\s(\\w+))")},
             {Funcs::mp(Key::Vendor, sprintVendorMap()), Funcs::mp(Key::Model, sprintModelMap())})};
    Properties p = run(sprint, QStringLiteral("Sprint APA7373KT"));
    EXPECT_EQ(at(p, Key::Vendor), QStringLiteral("HTC"));
    EXPECT_EQ(at(p, Key::Model), QStringLiteral("Evo Shift 4G"));
    p = run(sprint, QStringLiteral("sprint ph-m"));
    EXPECT_EQ(at(p, Key::Vendor), QStringLiteral("Sprint"));
    EXPECT_EQ(at(p, Key::Model), QStringLiteral("ph"));

    // No entry found: an already set key is kept, an unset one takes the capture as it is.
    const std::vector<Rule> windows = {
        Rule({QStringLiteral("(nt)(\\s[\\d.]+)")},
             {Funcs::rf(Key::Version, QStringLiteral("set")), Funcs::mp(Key::Version, windowsOSMap())}),
        Rule({QStringLiteral("win(\\s[\\d.]+)")}, {Funcs::mp(Key::Version, windowsOSMap())})};
    EXPECT_EQ(at(run(windows, QStringLiteral("NT 9.9")), Key::Version), QStringLiteral("set"));
    EXPECT_EQ(at(run(windows, QStringLiteral("Win 9.9")), Key::Version), QStringLiteral(" 9.9"));
    EXPECT_EQ(at(run(windows, QStringLiteral("Win 4.90")), Key::Version), QStringLiteral("ME"));
}

} // namespace
