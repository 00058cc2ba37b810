#include "useragent/UARules.h"

#include <gtest/gtest.h>

namespace {

using namespace ua;

// Every pattern of the tables compiles: a broken one would silently never match.
TEST(UARuleTables, EveryPatternCompiles) {
    for (const auto& table : {&browserRules, &cpuRules, &deviceRules, &engineRules, &osRules}) {
        for (const Rule& rule : table()) {
            EXPECT_FALSE(rule.regexp.empty() || rule.funcs.empty());
            for (const UAPattern& pattern : rule.regexp)
                EXPECT_TRUE(pattern.isValid()) << pattern.errorString().toStdString();
            for (const Funcs& f : rule.funcs)
                EXPECT_TRUE(f.kind == Funcs::Kind::rp   ? f.pattern && f.pattern->isValid()
                            : f.kind == Funcs::Kind::mp ? f.table != nullptr
                                                        : true);
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
